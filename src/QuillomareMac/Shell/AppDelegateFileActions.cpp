// The delegate's answers to the island's actions that take an entry out of the island: text
// recognition, QR code, saving to a file, sharing with a nearby device and revealing files.

#include "AppDelegate.h"

#include "Pasteboard/ClipboardSharingService.h"
#include "Pasteboard/ImageTextRecognizer.h"
#include "Pasteboard/MacFileContent.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "Shell/AppPortsQt.h"
#include "Shell/QRCodeWindowController.h"

#include <Platform/Workspace.h>
#include <QuillomareCore/Language.h>

#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

// Nothing when the whole file was written; else the reason. Written aside and renamed, so that
// a failed write never leaves a half file where the user asked for one.
std::optional<QString> writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace

bool AppDelegate::showInFileManager(const ShelfRevealTarget& target)
{
    Platform::Workspace& desktop = workspace();
    if (target.primaryFilePath && target.rootedAtPath &&
        desktop.selectFile(*target.primaryFilePath, *target.rootedAtPath))
        return true;
    return desktop.activateFileViewerSelecting(target.urls);
}

QString AppDelegate::noFileManagerMessage(const QUrl& file)
{
    const QString folder = QFileInfo(file.toLocalFile()).absolutePath();
    // The folder has lines of its own in the island's toast, so that it is shown whole.
    return Language::text(QStringLiteral("没有可用的文件管理器来显示它，它位于\n") + folder,
                          QStringLiteral("No file manager is available to show it; it is in\n") + folder);
}

SavePanelPort& AppDelegate::savePanel()
{
    if (!m_environment.savePanel)
        m_environment.savePanel = std::make_shared<FileDialogSavePanelPort>();
    return *m_environment.savePanel;
}

Platform::Workspace& AppDelegate::workspace()
{
    return m_environment.workspace ? *m_environment.workspace : Platform::Workspace::shared();
}

void AppDelegate::reportAndShowHistory(const QString& message)
{
    report(message);
    island().showHistory();
    showIsland();
}

// MARK: - Text recognition

void AppDelegate::recognizeText(const ClipboardItem& item)
{
    report(Language::text(QStringLiteral("正在提取图片文字"), QStringLiteral("Extracting text from image…")));
    // As if the user had opened it: the island waits for the outcome.
    island().show(/*autoHide=*/false, /*focusSearch=*/false);

    // The watcher is the delegate's child: an answer after the delegate is gone reaches no one.
    ImageTextRecognizer::whenFinished(
        ImageTextRecognizer::recognizeTextRegions(item), this,
        [this](const ImageTextRecognizer::Regions& regions) {
            const std::optional<QString> text = ImageTextRecognizer::readingOrderText(regions);
            const bool written = text && MacPasteboardWriter::copyString(*text, pasteboard());
            if (written)
                markOwnWrite();
            report(written
                       ? Language::text(QStringLiteral("已提取并复制文字"), QStringLiteral("Text extracted and copied"))
                       : Language::text(QStringLiteral("文字复制失败"), QStringLiteral("Failed to copy text")));
            showIsland();
        },
        [this](const Error& error) {
            report(error.localizedDescription());
            showIsland();
        });
}

// MARK: - QR code

void AppDelegate::makeQRCode(const ClipboardItem& item)
{
    QString text;
    if (item.payload.isText())
        text = item.payload.textValue();
    else if (item.payload.isFileURLs() && !item.payload.fileURLsValue().isEmpty())
        text = item.payload.fileURLsValue().first();
    // Not trimmed: blanks are a text too.
    if (text.isEmpty()) {
        reportAndShowHistory(Language::text(QStringLiteral("这条历史不能生成二维码"),
                                            QStringLiteral("This item cannot be encoded as a QR code")));
        return;
    }
    island().hide();
    QRCodeWindowController::present(text);
}

// MARK: - Save to a file

