#include "Notice.h"

#include "Language.h"
#include "StoredImage.h"

#include <QStringList>

#include <optional>

namespace QuillomareCore {

namespace Notice {

namespace {

constexpr QChar kDetailsSeparator = QChar::ParagraphSeparator;

// The reason without the part every unreadable image shares, when it has it.
std::optional<QString> withoutUnreadablePart(const QString& reason)
{
    const QString shared = unreadableImageText(QString());
    for (const QString& separator : {QStringLiteral(": "), QStringLiteral("：")}) {
        if (reason.startsWith(shared + separator))
            return reason.mid(shared.size() + separator.size());
    }
    return std::nullopt;
}

} // namespace

QString withDetails(const QString& headline, const QString& details)
{
    return headline + kDetailsSeparator + details;
}

QString headline(const QString& message)
{
    return message.section(kDetailsSeparator, 0, 0);
}

QString whole(const QString& message)
{
    QString text = message;
    return text.replace(kDetailsSeparator, QStringLiteral("\n\n"));
}

QString removedImages(const QList<RemovedImage>& images)
{
    QStringList reasons;
    QStringList names;
    for (const RemovedImage& image : images) {
        if (!reasons.contains(image.reason))
            reasons.append(image.reason);
        names.append(image.description);
    }
    if (images.size() == 1) {
        return Language::text(QStringLiteral("%1。已从历史中移除：%2。其余内容均已保存"),
                              QStringLiteral("%1. Removed from the history: %2. Everything else is saved"))
            .arg(reasons.first(), names.first());
    }

    // Each reason is told of one image; the part they share is said once, of all of them.
    QStringList specific;
    bool allUnreadable = true;
    for (const QString& reason : std::as_const(reasons)) {
        const auto rest = withoutUnreadablePart(reason);
        allUnreadable = allUnreadable && rest;
        if (rest && !specific.contains(*rest))
            specific.append(*rest);
    }
    const QString count = QString::number(images.size());
    const QString headline =
        allUnreadable
            ? Language::text(
                  QStringLiteral("%1 张图片已从历史中移除：无法从历史文件读取这些图片（%2）。其余内容均已保存"),
                  QStringLiteral("%1 images were removed from the history: they couldn't be read from the "
                                 "history file. For each, %2. Everything else is saved"))
                  .arg(count, specific.join(Language::text(QStringLiteral("；"), QStringLiteral(", or "))))
            : Language::text(QStringLiteral("%1 张图片已从历史中移除：%2。其余内容均已保存"),
                             QStringLiteral("%1 images were removed from the history: %2. Everything else is saved"))
                  .arg(count, reasons.join(Language::text(QStringLiteral("；"), QStringLiteral("; "))));
    const QString details = Language::text(QStringLiteral("已移除："), QStringLiteral("Removed:")) + QLatin1Char('\n') +
                            names.join(QLatin1Char('\n'));
    return withDetails(headline, details);
}

} // namespace Notice

} // namespace QuillomareCore
