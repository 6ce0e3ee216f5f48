#pragma once

#include <QString>

namespace Platform {

// Software updates. On Linux the program is updated with the package that installed it, by the
// system's package manager, so there is no updater to start: it stays inert and a request to
// check says where updates come from.
class Updater final
{
public:
    void start() { m_started = true; }
    bool isStarted() const { return m_started; }
    // What the user is told when asking for updates, in the interface language.
    QString checkForUpdates() const;

private:
    bool m_started = false;
};

} // namespace Platform