void AppDelegate::exportItemToFile(const ClipboardItem& item)
{
    const QString stamp =
        QStringLiteral("Quillomare-") + item.createdAt.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name;
    QByteArray bytes;
    switch (item.payload.caseOf()) {
    case ClipboardPayload::Case::text:
        name = stamp + QStringLiteral(".txt");
        bytes = item.payload.textValue().toUtf8();
        break;
    case ClipboardPayload::Case::imagePNG:
        name = stamp + QStringLiteral(".png");
        bytes = item.payload.imagePNGValue();
        break;
    case ClipboardPayload::Case::fileURLs:
        reportAndShowHistory(Language::text(QStringLiteral("文件类历史本身已在磁盘上，可用「在文件夹中显示」"),
                                            QStringLiteral("File items are already on disk — use Show in Folder")));
        return;
    case ClipboardPayload::Case::empty:
        reportAndShowHistory(Language::text(QStringLiteral("这条历史没有可导出的内容"),
                                            QStringLiteral("Nothing to export for this item")));
        return;
    }

    island().hide();
    QPointer<AppDelegate> self(this);
    savePanel().beginSave(name, [self, bytes](const QString& path) {
        // The file is written even if no one is left to hear how it went.
        const std::optional<QString> failure = writeWholeFile(path, bytes);
        if (failure && self) {
            const QString file = QFileInfo(path).fileName();
            self->reportAndShowHistory(
                Language::text(QStringLiteral("无法保存“") + file + QStringLiteral("”：") + *failure,
                               QStringLiteral("Couldn't save “") + file + QStringLiteral("”: ") + *failure));
        }
    });
}

// MARK: - Sharing

void AppDelegate::airDropHistoryItem(const ClipboardItem& item)
{
    if (ClipboardSharingService::airDrop(item)) {
        island().hide();
        return;
    }
    reportAndShowHistory(ClipboardSharingService::serviceIsInstalled()
                             ? Language::text(QStringLiteral("这项内容无法通过 KDE Connect 发送"),
                                              QStringLiteral("This item can't be sent via KDE Connect"))
                             : Language::text(QStringLiteral("这项内容无法发送：未安装 KDE Connect；安装 KDE Connect"
                                                             "（软件包 kdeconnect）后才能发送到手机"),
                                              QStringLiteral("This item can't be sent: KDE Connect is not installed; "
                                                             "install KDE Connect (package kdeconnect) to send items "
                                                             "to a phone")));
}

// MARK: - Reveal in the file manager

void AppDelegate::revealHistoryItem(const ClipboardItem& item)
{
    if (ClipboardFileActions::revealTarget(item)) {
        island().hide();
        // The file manager comes forward once the island has begun to collapse; the files are
        // looked for again then, as they may be gone by now.
        QTimer::singleShot(revealDelayMilliseconds, this, [this, item] {
            const std::optional<ShelfRevealTarget> target = ClipboardFileActions::revealTarget(item);
            if (!target)
                reportAndShowHistory(Language::text(QStringLiteral("这条历史不能在文件管理器中显示"),
                                                    QStringLiteral("This item can't be shown in the file manager")));
            else if (!showInFileManager(*target))
                reportAndShowHistory(noFileManagerMessage(target->urls.first()));
        });
        return;
    }
    if (item.payload.isImagePNG() && item.payload.imagePNGByteCount() > 0 && !item.isSensitive) {
        exportImageAndRevealInFinder(item);
        return;
    }
    reportAndShowHistory(
        Language::text(QStringLiteral("这条历史没有可显示的文件"), QStringLiteral("This item has no file to show")));
}

void AppDelegate::exportImageAndRevealInFinder(const ClipboardItem& item,
                                               const std::function<void(const QString&)>& reportFailure)
{
    const auto fail = [&](const QString& message) {
        if (reportFailure)
            reportFailure(message);
        else
            reportAndShowHistory(message);
    };
    std::optional<QString> path;
    try {
        path = ClipboardImageExportStore::exportImage(item);
    } catch (const Error& error) {
        fail(Language::text(QStringLiteral("图片导出失败："), QStringLiteral("Image export failed: ")) +
             error.localizedDescription());
        return;
    }
    if (!path) {
        fail(Language::text(QStringLiteral("这条历史没有可导出的图片"),
                            QStringLiteral("This item has no exportable image")));
        return;
    }
    island().hide();
    QTimer::singleShot(revealDelayMilliseconds, this, [this, url = QUrl::fromLocalFile(*path), reportFailure] {
        if (workspace().activateFileViewerSelecting({url}))
            return;
        if (reportFailure)
            reportFailure(noFileManagerMessage(url));
        else
            reportAndShowHistory(noFileManagerMessage(url));
    });
}

} // namespace QuillomareMac
