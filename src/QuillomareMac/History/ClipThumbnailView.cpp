#include "ClipThumbnailView.h"

#include "Island/Kit/IslandIcons.h"
#include "Island/Kit/IslandTheme.h"
#include "Pasteboard/MacFileContent.h"

#include <Platform/ThumbnailProvider.h>
#include <QuillomareCore/Language.h>

#include <QCache>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipKind;

namespace {

// A limit only bounds memory: an evicted picture is decoded again, it never changes what is shown.
constexpr qsizetype imageCacheBytes = qsizetype(96) * 1024 * 1024;
constexpr qsizetype quickLookCacheBytes = qsizetype(32) * 1024 * 1024;

constexpr qreal cornerRadius = 6;
constexpr qreal symbolPointSize = 34;
constexpr int quickLookPointSize = 256;

QCache<QString, QImage>& imageCache()
{
    static QCache<QString, QImage> cache(imageCacheBytes);
    return cache;
}

QCache<QString, QImage>& quickLookCache()
{
    static QCache<QString, QImage> cache(quickLookCacheBytes);
    return cache;
}

QImage cachedIn(QCache<QString, QImage>& cache, const QString& key)
{
    const QImage* image = cache.object(key);
    return image ? *image : QImage();
}

void storeIn(QCache<QString, QImage>& cache, const QString& key, const QImage& image)
{
    if (!image.isNull())
        cache.insert(key, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes()));
}

// Tiles that ask for a picture already being decoded wait for that decode instead of starting another.
struct Waiter
{
    QPointer<QObject> context;
    std::function<void(const QImage&)> done;
};

QHash<QString, QList<Waiter>>& decodesInFlight()
{
    static QHash<QString, QList<Waiter>> waiters;
    return waiters;
}

void requestDecode(const QString& key, QObject* context, std::function<void(const QImage&)> done,
                   std::function<QImage()> decode)
{
    if (const QImage hit = ClipThumbnailImageCache::cached(key); !hit.isNull()) {
        done(hit);
        return;
    }
    auto& inFlight = decodesInFlight();
    const bool started = inFlight.contains(key);
    inFlight[key].append(Waiter{context, std::move(done)});
    if (started)
        return;
    Platform::ThumbnailProvider::request(QCoreApplication::instance(), std::move(decode), [key](const QImage& image) {
        ClipThumbnailImageCache::store(key, image);
        for (const Waiter& waiter : decodesInFlight().take(key)) {
            if (waiter.context && waiter.done)
                waiter.done(image);
        }
    });
}

// One existing file with an image extension. Whether it really decodes is found out off the GUI
// thread; a file that does not keeps its symbol.
std::optional<QString> singleImageFilePath(const ClipboardItem& item)
{
    const QStringList paths = MacFileContent::cleanPaths(item.payload.fileURLsValue());
    if (paths.size() != 1)
        return std::nullopt;
    const QFileInfo file(paths.first());
    if (!MacFileContent::imageExtensions().contains(file.suffix().toLower()) || !file.isFile())
        return std::nullopt;
    return paths.first();
}

QString firstPath(const ClipboardItem& item)
{
    const QStringList paths = item.payload.fileURLsValue();
    return paths.isEmpty() ? QString() : paths.first();
}

} // namespace

namespace ClipThumbnailImageCache {

QString pngKey(const QString& prefix, const QString& contentHash, const QByteArray& png)
{
    return prefix + contentHash + QLatin1Char(':') + QString::number(png.size()) + QLatin1Char(':') +
           QString::fromLatin1(png.left(16).toBase64());
}

QString pngKey(const QString& prefix, const QString& contentHash, const QuillomareCore::ClipboardPayload& payload)
{
    return prefix + contentHash + QLatin1Char(':') + QString::number(payload.imagePNGByteCount()) +
           QLatin1Char(':') + QString::fromLatin1(payload.imagePNGHead(16).toBase64());
}

QString fileKey(const QString& path)
{
    return QStringLiteral("thumb-file:") + path;
}

QImage cached(const QString& key)
{
    return cachedIn(imageCache(), key);
}

void store(const QString& key, const QImage& image)
{
    storeIn(imageCache(), key, image);
}

QImage thumbnail(const QByteArray& png, const QString& key, int maxPixelSize)
{
    if (QImage hit = cached(key); !hit.isNull())
        return hit;
    const QImage image = Platform::ThumbnailProvider::decodeImageData(png, maxPixelSize);
    store(key, image);
    return image;
}

QImage thumbnailForFile(const QString& path, const QString& key, int maxPixelSize)
{
    if (QImage hit = cached(key); !hit.isNull())
        return hit;
    const QImage image = Platform::ThumbnailProvider::decodeImageFile(path, maxPixelSize);
    store(key, image);
    return image;
}

void requestThumbnail(const QByteArray& png, const QString& key, int maxPixelSize, QObject* context,
                      std::function<void(const QImage&)> done)
{
    if (png.isEmpty() && cached(key).isNull()) {
        done(QImage());
        return;
    }
    requestDecode(key, context, std::move(done),
                  [png, maxPixelSize] { return Platform::ThumbnailProvider::decodeImageData(png, maxPixelSize); });
}

void requestThumbnail(const QuillomareCore::ClipboardPayload& payload, const QString& key, int maxPixelSize, QObject* context,
                      std::function<void(const QImage&)> done)
{
    if (payload.imagePNGByteCount() == 0 && cached(key).isNull()) {
        done(QImage());
        return;
    }
    requestDecode(key, context, std::move(done), [payload, maxPixelSize] {
        return Platform::ThumbnailProvider::decodeImageData(payload.imagePNGValue(), maxPixelSize);
    });
}

void requestFileThumbnail(const QString& path, const QString& key, int maxPixelSize, QObject* context,
                          std::function<void(const QImage&)> done)
{
    requestDecode(key, context, std::move(done),
                  [path, maxPixelSize] { return Platform::ThumbnailProvider::decodeImageFile(path, maxPixelSize); });
}

void clearForTesting()
{
    imageCache().clear();
    quickLookCache().clear();
}

} // namespace ClipThumbnailImageCache

