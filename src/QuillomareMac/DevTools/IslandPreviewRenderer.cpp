#include "IslandPreviewRenderer.h"

#include "Island/CaptureEchoHUDView.h"
#include "Island/IslandTheme.h"
#include "Island/NotchAnchor.h"
#include "Shell/Localization.h"

#include <Platform/ThumbnailProvider.h>

#include <QuillomareCore/CloudSyncService.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>

#include <optional>

namespace QuillomareMac {

using QuillomareCore::CaptureFeedback;
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;
using QuillomareCore::CloudSyncState;
using RenderError = IslandPreviewRenderer::RenderError;

namespace {

// MARK: Sample content

QByteArray samplePNG(const QColor& from, const QColor& to)
{
    QImage image(160, 100, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 160, 100);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

ClipboardItem sampleItem(ClipKind kind, const QString& preview, ClipboardPayload payload, QString contentHash,
                         const QString& source, qint64 minutesAgo, bool pinned = false)
{
    return ClipboardItem{
        .id = QUuid::createUuid(),
        .createdAt = QuillomareCore::Clock::now().addSecs(-60 * minutesAgo),
        .kind = kind,
        .preview = preview,
        .contentHash = std::move(contentHash),
        .sourceAppName = source,
        .sourceBundleIdentifier = std::nullopt,
        .sourcePlatform = QuillomareCore::ClipSourcePlatform::mac,
        .isSensitive = false,
        .isLocalOnly = false,
        .isPinned = pinned,
        .payload = std::move(payload),
    };
}

ClipboardItem sampleText(const QString& text, const QString& source, qint64 minutesAgo, bool pinned = false)
{
    return sampleItem(ClipKind::text, text, ClipboardPayload::text(text),
                      QuillomareCore::ClipHashing::textContentHash(text), source, minutesAgo, pinned);
}

QList<ClipboardItem> sampleHistoryItems()
{
    const QString url = QStringLiteral("https://example.org/island/preview?utm_source=newsletter&id=42");
    const QStringList files = {QStringLiteral("/home/user/Documents/Quarterly report.pdf"),
                               QStringLiteral("/home/user/Documents/Budget 2027.ods")};
    const QByteArray png = samplePNG(QColor(47, 140, 255), QColor(92, 199, 138));
    ClipboardItem secret = sampleText(QStringLiteral("hunter2-correct-horse-battery"), QStringLiteral("KeePassXC"), 45);
    secret.isSensitive = true;
    // As a capture stores it: the text is kept, its preview never shows it.
    secret.preview = L10n::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"));
    secret.isLocalOnly = true;
    ClipboardItem phone = sampleText(QStringLiteral("Pick up the parcel at the front desk"), QStringLiteral("KDE Connect"),
                                     180);
    phone.sourcePlatform = QuillomareCore::ClipSourcePlatform::iphone;
    return {
        sampleText(L10n::text(QStringLiteral("会议改到明天下午三点，请确认预算文档。"),
                              QStringLiteral("The meeting moved to 3 pm tomorrow; please confirm the budget.")),
                   QStringLiteral("Kate"), 2, true),
        sampleItem(ClipKind::url, url, ClipboardPayload::text(url), QuillomareCore::ClipHashing::textContentHash(url),
                   QStringLiteral("Firefox"), 5),
        sampleText(QStringLiteral("git commit -m \"Island preview\""), QStringLiteral("Konsole"), 12),
        sampleItem(ClipKind::image, L10n::text(QStringLiteral("图片"), QStringLiteral("Image")),
                   ClipboardPayload::imagePNG(png), QuillomareCore::ClipHashing::imageContentHash(png),
                   QStringLiteral("Spectacle"), 30),
        secret,
        sampleItem(ClipKind::file, QStringLiteral("Quarterly report.pdf, Budget 2027.ods"),
                   ClipboardPayload::fileURLs(files), QuillomareCore::ClipHashing::fileContentHash(files),
                   QStringLiteral("Dolphin"), 95),
        phone,
        sampleText(QStringLiteral("北京市朝阳区建国路 88 号"), QStringLiteral("Thunderbird"), 240),
        sampleText(QStringLiteral("Quarterly numbers: revenue up 12 %, costs flat."), QStringLiteral("LibreOffice"),
                   60 * 26),
    };
}

// Lays the widget out and paints it into a picture without putting a window on a screen.
QImage grabOffscreen(QWidget& widget)
{
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.show();
    // Layout requests and queued calls the setup posted, and the thumbnails decoded meanwhile:
    // the picture shows their outcome.
    QCoreApplication::sendPostedEvents();
    Platform::ThumbnailProvider::waitForPendingRequests();
    QCoreApplication::sendPostedEvents();
    const QPixmap pixmap = widget.grab();
    widget.hide();
    if (pixmap.isNull())
        return {};
    return pixmap.toImage();
}

} // namespace

// MARK: - Errors

RenderError::RenderError(Kind kind, const QString& detail)
    : Error(detail.isEmpty() ? description(kind) : description(kind) + QStringLiteral(": ") + detail), m_kind(kind)
{}

QString RenderError::description(Kind kind)
{
    switch (kind) {
    case Kind::missingBitmap:
        return L10n::text(QStringLiteral("无法生成预览位图"), QStringLiteral("The preview bitmap could not be made"));
    case Kind::invalidPNG:
        return L10n::text(QStringLiteral("无法写入预览 PNG 文件"),
                          QStringLiteral("The preview could not be written as a PNG file"));
    case Kind::blankPreview:
        return L10n::text(QStringLiteral("预览是空白的：所有像素颜色相同"),
                          QStringLiteral("The preview is blank: every pixel has the same colour"));
    }
    return {};
}

// MARK: - Sizes and samples

Platform::ScreenDescription IslandPreviewRenderer::sampleScreen()
{
    // y-up: a 25-point top panel above the visible frame, as on the laptops the island was
    // first drawn for.
    Platform::ScreenDescription screen;
    screen.name = QStringLiteral("preview");
    screen.frame = QRectF(0, 0, 1440, 900);
    screen.visibleFrame = QRectF(0, 0, 1440, 875);
    return screen;
}

QSize IslandPreviewRenderer::expandedIslandSize()
{
    return IslandGeometry::targetFrame(IslandView::DisplayMode::expanded, sampleScreen()).frame.size().toSize();
}

QSize IslandPreviewRenderer::captureEchoSize()
{
    return IslandGeometry::echoFrame(sampleScreen()).size().toSize();
}

CaptureFeedback IslandPreviewRenderer::sampleCaptureFeedback()
{
    return CaptureFeedback{ClipKind::text, QStringLiteral("TextEdit"), false, CaptureFeedback::SaveStatus::saved()};
}

IslandView::ContentMode IslandPreviewRenderer::contentMode(ContentPreviewMode mode)
{
    return mode == ContentPreviewMode::shelfGallery ? IslandView::ContentMode::shelfGallery
                                                    : IslandView::ContentMode::history;
}

void IslandPreviewRenderer::fillWithSampleContent(IslandView& view)
{
    // The same push the application makes. The shelf's push comes with the shelf's views.
    view.configure(sampleHistoryItems(), CloudSyncState::disabled(), std::nullopt);
}

// MARK: - Pictures

QImage IslandPreviewRenderer::islandImage(ContentPreviewMode mode)
{
    const auto target = IslandGeometry::targetFrame(IslandView::DisplayMode::expanded, sampleScreen());
    IslandView view(QRect(QPoint(0, 0), target.frame.size().toSize()));
    fillWithSampleContent(view);
    view.setExpandedTopInset(target.pushes.expandedTopInset);
    view.setNotchHeaderLayout(target.pushes.notchWidth, target.pushes.stripHeight);
    view.setExpandedContentHeight(target.pushes.expandedContentHeight);
    view.setDisplayMode(IslandView::DisplayMode::expanded, false);
    view.setContentMode(contentMode(mode), false);
    return grabOffscreen(view);
}

QImage IslandPreviewRenderer::captureEchoImage()
{
    const QSize size = captureEchoSize();
    const CaptureFeedback feedback = sampleCaptureFeedback();

    // The island's own echo, still at its end state.
    IslandView island(QRect(QPoint(0, 0), size));
    island.setCollapsedVisualStyle(IslandView::CollapsedVisualStyle::floatingPill);
    island.setDisplayMode(IslandView::DisplayMode::collapsed, false);
    island.showCaptureEchoPreview(feedback);
    return grabOffscreen(island);
}

bool IslandPreviewRenderer::isBlank(const QImage& image)
{
    if (image.isNull())
        return true;
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb first = pixels.pixel(0, 0);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (line[x] != first)
                return false;
        }
    }
    return true;
}

