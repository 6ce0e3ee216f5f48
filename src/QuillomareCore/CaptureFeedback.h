#pragma once

#include "ClipboardItem.h"

#include <optional>

namespace QuillomareCore {

// The text model of the capture echo: what became of one clipboard change.
struct CaptureFeedback
{
    class SaveStatus
    {
    public:
        enum class Case : quint8 { ignored, failed, saved, duplicate };

        static SaveStatus ignored(QString reason) { return SaveStatus(Case::ignored, std::move(reason)); }
        static SaveStatus failed(QString reason) { return SaveStatus(Case::failed, std::move(reason)); }
        static SaveStatus saved() { return SaveStatus(Case::saved, {}); }
        static SaveStatus duplicate() { return SaveStatus(Case::duplicate, {}); }

        Case caseOf() const { return m_case; }
        // The reason of `ignored` and `failed`; empty for the others.
        const QString& reason() const { return m_reason; }

        friend bool operator==(const SaveStatus&, const SaveStatus&) = default;

    private:
        SaveStatus(Case c, QString reason) : m_case(c), m_reason(std::move(reason)) {}
        Case m_case;
        QString m_reason;
    };

    std::optional<ClipKind> kind;
    std::optional<QString> sourceAppName;
    bool isSensitive = false;
    SaveStatus status = SaveStatus::saved();

    friend bool operator==(const CaptureFeedback&, const CaptureFeedback&) = default;

    static CaptureFeedback from(const ClipboardCaptureResult& result, std::optional<ClipboardAddOutcome> addOutcome);
    static CaptureFeedback failed(QString reason, std::optional<ClipKind> kind, std::optional<QString> sourceAppName,
                                  bool isSensitive);

    // "已忽略", "未保存", "已保存", "重复"
    QString statusLabel() const;
    // The badge's main line: "敏感 · 1Password", "图片 · Preview", "文本"…
    QString primaryLabel() const;

    // Whether an ignored reason is about sensitive content, in either interface language.
    static bool reasonIndicatesSensitiveContent(const QString& reason);
    // The application named by the monitor's Chinese reason for a copy from an ignored application.
    static std::optional<QString> sourceAppNameFromReason(const QString& reason);
};

} // namespace QuillomareCore