namespace ClipQuickLookThumbnailCache {

QString key(const QString& path, double pixelSize)
{
    return path + QLatin1Char('@') + QString::number(static_cast<qint64>(std::trunc(pixelSize)));
}

QImage cached(const QString& key)
{
    return cachedIn(quickLookCache(), key);
}

void store(const QString& key, const QImage& image)
{
    storeIn(quickLookCache(), key, image);
}

} // namespace ClipQuickLookThumbnailCache

ClipThumbnailView::ClipThumbnailView(QWidget* parent) : QWidget(parent)
{
    m_imageView = new AspectFillImageView(this);
    // The tile draws the picture itself, clipped to its rounded corners; the image view stays for
    // the click and the pointing hand.
    m_imageView->installEventFilter(this);
    m_imageView->hide();

    m_iconImageView = new QLabel(this);
    m_iconImageView->setAlignment(Qt::AlignCenter);
    m_iconImageView->setAttribute(Qt::WA_TransparentForMouseEvents);

    applyContentBackground(false);
}

void ClipThumbnailView::configure(const ClipboardItem& item, const QString& title, const QColor& tint)
{
    Q_UNUSED(title);
    Q_UNUSED(tint);
    m_currentItemID = item.id;
    showSymbol(item);

    const QUuid id = item.id;
    std::optional<QString> previewPath;
    if (prefersContentPreview && item.payload.isFileURLs() && QFileInfo::exists(firstPath(item)))
        previewPath = firstPath(item);

    auto arrived = [this, id, previewPath](const QImage& image) {
        if (m_currentItemID != id)
            return;
        if (!image.isNull())
            showImage(image);
        else if (previewPath)
            requestQuickLookPreview(id, *previewPath);
    };

    using namespace ClipThumbnailImageCache;
    if (item.payload.isImagePNG()) {
        requestThumbnail(item.payload, pngKey(QStringLiteral("thumb-png:"), item.contentHash, item.payload),
                         tilePixelSize, this, std::move(arrived));
    } else if (const std::optional<QString> path = singleImageFilePath(item)) {
        requestFileThumbnail(*path, fileKey(*path), tilePixelSize, this, std::move(arrived));
    } else if (previewPath) {
        requestQuickLookPreview(id, *previewPath);
    }
}

bool ClipThumbnailView::isShowingImage() const
{
    return !m_imageView->isHidden() && m_imageView->hasImage();
}

QString ClipThumbnailView::shownSymbol() const
{
    return isShowingImage() ? QString() : m_shownSymbol;
}

bool ClipThumbnailView::isShowingFileIcon() const
{
    return !isShowingImage() && !m_fileIcon.isNull();
}

QString ClipThumbnailView::fileSymbolName(const ClipboardItem& item)
{
    if (!item.payload.isFileURLs() || item.payload.fileURLsValue().isEmpty())
        return QStringLiteral("doc");
    const QString extension = QFileInfo(firstPath(item)).suffix().toLower();
    static const QHash<QString, QString> symbols{
        {QStringLiteral("pdf"), QStringLiteral("doc.richtext")}, {QStringLiteral("zip"), QStringLiteral("archivebox")},
        {QStringLiteral("rar"), QStringLiteral("archivebox")},   {QStringLiteral("7z"), QStringLiteral("archivebox")},
        {QStringLiteral("dmg"), QStringLiteral("archivebox")},   {QStringLiteral("jpg"), QStringLiteral("photo")},
        {QStringLiteral("jpeg"), QStringLiteral("photo")},       {QStringLiteral("png"), QStringLiteral("photo")},
        {QStringLiteral("heic"), QStringLiteral("photo")},       {QStringLiteral("gif"), QStringLiteral("photo")},
        {QStringLiteral("webp"), QStringLiteral("photo")},       {QStringLiteral("mov"), QStringLiteral("film")},
        {QStringLiteral("mp4"), QStringLiteral("film")},         {QStringLiteral("m4v"), QStringLiteral("film")},
        {QStringLiteral("mp3"), QStringLiteral("waveform")},     {QStringLiteral("m4a"), QStringLiteral("waveform")},
        {QStringLiteral("wav"), QStringLiteral("waveform")},     {QStringLiteral("aiff"), QStringLiteral("waveform")},
    };
    return symbols.value(extension, QStringLiteral("doc"));
}

