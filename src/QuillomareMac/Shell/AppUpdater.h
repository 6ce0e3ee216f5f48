#pragma once

#include <Platform/Updater.h>

namespace QuillomareMac {

// The one update controller of the process, made and started at launch.
class AppUpdater final
{
public:
    static AppUpdater& shared();
    Platform::Updater& controller() { return m_controller; }

private:
    AppUpdater() { m_controller.start(); }
    Platform::Updater m_controller;
};

} // namespace QuillomareMac
