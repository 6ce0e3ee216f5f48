#include "ClipboardMonitor.h"

#include "MacFileContent.h"

#include <Platform/Pasteboard.h>
#include <Platform/Workspace.h>
#include <QuillomareCore/Foundation.h>
#include <QuillomareCore/Hashing.h>
#include <QuillomareCore/Language.h>
#include <QuillomareCore/TextDecoding.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QPointer>
#include <QFileInfo>
#include <QImageReader>
#include <QTextBoundaryFinder>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

constexpr qsizetype kPreviewLimit = 180;
constexpr qsizetype kPreviewKept = 177;

// The position after the first `count` grapheme clusters, or -1 when the text has no more than
// that. Boundaries are found in a prefix that grows only when needed: a megabyte of text costs
// no more than its first few hundred characters.
qsizetype positionAfterGraphemes(const QString& text, qsizetype count)
{
    qsizetype window = std::min<qsizetype>(text.size(), count * 4 + 64);
    while (true) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), window);
        qsizetype position = 0;
        qsizetype seen = 0;
        while (seen < count && (position = finder.toNextBoundary()) != -1)
            ++seen;
        // A boundary at the very end of a prefix may not be one in the whole text.
        if (seen == count && (position < window || window == text.size()))
            return position < text.size() ? position : -1;
        if (window == text.size())
            return -1;
        window = std::min<qsizetype>(text.size(), window * 2);
    }
}

// Password managers (KeePassXC, KDE's wallet) mark what they copy with this type holding "secret".
const QString kPasswordManagerHint = QStringLiteral("x-kde-passwordManagerHint");

// The one reason text for copies from a password manager, whichever way it was recognised.
QString restrictedSourceReason(const std::optional<Platform::RunningApplication>& application)
{
    const QString name = application && application->localizedName
                             ? *application->localizedName
                             : Language::text(QStringLiteral("敏感来源 App"), QStringLiteral("a restricted app"));
    return Language::text(QStringLiteral("已忽略来自 ") + name + QStringLiteral(" 的剪贴板"),
                          QStringLiteral("Ignored clipboard from ") + name);
}

// How much of a format is read before the copy is refused: the history's own limits for text and
// PNG; an image in another format may be larger than the PNG it becomes.
qint64 readLimit(const QString& type)
{
    if (type == Platform::PasteboardType::png)
        return ClipDefaults::maxImagePayloadBytes;
    if (type.startsWith(QLatin1String("image/")))
        return 4 * ClipDefaults::maxImagePayloadBytes;
    if (type == kPasswordManagerHint)
        return 4096;
    return ClipDefaults::maxTextPayloadBytes;
}

QString timedOutReason()
{
    return Language::text(QStringLiteral("剪贴板内容迟迟未送达，未写入历史"),
                          QStringLiteral("The clipboard contents took too long to arrive, not saved"));
}

// NSURL's path: no trailing slash except for the root.
QString pathOf(const QUrl& url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

ClipboardMonitor::ClipboardMonitor(Platform::Pasteboard& pasteboard, ClipboardStore& store,
                                   const SensitiveContentDetector& detector, Platform::Workspace& workspace,
                                   QObject* parent)
    : QObject(parent), m_pasteboard(pasteboard), m_store(store), m_workspace(workspace),
      m_workerDetector(detector.isolatedCopy()),
      m_lastChangeCount(pasteboard.changeCount())
{
    // One worker: results come out in the order the changes went in.
    m_worker.setMaxThreadCount(1);
    m_timer.setInterval(pollIntervalMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardMonitor::poll);
    // The pasteboard may outlive this monitor, or get a newer one: the observer holds it weakly.
    m_pasteboard.setChangeObserver([self = QPointer<ClipboardMonitor>(this)] {
        if (self)
            self->checkSoon();
    });
}

ClipboardMonitor::~ClipboardMonitor()
{
    // A transfer from another program may be under way: it ends now rather than when the owner
    // pleases.
    m_pasteboard.cancelBackgroundReads();
    m_worker.waitForDone();
}

void ClipboardMonitor::start()
{
    if (m_isRunning)
        return;
    m_lastChangeCount = m_pasteboard.changeCount();
    m_timer.start();
    m_isRunning = true;
}

void ClipboardMonitor::stop()
{
    m_timer.stop();
    m_isRunning = false;
}

void ClipboardMonitor::checkSoon()
{
    // Never inside the notice: our own writes send theirs from inside the write, before the
    // owner has had the chance to mark it. Notices that pile up before the look are one look.
    if (!m_isRunning || m_checkQueued)
        return;
    m_checkQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_checkQueued = false;
            if (m_isRunning)
                poll();
        },
        Qt::QueuedConnection);
}

