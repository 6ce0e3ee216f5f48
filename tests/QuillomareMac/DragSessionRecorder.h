#pragma once

// Drags that views start, kept instead of run: a real drag would wait in its own event loop for a
// drop that never comes. Each session is the list of items it would carry.

#include "History/HistoryDragSession.h"

#include <QList>

namespace QuillomareTest {

inline void recordDragSessions(QList<QList<QuillomareMac::DraggingItem>>& sessions)
{
    sessions.clear();
    QuillomareMac::HistoryDragSession::setStarterForTesting([&sessions](QWidget*,
                                                                        const QList<QuillomareMac::DraggingItem>& items,
                                                                        const QPixmap&) { sessions.append(items); });
}

inline void stopRecordingDragSessions()
{
    QuillomareMac::HistoryDragSession::setStarterForTesting(nullptr);
}

} // namespace QuillomareTest
