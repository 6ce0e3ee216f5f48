#pragma once

#include "Pasteboard.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace Platform {

// The general pasteboard on the X11 CLIPBOARD selection, through QClipboard. X11 has no change
// count, so one is kept here and bumped on every change Qt reports, and the change observer is
// told; Qt reports our own writes synchronously, inside the write, so the count read right after
// a write is that write's.
// GUI thread only. While we own the selection, other programs read it from our event loop:
// nothing here may block that loop.
class X11Pasteboard final : public QObject, public QAbstractNativeEventFilter, public Pasteboard
{
    Q_OBJECT

public:
    explicit X11Pasteboard(QClipboard::Mode mode = QClipboard::Clipboard, QObject* parent = nullptr);
    ~X11Pasteboard() override;

    qint64 changeCount() const override { return m_changeCount; }
    QStringList types() const override;
    std::optional<QByteArray> data(const QString& type) const override;
    QList<PasteboardItem> pasteboardItems() const override;
    // Reads the selection on a private X connection, INCR transfers included; only on the xcb
    // platform.
    BackgroundReader backgroundReader() const override;
    void cancelBackgroundReads() override;
    // How long one reader's reads may take together.
    static constexpr int transferDeadlineMilliseconds = 10'000;
    // Tests: a shorter deadline, for readers made from now on.
    void setTransferDeadlineForTesting(int milliseconds) { m_transferDeadline = milliseconds; }

    qint64 clearContents() override;
    // A write that does not win the selection leaves it, whole, with its owner.
    bool keepsContentsWhenAWriteFails() const override { return true; }
    void startNewContents() override { m_pending = PasteboardItem(); }
    bool setData(const QByteArray& data, const QString& type) override;
    bool writeItems(const QList<PasteboardItem>& items) override;

    // Notes the selection's owner that each change announces.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool publish();
    bool serverNamesUsOwner() const;

    QClipboard::Mode m_mode;
    qint64 m_changeCount = 0;
    // The count again, for readers on other threads.
    std::shared_ptr<std::atomic<qint64>> m_sharedChangeCount = std::make_shared<std::atomic<qint64>>(0);
    // Bumped to end the reads in progress.
    std::shared_ptr<std::atomic<qint64>> m_cancelGeneration = std::make_shared<std::atomic<qint64>>(0);
    int m_transferDeadline = transferDeadlineMilliseconds;
    // The owner each change announces (none: 0), as the server's notice of it names it. A change
    // notice may come late, after the next owner has taken the selection: what that owner holds
    // is read for its own change, never for the one before as well. Unknown without XFixes.
    uint8_t m_xfixesSelectionNotify = 0;
    uint32_t m_selectionAtom = 0;
    std::optional<uint32_t> m_lastOwnerSeen;
    std::optional<uint32_t> m_changeOwner;
    // X11 offers one item: what we write accumulates here until the next clearContents().
    PasteboardItem m_pending;
};

} // namespace Platform