void ClipboardMonitor::poll()
{
    const qint64 count = m_pasteboard.changeCount();
    if (count == m_lastChangeCount)
        return;
    m_lastChangeCount = count;
    if (!onCapture)
        return;

    PasteboardContents contents = readPasteboard();
    if (contents.kind == PasteboardContents::Kind::empty)
        return; // the owner quit and took its copy along: nothing was copied, nothing went wrong
    QPointer<ClipboardMonitor> self(this);
    m_worker.start([self, contents = std::move(contents), detector = &m_workerDetector]() mutable {
        if (contents.kind == PasteboardContents::Kind::unread && !readInBackground(contents))
            return;
        ClipboardCaptureResult result = captureResult(contents, *detector);
        QMetaObject::invokeMethod(
            self,
            [self, result = std::move(result)] {
                if (self && self->onCapture)
                    self->onCapture(result);
            },
            Qt::QueuedConnection);
    });
}

void ClipboardMonitor::waitForPendingCaptures()
{
    m_worker.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

namespace {

// Where a copy's formats are read from: the pasteboard itself on the GUI thread, or another
// program's copy over the worker's own connection.
struct PasteboardSource
{
    std::function<std::optional<QByteArray>(const QString& type)> data;
    std::function<QList<QUrl>()> fileURLs;
    // Set once a read found the copy replaced: what was read belongs to no change of ours.
    bool superseded = false;
    // Set once a read was refused (too large, too slow): the copy is not recorded, for this reason.
    std::optional<QString> refusal;
    bool timedOut = false;
};

// After each read: false when the copy was replaced; true, with the contents refused, when the
// read was refused.
std::optional<bool> stopAfterRead(ClipboardMonitor::PasteboardContents& contents, const PasteboardSource& source)
{
    if (source.superseded)
        return false;
    if (source.refusal) {
        contents.kind = ClipboardMonitor::PasteboardContents::Kind::refused;
        contents.ignoredReason = *source.refusal;
        return true;
    }
    return std::nullopt;
}

// Decides what the copy is from the formats offered, reading only what that takes: another
// program may offer many megabytes of private formats beside them. False when the copy was
// replaced meanwhile.
bool readContents(ClipboardMonitor::PasteboardContents& contents, const QStringList& types, PasteboardSource& source)
{
    using Kind = ClipboardMonitor::PasteboardContents::Kind;
    // Copies made while a password manager is in front are not read at all.
    const std::optional<QString> bundleIdentifier =
        contents.application ? contents.application->bundleIdentifier : std::nullopt;
    const auto ignore = [&contents] {
        contents.kind = Kind::ignoredSource;
        contents.ignoredReason = restrictedSourceReason(contents.application);
        return true;
    };
    if (contents.settings.ignoresSourceApp(bundleIdentifier))
        return ignore();
    // Nor are copies a password manager marked as its own, whichever application is in front.
    if (types.contains(kPasswordManagerHint)) {
        const std::optional<QByteArray> mark = source.data(kPasswordManagerHint);
        if (!source.timedOut)
            source.refusal.reset(); // an oversized mark is no mark
        if (const auto stop = stopAfterRead(contents, source))
            return *stop;
        if (mark.value_or(QByteArray()).trimmed().compare("secret", Qt::CaseInsensitive) == 0)
            return ignore();
    }

    if (types.contains(Platform::PasteboardType::uriList)) {
        contents.fileURLs = source.fileURLs();
        if (const auto stop = stopAfterRead(contents, source))
            return *stop;
        if (!contents.fileURLs.isEmpty()) {
            contents.kind = Kind::files;
            return true;
        }
    }

    if (types.contains(Platform::PasteboardType::string)) {
        const std::optional<QByteArray> bytes = source.data(Platform::PasteboardType::string);
        if (const auto stop = stopAfterRead(contents, source))
            return *stop;
        QString text = bytes ? QuillomareCore::Text::fromUtf8(*bytes) : QString();
        if (!QuillomareCore::Text::isBlank(text)) {
            contents.kind = Kind::text;
            contents.text = std::move(text);
            return true;
        }
    }

    // The first image representation offered, PNG before the others; decoding waits for the worker.
    QStringList imageTypes;
    if (types.contains(Platform::PasteboardType::png))
        imageTypes.append(Platform::PasteboardType::png);
    for (const QString& type : types) {
        if (type.startsWith(QLatin1String("image/")) && !imageTypes.contains(type))
            imageTypes.append(type);
    }
    for (const QString& type : std::as_const(imageTypes)) {
        std::optional<QByteArray> bytes = source.data(type);
        if (const auto stop = stopAfterRead(contents, source))
            return *stop;
        if (bytes && !bytes->isEmpty()) {
            contents.kind = Kind::image;
            contents.imageData = std::move(*bytes);
            contents.imageType = type;
            return true;
        }
    }
    // Offered, but nothing came: unreadable.
    contents.kind = imageTypes.isEmpty() ? Kind::unsupported : Kind::image;
    return true;
}

} // namespace

// On the worker: another program's copy, from the names of its formats on. False when there is
// nothing to report: its owner quit and took it along, or a newer copy replaced it (that one is
// read for its own change).
bool ClipboardMonitor::readInBackground(PasteboardContents& contents)
{
    PasteboardSource source;
    source.data = [&](const QString& type) {
        Platform::Pasteboard::BackgroundData read = contents.backgroundReader(type, readLimit(type));
        source.superseded = source.superseded || read.superseded;
        source.timedOut = read.timedOut;
        if (read.timedOut)
            source.refusal = timedOutReason();
        else if (read.tooLarge)
            source.refusal = ClipboardItem::payloadTooLargeDescription(type.startsWith(QLatin1String("image/")),
                                                                       read.size, read.sizeIsExact);
        return read.bytes;
    };
    source.fileURLs = [&] {
        return Platform::Pasteboard::urlsIn(source.data(Platform::PasteboardType::uriList).value_or(QByteArray()),
                                            /*fileURLsOnly=*/true);
    };
    const std::optional<QByteArray> names = source.data(Platform::PasteboardType::formatNames);
    if (const auto stop = stopAfterRead(contents, source))
        return *stop;
    if (!names)
        return false;
    const QStringList types = QString::fromUtf8(*names).split(u'\n', Qt::SkipEmptyParts);
    return !types.isEmpty() && readContents(contents, types, source);
}

ClipboardMonitor::PasteboardContents ClipboardMonitor::readPasteboard() const
{
    PasteboardContents contents;
    // The entry names the application in front at the moment of capture.
    contents.capturedAt = Clock::now();
    contents.settings = m_store.settings();
    contents.application = m_workspace.frontmostApplication();
    // Another program's copy comes over the wire, however large, and its owner may be slow to
    // answer: the worker reads all of it, the names of its formats included.
    if (auto reader = m_pasteboard.backgroundReader()) {
        contents.kind = PasteboardContents::Kind::unread;
        contents.backgroundReader = std::move(reader);
        return contents;
    }
    // The names of the formats only, never their contents: a pasteboard with none has lost its owner.
    const QStringList types = m_pasteboard.types();
    if (types.isEmpty()) {
        contents.kind = PasteboardContents::Kind::empty;
        return contents;
    }
    PasteboardSource source;
    source.data = [this, &source](const QString& type) {
        std::optional<QByteArray> bytes = m_pasteboard.data(type);
        if (bytes && bytes->size() > readLimit(type)) {
            source.refusal =
                ClipboardItem::payloadTooLargeDescription(type.startsWith(QLatin1String("image/")), bytes->size());
            bytes.reset();
        }
        return bytes;
    };
    source.fileURLs = [this] { return m_pasteboard.readURLs(/*fileURLsOnly=*/true); };
    readContents(contents, types, source);
    return contents;
}

namespace {

ClipboardItem newItem(const ClipboardMonitor::PasteboardContents& contents, ClipKind kind)
{
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.createdAt = contents.capturedAt;
    item.kind = kind;
    item.sourceAppName = contents.application ? contents.application->localizedName : std::nullopt;
    item.sourceBundleIdentifier = contents.application ? contents.application->bundleIdentifier : std::nullopt;
    item.sourcePlatform = ClipSourcePlatform::mac;
    return item;
}

ClipboardCaptureResult captureFiles(const ClipboardMonitor::PasteboardContents& contents)
{
    QStringList paths;
    for (const QUrl& url : contents.fileURLs)
        paths.append(pathOf(url));

    ClipboardItem item = newItem(contents, MacFileContent::allAreImageFiles(paths) ? ClipKind::image : ClipKind::file);
    item.preview = ClipboardMonitor::filesPreview(paths);
    item.contentHash = ClipHashing::fileContentHash(paths);
    item.payload = ClipboardPayload::fileURLs(paths);
    item.isLocalOnly = ClipboardItem::shouldKeepLocalOnlyForCloud(ClipKind::file, item.payload, contents.settings);
    return ClipboardCaptureResult{item, std::nullopt};
}

ClipboardCaptureResult captureText(const ClipboardMonitor::PasteboardContents& contents,
                                   const SensitiveContentDetector& detector)
{
    const QString& text = contents.text;
    const auto match = detector.firstMatch(text);
    if (match && contents.settings.ignoreSensitiveContent)
        return ClipboardCaptureResult{std::nullopt,
                                      Language::text(QStringLiteral("已忽略敏感内容：") + match->label,
                                                     QStringLiteral("Ignored sensitive content: ") + match->label)};

    ClipboardItem item = newItem(contents, ClipboardMonitor::detectURL(text) ? ClipKind::url : ClipKind::text);
    item.isSensitive = match.has_value();
    item.preview = ClipboardMonitor::previewOf(ClipboardPayload::text(text), item.isSensitive);
    item.contentHash = ClipHashing::textContentHash(text);
    item.payload = ClipboardPayload::text(text);
    item.isLocalOnly = (match && contents.settings.markSensitiveLocalOnly) || item.payload.exceedsCloudExportLimits();
    return ClipboardCaptureResult{item, std::nullopt};
}

ClipboardCaptureResult captureImage(const ClipboardMonitor::PasteboardContents& contents)
{
    const auto converted = contents.imageData.isEmpty()
                               ? std::nullopt
                               : MacFileContent::pngData(contents.imageData, contents.imageType);
    const std::optional<QByteArray> png =
        converted ? std::optional<QByteArray>(converted->first) : std::nullopt;
    if (!png)
        return ClipboardCaptureResult{
            std::nullopt, Language::text(QStringLiteral("图片读取失败"), QStringLiteral("Failed to read image"))};

    if (png->size() > ClipDefaults::maxImagePayloadBytes)
        return ClipboardCaptureResult{std::nullopt, ClipboardItem::payloadTooLargeDescription(true, png->size())};

    ClipboardItem item = newItem(contents, ClipKind::image);
    item.preview = ClipboardMonitor::imagePreview(png->size());
    // Hashed once, here: the first save finds the identity with the bytes.
    item.payload = ClipboardPayload::hashedImagePNG(*png);
    item.contentHash = item.payload.imagePNGContentHash();
    item.isLocalOnly = ClipboardItem::shouldKeepLocalOnlyForCloud(ClipKind::image, item.payload, contents.settings);
    return ClipboardCaptureResult{item, std::nullopt};
}

} // namespace

ClipboardCaptureResult ClipboardMonitor::captureResult(const PasteboardContents& contents,
                                                      const SensitiveContentDetector& detector)
{
    switch (contents.kind) {
    case PasteboardContents::Kind::ignoredSource:
    case PasteboardContents::Kind::refused:
        return ClipboardCaptureResult{std::nullopt, contents.ignoredReason};
    case PasteboardContents::Kind::files:
        return captureFiles(contents);
    case PasteboardContents::Kind::text:
        return captureText(contents, detector);
    case PasteboardContents::Kind::image:
        return captureImage(contents);
    case PasteboardContents::Kind::empty: // never handed on by poll()
    case PasteboardContents::Kind::unread: // read by the worker first
    case PasteboardContents::Kind::unsupported:
        break;
    }
    return ClipboardCaptureResult{std::nullopt, Language::text(QStringLiteral("暂不支持该剪贴板格式"),
                                                               QStringLiteral("Unsupported clipboard format"))};
}

QString ClipboardMonitor::textPreview(const QString& text)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\t'), QLatin1Char(' '));
    line = Text::trimmed(line);
    const qsizetype cut = positionAfterGraphemes(line, kPreviewKept);
    if (cut == -1 || positionAfterGraphemes(line, kPreviewLimit) == -1)
        return line;
    return line.left(cut) + QStringLiteral("...");
}

