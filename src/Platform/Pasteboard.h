#pragma once

// The system clipboard as the rest of the program sees it: items with typed representations, a
// change count that every change bumps (our own writes included), and the few object kinds the
// program writes. On X11 the general pasteboard is the CLIPBOARD selection; named pasteboards
// (drags, tests) live in memory.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>
#include <variant>

namespace Platform {

namespace PasteboardType {
inline const QString string = QStringLiteral("text/plain;charset=utf-8");
inline const QString uriList = QStringLiteral("text/uri-list");
inline const QString png = QStringLiteral("image/png");
inline const QString tiff = QStringLiteral("image/tiff");
inline const QString html = QStringLiteral("text/html");
// Asked of a background reader: the names of the formats offered, one a line, as types() names
// them; nothing when no program holds a copy.
inline const QString formatNames = QStringLiteral("TARGETS");
} // namespace PasteboardType

// What can be written as one object: a web or file URL, a text, or an image.
using PasteboardObject = std::variant<QUrl, QString, QImage>;

// One item of a pasteboard: its representations by type, in the order offered.
class PasteboardItem
{
public:
    QStringList types() const;
    std::optional<QByteArray> data(const QString& type) const;
    void setData(const QByteArray& data, const QString& type); // replaces a representation of that type
    bool isEmpty() const { return m_representations.isEmpty(); }
    const QList<std::pair<QString, QByteArray>>& representations() const { return m_representations; }

    friend bool operator==(const PasteboardItem&, const PasteboardItem&) = default;

private:
    QList<std::pair<QString, QByteArray>> m_representations;
};

class Pasteboard
{
public:
    virtual ~Pasteboard() = default;

    virtual qint64 changeCount() const = 0;

    // Reading. `types()` is cheap; `data()` fetches one representation of the first item that has it.
    virtual QStringList types() const = 0;
    virtual std::optional<QByteArray> data(const QString& type) const = 0;
    // The representation of one type from every item that has it, in item order. Fetches nothing
    // else: another program may offer formats of many megabytes beside it. Pasteboards of one
    // item need not override this.
    virtual QList<QByteArray> dataOfEachItem(const QString& type) const;
    // Large formats read away from the GUI thread, whose transfer from another program must not
    // hold it: a reader that may run on any thread, or empty when this pasteboard is read on its
    // own thread only. It reads the contents of the moment it was made: `superseded` when they
    // changed before the read was done, and a read in progress stops as soon as they change.
    // All reads of one reader share one deadline: an owner that trickles its data gets `timedOut`.
    // A read stops as soon as the format passes `maxBytes` (`tooLarge`, with the format's size
    // as far as it is known).
    struct BackgroundData
    {
        std::optional<QByteArray> bytes;
        bool superseded = false;
        bool timedOut = false;
        bool tooLarge = false;
        // With `tooLarge`: the size of the whole when it is known (`sizeIsExact`: one property held
        // it, the owner announced it, or the part that passed the limit was the last), else a
        // lower bound that the whole exceeds: the bytes that had come when reading stopped.
        qint64 size = 0;
        bool sizeIsExact = false;
    };
    using BackgroundReader = std::function<BackgroundData(const QString& type, qint64 maxBytes)>;
    virtual BackgroundReader backgroundReader() const { return {}; }
    // Ends at once the reads in progress of every reader made so far: quitting never waits for
    // another program.
    virtual void cancelBackgroundReads() {}

    // Every item with all its representations: for snapshots that must survive clearContents().
    // Fetches every format offered, however large: never for reading a change.
    virtual QList<PasteboardItem> pasteboardItems() const = 0;

    // Called after each change, once the count has moved on; our own writes included, from inside
    // the write. One observer (the clipboard monitor); it must not read the pasteboard there.
    void setChangeObserver(std::function<void()> observer) { m_changeObserver = std::move(observer); }

    // Writing. Each call that changes the contents bumps the change count; the result says
    // whether the pasteboard now holds what was written.
    virtual qint64 clearContents() = 0;
    // Whether a write that does not succeed leaves the contents as they were, so that a writer
    // needs no copy of them to put back: there, startNewContents() begins new contents without
    // touching the pasteboard, and the first write that follows replaces everything at once.
    virtual bool keepsContentsWhenAWriteFails() const { return false; }
    virtual void startNewContents() {}
    virtual bool setData(const QByteArray& data, const QString& type) = 0;
    virtual bool writeItems(const QList<PasteboardItem>& items) = 0;
    bool setString(const QString& text) { return setData(text.toUtf8(), PasteboardType::string); }
    bool writeObjects(const QList<PasteboardObject>& objects);

    // Reading conveniences.
    std::optional<QString> string() const;
    // The URLs of a text/uri-list, in order; only file URLs when asked.
    QList<QUrl> readURLs(bool fileURLsOnly) const;
    static QList<QUrl> urlsIn(const QByteArray& uriList, bool fileURLsOnly);
    // The first representation that decodes as an image (PNG, TIFF, JPEG, BMP, GIF, WebP…);
    // a null image when there is none.
    QImage readImage() const;

    // The item an object is written as.
    static PasteboardItem item(const PasteboardObject& object);

protected:
    void notifyChanged() const
    {
        if (m_changeObserver)
            m_changeObserver();
    }

private:
    std::function<void()> m_changeObserver;
};

// A pasteboard in memory: named pasteboards, drags and tests. Several items are kept apart, as
// they come.
class MemoryPasteboard final : public Pasteboard
{
public:
    qint64 changeCount() const override { return m_changeCount; }
    QStringList types() const override;
    std::optional<QByteArray> data(const QString& type) const override;
    QList<QByteArray> dataOfEachItem(const QString& type) const override;
    QList<PasteboardItem> pasteboardItems() const override { return m_items; }

    qint64 clearContents() override;
    bool setData(const QByteArray& data, const QString& type) override;
    bool writeItems(const QList<PasteboardItem>& items) override;

    // Tests: writes fail (the contents stay as they were) while set.
    void setRefusesWrites(bool refuses) { m_refusesWrites = refuses; }
    // Tests: a change made by another program.
    void simulateExternalCopy(const QList<PasteboardItem>& items);
    // Tests: changes that come without a notice, as when a notice is lost.
    void setSendsChangeNotices(bool sends) { m_sendsChangeNotices = sends; }

private:
    void changed();

    QList<PasteboardItem> m_items;
    qint64 m_changeCount = 0;
    bool m_refusesWrites = false;
    bool m_sendsChangeNotices = true;
};

} // namespace Platform
