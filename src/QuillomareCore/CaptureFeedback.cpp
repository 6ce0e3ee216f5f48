#include "CaptureFeedback.h"

#include "Foundation.h"

namespace QuillomareCore {

namespace {

const QString kIgnoredSourcePrefix = QStringLiteral("已忽略来自 ");
const QString kIgnoredSourceSuffix = QStringLiteral(" 的剪贴板");

} // namespace

bool CaptureFeedback::reasonIndicatesSensitiveContent(const QString& reason)
{
    // The monitor's Chinese reasons for secrets and for unnamed ignored applications both carry
    // "敏感"; their English forms are "Ignored sensitive content: …" and
    // "Ignored clipboard from a restricted app".
    return reason.contains(QStringLiteral("敏感")) || reason.startsWith(QStringLiteral("Ignored sensitive content")) ||
           reason == QStringLiteral("Ignored clipboard from a restricted app");
}

std::optional<QString> CaptureFeedback::sourceAppNameFromReason(const QString& reason)
{
    if (!reason.startsWith(kIgnoredSourcePrefix) || !reason.endsWith(kIgnoredSourceSuffix))
        return std::nullopt;
    const qsizetype nameLength = reason.size() - kIgnoredSourcePrefix.size() - kIgnoredSourceSuffix.size();
    if (nameLength < 1)
        return std::nullopt;
    return reason.mid(kIgnoredSourcePrefix.size(), nameLength);
}

CaptureFeedback CaptureFeedback::from(const ClipboardCaptureResult& result,
                                      std::optional<ClipboardAddOutcome> addOutcome)
{
    CaptureFeedback feedback;
    if (!result.ignoredReason) {
        if (!result.item) {
            feedback.status = SaveStatus::failed(QStringLiteral("未知捕获结果"));
            return feedback;
        }
        feedback.kind = result.item->kind;
        feedback.sourceAppName = result.item->sourceAppName;
        feedback.isSensitive = result.item->isSensitive;
        feedback.status = addOutcome == ClipboardAddOutcome::deduplicated ? SaveStatus::duplicate() : SaveStatus::saved();
        return feedback;
    }

    const QString& reason = *result.ignoredReason;
    if (result.item)
        feedback.kind = result.item->kind;
    if (result.item && result.item->sourceAppName)
        feedback.sourceAppName = result.item->sourceAppName;
    else
        feedback.sourceAppName = sourceAppNameFromReason(reason);
    feedback.isSensitive = reasonIndicatesSensitiveContent(reason);
    feedback.status = SaveStatus::ignored(reason);
    return feedback;
}

CaptureFeedback CaptureFeedback::failed(QString reason, std::optional<ClipKind> kind,
                                        std::optional<QString> sourceAppName, bool isSensitive)
{
    return CaptureFeedback{kind, std::move(sourceAppName), isSensitive, SaveStatus::failed(std::move(reason))};
}

QString CaptureFeedback::statusLabel() const
{
    switch (status.caseOf()) {
    case SaveStatus::Case::ignored:
        return QStringLiteral("已忽略");
    case SaveStatus::Case::failed:
        return QStringLiteral("未保存");
    case SaveStatus::Case::saved:
        return QStringLiteral("已保存");
    case SaveStatus::Case::duplicate:
        break;
    }
    return QStringLiteral("重复");
}

QString CaptureFeedback::primaryLabel() const
{
    QString shortName = sourceAppName ? Text::trimmed(*sourceAppName) : QString();
    if (Text::graphemeCount(shortName) >= 9)
        shortName = Text::graphemePrefix(shortName, 7) + QChar(0x2026);

    QString label = isSensitive ? QStringLiteral("敏感") : (kind ? kind->localizedName() : ClipKind().localizedName());
    if (!shortName.isEmpty())
        label += QStringLiteral(" · ") + shortName;
    return label;
}

} // namespace QuillomareCore
