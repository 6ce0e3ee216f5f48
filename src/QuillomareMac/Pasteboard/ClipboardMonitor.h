#pragma once

#include <Platform/Pasteboard.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/SensitiveContentDetector.h>

#include <QDateTime>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>


namespace QuillomareMac {

// Watches the general pasteboard's change count and turns every change into one capture result:
// an entry, or the reason nothing was recorded. It reads only the store's settings. After each
// write of its own the owner sets lastChangeCount to the pasteboard's new count: that alone keeps
// the program from capturing itself.
//
// The pasteboard's change notice brings a look at once, queued behind whatever the GUI thread is
// doing, so that an own write has always been marked by the time the look comes. The 0.55 s poll
// stays as the fallback for a notice that never comes. A change that leaves the pasteboard empty
// (its owner quit) is consumed without a result.
//
// The pasteboard is read on the GUI thread, at the look that sees the change, and only in the
// formats the capture needs; hashing, the sensitive-content rules and image decoding then run on
// a worker thread, so that a megabyte of text or a large image never holds the GUI thread (which
// must keep answering other programs while we own the clipboard). An image's bytes, megabytes
// from another program, are fetched by the worker too when the pasteboard allows it; a change
// that a newer one overtook during that fetch gives no result (the newer one gives its own), and
// the fetch stops as soon as the newer copy comes. Another program's copy is bounded: a text over
// the history's text limit or an image over its image limit is refused as soon as the transfer
// passes the limit, and an owner that trickles its data is given up at the transfer's deadline;
// both give a reason. Quitting ends a transfer in progress at once.
// Results reach onCapture on the GUI thread, one per change, in the order of the changes.
class ClipboardMonitor final : public QObject
{
    Q_OBJECT

public:
    static constexpr int pollIntervalMilliseconds = 550;

    ClipboardMonitor(Platform::Pasteboard& pasteboard, QuillomareCore::ClipboardStore& store,
                     const QuillomareCore::SensitiveContentDetector& detector, Platform::Workspace& workspace,
                     QObject* parent = nullptr);
    ~ClipboardMonitor() override;

    std::function<void(const QuillomareCore::ClipboardCaptureResult&)> onCapture;

    bool isRunning() const { return m_isRunning; }
    void start();
    void stop();

    qint64 lastChangeCount() const { return m_lastChangeCount; }
    void setLastChangeCount(qint64 changeCount) { m_lastChangeCount = changeCount; }

    // One look at the pasteboard; the timer calls it every 0.55 s while running, and each change
    // notice once more.
    void poll();
    // Tests: a fallback poll so rare that only change notices can explain a capture.
    void setPollIntervalForTesting(int milliseconds) { m_timer.setInterval(milliseconds); }
    // Blocks until every change seen so far has been turned into a result and handed on.
    void waitForPendingCaptures();

    // A web or mail link ("http", "https", "mailto" in any case), trimmed; nothing otherwise.
    static std::optional<QUrl> detectURL(const QString& text);
    // One line, at most 180 user-perceived characters ("..." after the first 177).
    static QString textPreview(const QString& text);
    // A list of copied files: the file's name (its path when the name is blank), or "N files".
    static QString filesPreview(const QStringList& paths);
    // "Image · " and the image's size.
    static QString imagePreview(qsizetype byteCount);
    // What a capture of this content shows in the list: the preview always follows from the
    // content, so an entry made elsewhere cannot show other words (nor an unbounded text).
    static QString previewOf(const QuillomareCore::ClipboardPayload& payload, bool isSensitive);

    // What one change put on the pasteboard, read on the GUI thread.
    struct PasteboardContents
    {
        enum class Kind
        {
            empty,
            // Another program's copy, all of it left to the worker's reader.
            unread,
            ignoredSource,
            // Too large, or its owner too slow: ignoredReason says which.
            refused,
            files,
            text,
            image,
            unsupported
        } kind = Kind::unsupported;
        QString ignoredReason;
        QList<QUrl> fileURLs;
        QString text;
        QByteArray imageData;
        QString imageType;
        // How the worker reads an unread copy.
        Platform::Pasteboard::BackgroundReader backgroundReader;
        std::optional<Platform::RunningApplication> application;
        QDateTime capturedAt;
        QuillomareCore::ClipSettings settings;
    };
    // The result for what was read; touches neither the pasteboard nor the store, so it may run
    // on any thread.
    static QuillomareCore::ClipboardCaptureResult
    captureResult(const PasteboardContents& contents, const QuillomareCore::SensitiveContentDetector& detector);

private:
    PasteboardContents readPasteboard() const;
    static bool readInBackground(PasteboardContents& contents);
    void checkSoon();

    Platform::Pasteboard& m_pasteboard;
    QuillomareCore::ClipboardStore& m_store;
    Platform::Workspace& m_workspace;
    // The worker's own: the detector's expressions are then never shared between threads.
    const QuillomareCore::SensitiveContentDetector m_workerDetector;
    QThreadPool m_worker;
    QTimer m_timer;
    bool m_isRunning = false;
    bool m_checkQueued = false;
    qint64 m_lastChangeCount = 0;
};

} // namespace QuillomareMac