QString ClipboardMonitor::filesPreview(const QStringList& paths)
{
    if (paths.size() != 1)
        return Language::text(QString::number(paths.size()) + QStringLiteral(" 个文件"),
                              QString::number(paths.size()) + QStringLiteral(" files"));
    QString title = Text::trimmed(QFileInfo(paths.first()).fileName());
    if (title.isEmpty())
        title = paths.first();
    if (title.isEmpty())
        title = QStringLiteral("File");
    return title;
}

QString ClipboardMonitor::imagePreview(qsizetype byteCount)
{
    return Language::text(QStringLiteral("图片 · "), QStringLiteral("Image · ")) +
           ClipboardItem::formattedBytes(byteCount);
}

QString ClipboardMonitor::previewOf(const ClipboardPayload& payload, bool isSensitive)
{
    switch (payload.caseOf()) {
    case ClipboardPayload::Case::text:
        return isSensitive
                   ? Language::text(QStringLiteral("敏感内容已隐藏"), QStringLiteral("Sensitive content hidden"))
                   : textPreview(payload.textValue());
    case ClipboardPayload::Case::fileURLs:
        return filesPreview(payload.fileURLsValue());
    case ClipboardPayload::Case::imagePNG:
        return imagePreview(payload.imagePNGByteCount());
    case ClipboardPayload::Case::empty:
        break;
    }
    return QString();
}

std::optional<QUrl> ClipboardMonitor::detectURL(const QString& text)
{
    // Only three schemes count: look at the scheme before parsing what may be a megabyte of prose.
    qsizetype first = 0;
    while (first < text.size() && text[first].isSpace())
        ++first;
    const QStringView rest = QStringView(text).mid(first);
    const bool webScheme = rest.startsWith(QLatin1String("http:"), Qt::CaseInsensitive) ||
                           rest.startsWith(QLatin1String("https:"), Qt::CaseInsensitive) ||
                           rest.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive);
    if (!webScheme)
        return std::nullopt;
    const QString trimmed = Text::trimmed(text);
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("mailto"))
        return std::nullopt;
    return url;
}

} // namespace QuillomareMac