QString ClipThumbnailView::symbolName(const ClipboardItem& item)
{
    if (item.isSensitive)
        return QStringLiteral("lock.fill");
    switch (item.kind) {
    case ClipKind::text:
        return QStringLiteral("text.alignleft");
    case ClipKind::url:
        return QStringLiteral("link");
    case ClipKind::file:
        return fileSymbolName(item);
    case ClipKind::image:
        return QStringLiteral("photo");
    case ClipKind::unknown:
        break;
    }
    return QStringLiteral("doc.on.clipboard");
}

void ClipThumbnailView::applyContentBackground(bool hasThumbnail)
{
    m_background = hasThumbnail ? QColor::fromRgbF(0, 0, 0, 0.16f) : IslandTheme::white(0.075);
    update();
}

void ClipThumbnailView::showSymbol(const ClipboardItem& item)
{
    m_shownSymbol = symbolName(item);
    m_fileIcon = item.payload.isFileURLs() ? Platform::ThumbnailProvider::fileTypeIcon(firstPath(item)) : QIcon();
    m_iconImageView->setAccessibleDescription(Language::localizedDisplayName(item.kind));
    m_imageView->setImage(QImage());
    m_imageView->hide();
    m_iconImageView->show();
    refreshIcon();
    applyContentBackground(false);
}

void ClipThumbnailView::showImage(const QImage& image)
{
    m_imageView->setImage(image);
    m_imageView->show();
    m_iconImageView->hide();
    applyContentBackground(true);
}

void ClipThumbnailView::refreshIcon()
{
    // Square, 0.56 of the tile's height within 13...72, a little above the centre; the symbol is
    // drawn at 34 points or smaller, never larger.
    const int side = std::clamp(int(std::lround(height() * 0.56)), 13, 72);
    m_iconImageView->setGeometry((width() - side) / 2, (height() - side) / 2 - 1, side, side);
    const qreal drawn = std::min<qreal>(side, IslandIcons::imageSide(symbolPointSize));
    const qreal ratio = devicePixelRatioF();
    if (!m_fileIcon.isNull()) {
        m_iconImageView->setPixmap(m_fileIcon.pixmap(QSizeF(drawn, drawn).toSize(), ratio));
    } else {
        const qreal points = symbolPointSize * drawn / IslandIcons::imageSide(symbolPointSize);
        m_iconImageView->setPixmap(
            IslandIcons::pixmap(m_shownSymbol, points, SymbolWeight::regular, IslandTheme::white(0.82), ratio));
    }
}

void ClipThumbnailView::requestQuickLookPreview(const QUuid& itemID, const QString& path)
{
    const QString key = ClipQuickLookThumbnailCache::key(path, quickLookPointSize);
    if (const QImage hit = ClipQuickLookThumbnailCache::cached(key); !hit.isNull()) {
        if (m_currentItemID == itemID)
            showImage(hit);
        return;
    }
    const int pixels = int(std::lround(quickLookPointSize * std::max<qreal>(1, devicePixelRatioF())));
    Platform::ThumbnailProvider::request(
        this, [path, pixels] { return Platform::ThumbnailProvider::fileThumbnail(path, pixels); },
        [this, key, itemID](const QImage& image) {
            if (image.isNull())
                return;
            // Kept even when the tile moved on, so the next tile of this file shows it at once.
            ClipQuickLookThumbnailCache::store(key, image);
            if (m_currentItemID == itemID)
                showImage(image);
        });
}

void ClipThumbnailView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_imageView->setGeometry(rect());
    refreshIcon();
}

bool ClipThumbnailView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_imageView && event->type() == QEvent::Paint)
        return true;
    return QWidget::eventFilter(watched, event);
}

void ClipThumbnailView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    QPainterPath outline;
    outline.addRoundedRect(bounds, cornerRadius, cornerRadius);
    painter.fillPath(outline, m_background);

    if (isShowingImage()) {
        const QImage& image = m_imageView->image();
        const QRectF target = AspectFillImageView::aspectFillRect(image.deviceIndependentSize(), bounds);
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (target.size() * ratio).toSize().expandedTo(QSize(1, 1));
        // Scaled once per picture and size with area averaging: a textured fill samples bilinearly.
        if (m_scaledImageSource != image.cacheKey() || m_scaledImage.size() != pixels) {
            m_scaledImage = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            m_scaledImageSource = image.cacheKey();
        }
        QBrush brush(m_scaledImage);
        brush.setTransform(QTransform::fromScale(1 / ratio, 1 / ratio) *
                           QTransform::fromTranslate(target.left(), target.top()));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.fillPath(outline, brush);
    }
    IslandTheme::paintRoundedSurface(painter, bounds, cornerRadius, Qt::transparent, IslandTheme::white(0.12));
}

} // namespace QuillomareMac
