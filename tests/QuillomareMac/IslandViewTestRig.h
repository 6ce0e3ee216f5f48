#pragma once

// The island view on a canvas of the expanded island's size, with the manual clock, motion on and
// the texts in English (or Chinese); everything is put back when the rig goes.

#include "Island/Kit/IslandScheduler.h"
#include "Island/IslandView.h"

#include <Platform/MotionPreferences.h>
#include <QuillomareCore/Language.h>

#include <QWidget>

#include <memory>

namespace QuillomareTest {

struct IslandViewTestRig
{
    explicit IslandViewTestRig(const QRect& frame, bool chinese = false)
    {
        QuillomareCore::Language::setIsChineseForTesting(chinese);
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

    // The expanded island on the whole canvas, switched to at once.
    void expand() const
    {
        view->setDisplayMode(QuillomareMac::IslandView::DisplayMode::expanded, false);
        view->setGeometry(0, 0, 780, 430);
    }

    IslandViewTestRig(const IslandViewTestRig&) = delete;
    IslandViewTestRig& operator=(const IslandViewTestRig&) = delete;

    std::shared_ptr<QuillomareMac::ManualIslandScheduler> scheduler =
        std::make_shared<QuillomareMac::ManualIslandScheduler>();
    std::unique_ptr<QWidget> canvas = std::make_unique<QWidget>();
    QuillomareMac::IslandView* view = nullptr;
};

} // namespace QuillomareTest
