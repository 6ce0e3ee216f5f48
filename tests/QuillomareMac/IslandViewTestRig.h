#pragma once

// The island view on a canvas of the expanded island's size, with the manual clock, English
// texts and motion on; everything is put back when the rig goes.

#include "Island/IslandScheduler.h"
#include "Island/IslandView.h"
#include "Shell/Localization.h"

#include <Platform/MotionPreferences.h>

#include <QWidget>

#include <memory>

namespace QuillomareTest {

struct IslandViewTestRig
{
    explicit IslandViewTestRig(const QRect& frame)
    {
        QuillomareMac::L10n::setIsChineseForTesting(false);
        QuillomareMac::IslandScheduler::setSharedForTesting(scheduler);
        Platform::MotionPreferences::setReduceMotionForTesting(false);
        canvas->resize(780, 430);
        view = new QuillomareMac::IslandView(frame, canvas.get());
    }

    ~IslandViewTestRig()
    {
        canvas.reset();
        // Pending animation frames and delays run out against a view that is gone.
        scheduler->advance(5000);
        Platform::MotionPreferences::setReduceMotionForTesting(std::nullopt);
        QuillomareMac::IslandScheduler::setSharedForTesting(nullptr);
    }

    IslandViewTestRig(const IslandViewTestRig&) = delete;
    IslandViewTestRig& operator=(const IslandViewTestRig&) = delete;

    std::shared_ptr<QuillomareMac::ManualIslandScheduler> scheduler =
        std::make_shared<QuillomareMac::ManualIslandScheduler>();
    std::unique_ptr<QWidget> canvas = std::make_unique<QWidget>();
    QuillomareMac::IslandView* view = nullptr;
};

} // namespace QuillomareTest
