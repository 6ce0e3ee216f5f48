#pragma once

// The typed thumbnail tile of one entry (history rows, shelf cards and rows, the gallery's detail
// bar) and the two process-wide picture caches behind it.
//
// Decoding and file thumbnails are made off the GUI thread (Platform::ThumbnailProvider); a tile
// shows its symbol at once and its picture when it arrives, only if it still shows that entry.

#include "Island/Kit/IslandImageView.h"

#include <QuillomareCore/ClipboardItem.h>

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QObject;

namespace QuillomareMac {

namespace ClipThumbnailImageCache {

// Pixel sizes: tiles ask for 360, the inspector for 1200.
inline constexpr int tilePixelSize = 360;
inline constexpr int previewPixelSize = 1200;

// "<prefix><contentHash>:<byte count>:<Base64 of the first 16 bytes>", prefix "thumb-png:" for
// tiles and "preview-png:" for the inspector.
QString pngKey(const QString& prefix, const QString& contentHash, const QByteArray& png);
// The same key for an image that may still lie in the history file: its size and first bytes are
// known without reading it.
QString pngKey(const QString& prefix, const QString& contentHash, const QuillomareCore::ClipboardPayload& payload);
// "thumb-file:<path>".
QString fileKey(const QString& path);

// The cached picture for the key; null when none.
QImage cached(const QString& key);
void store(const QString& key, const QImage& image);

// Synchronous (GUI thread): a cached picture unchanged, else decoded now and stored; null for
// empty or undecodable data (nothing stored, so the next call tries again).
QImage thumbnail(const QByteArray& png, const QString& key, int maxPixelSize);
QImage thumbnailForFile(const QString& path, const QString& key, int maxPixelSize);

// Asynchronous: a cache hit calls `done` at once; a miss decodes on the thread pool, stores a
// picture that decoded and calls `done` on the GUI thread while `context` lives (a null image for
// a failure).
void requestThumbnail(const QByteArray& png, const QString& key, int maxPixelSize, QObject* context,
                      std::function<void(const QImage&)> done);
// As above for an image of the history: a history image may lie in the history file, so it is
// read on the thread pool as well, never on the GUI thread.
void requestThumbnail(const QuillomareCore::ClipboardPayload& payload, const QString& key, int maxPixelSize, QObject* context,
                      std::function<void(const QImage&)> done);
void requestFileThumbnail(const QString& path, const QString& key, int maxPixelSize, QObject* context,
                          std::function<void(const QImage&)> done);

void clearForTesting();

} // namespace ClipThumbnailImageCache

namespace ClipQuickLookThumbnailCache {
// "<path>@<pixel size>", the size's integer part.
QString key(const QString& path, double pixelSize);
QImage cached(const QString& key);
void store(const QString& key, const QImage& image);
} // namespace ClipQuickLookThumbnailCache

class ClipThumbnailView final : public QWidget
{
    Q_OBJECT

public:
    explicit ClipThumbnailView(QWidget* parent = nullptr);

    // Set by owners; the tile never fires it itself (a click on the picture reaches
    // imageView()->onClick, which owners set as well).
    std::function<void()> onThumbnailClick;
    // Shelf cards and rows set it: a file entry without a decoded picture asks for the file's
    // thumbnail at 256 points.
    bool prefersContentPreview = false;

    AspectFillImageView* imageView() const { return m_imageView; }
    QLabel* iconImageView() const { return m_iconImageView; }
    std::optional<QUuid> currentItemID() const { return m_currentItemID; }

    // Shows the entry: its picture when it has one (possibly later), else its symbol or file icon.
    // The title and tint do not change what is shown.
    void configure(const QuillomareCore::ClipboardItem& item, const QString& title, const QColor& tint);

    // What the tile shows now: a picture, or the symbol (or file icon) named here. While the file's
    // icon stands in for the symbol, shownSymbol() still names the symbol and isShowingFileIcon()
    // is true.
    bool isShowingImage() const;
    QString shownSymbol() const;
    bool isShowingFileIcon() const;
    // The fill behind the content: black 0.16 with a picture, white 0.075 without.
    QColor contentBackground() const { return m_background; }

    // The symbol of a file entry by its first path's extension.
    static QString fileSymbolName(const QuillomareCore::ClipboardItem& item);
    static QString symbolName(const QuillomareCore::ClipboardItem& item);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyContentBackground(bool hasThumbnail);
    void showSymbol(const QuillomareCore::ClipboardItem& item);
    void showImage(const QImage& image);
    void refreshIcon();
    void requestQuickLookPreview(const QUuid& itemID, const QString& path);

    AspectFillImageView* m_imageView = nullptr;
    QLabel* m_iconImageView = nullptr;
    std::optional<QUuid> m_currentItemID;
    QString m_shownSymbol;
    QIcon m_fileIcon;
    QColor m_background;
    // The picture at the size it is drawn, made again only when the picture or the size changes.
    QImage m_scaledImage;
    qint64 m_scaledImageSource = 0;
};

} // namespace QuillomareMac