void IslandPreviewRenderer::writePNG(const QImage& image, const QString& path)
{
    if (image.isNull())
        throw RenderError(RenderError::Kind::missingBitmap);
    if (isBlank(image))
        throw RenderError(RenderError::Kind::blankPreview);

    // A failed write leaves whatever was at the path before.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw RenderError(RenderError::Kind::invalidPNG, path + QStringLiteral(" (") + file.errorString() + u')');
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        throw RenderError(RenderError::Kind::invalidPNG, path + QStringLiteral(" (") + writer.errorString() + u')');
    }
    if (!file.commit())
        throw RenderError(RenderError::Kind::invalidPNG, path + QStringLiteral(" (") + file.errorString() + u')');

    QImageReader reader(path, "png");
    const QImage written = reader.read();
    if (written.isNull() || written.size() != image.size())
        throw RenderError(RenderError::Kind::invalidPNG,
                          path + QStringLiteral(" (") +
                              (written.isNull() ? reader.errorString() : QStringLiteral("size differs")) + u')');
}

void IslandPreviewRenderer::render(const QString& path, ContentPreviewMode mode)
{
    writePNG(islandImage(mode), path);
}

void IslandPreviewRenderer::renderCaptureEcho(const QString& path)
{
    writePNG(captureEchoImage(), path);
}

} // namespace QuillomareMac
