#include "PreferencesWindowController.h"

#include "Island/Kit/IslandTheme.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "Shell/LoginItemController.h"
#include "Shell/PairingDiagnosticReport.h"
#include "Shell/WindowText.h"

#include <Platform/CloudDatabase.h>
#include <Platform/SharingService.h>
#include <QuillomareCore/ClipboardStore.h>
#include <QuillomareCore/Language.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

namespace QuillomareMac {

using namespace QuillomareCore;

namespace {

constexpr int fieldWidth = 390;
constexpr int stackWidth = PreferencesWindowController::windowWidth - 2 * 24;

enum class Tone
{
    primary,
    secondary,
    tertiary
};

// A wrapping label as high as its lines at its own width. A section offers its rows its whole
// width, wider than a label of fixed width; asked for the height at that width, a plain QLabel
// counts fewer lines than it then draws, and the layout cuts the text at the top and the bottom.
class WrappingLabel final : public QLabel
{
public:
    using QLabel::QLabel;

    int heightForWidth(int width) const override { return QLabel::heightForWidth(std::min(width, maximumWidth())); }
};

QLabel* makeLabel(const QString& text, qreal points, QFont::Weight weight, Tone tone, bool wraps = false)
{
    auto* label = wraps ? new WrappingLabel(WindowText::keepingKeyCombinationsWhole(text)) : new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(IslandTheme::systemFont(points, weight));
    label->setWordWrap(wraps);
    if (tone != Tone::primary) {
        QPalette palette = label->palette();
        QColor colour = palette.color(QPalette::WindowText);
        colour.setAlphaF(tone == Tone::secondary ? 0.7f : 0.5f);
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
    }
    return label;
}

QCheckBox* makeCheckbox(const QString& name, const QString& chinese, const QString& english)
{
    auto* checkbox = new QCheckBox(Language::text(chinese, english));
    checkbox->setObjectName(name);
    return checkbox;
}

QColor stateColour(PairingReadinessChecklist::State state)
{
    switch (state) {
    case PairingReadinessChecklist::State::ready:
        return IslandTheme::rgb(52 / 255.0, 199 / 255.0, 89 / 255.0);
    case PairingReadinessChecklist::State::actionNeeded:
        return IslandTheme::rgb(1.0, 149 / 255.0, 0.0);
    case PairingReadinessChecklist::State::checking:
        return IslandTheme::rgb(142 / 255.0, 142 / 255.0, 147 / 255.0);
    case PairingReadinessChecklist::State::verifyOnDevice:
        break;
    }
    return IslandTheme::rgb(0.0, 122 / 255.0, 1.0);
}

} // namespace

PreferencesWindowController::PreferencesWindowController(ClipboardStore& store, Platform::Pasteboard& pasteboard,
                                                         QObject* parent)
    : QObject(parent),
      recordsRoot(Platform::CloudDatabase::defaultRecordsRoot()),
      m_store(store),
      m_pasteboard(pasteboard),
      m_window(std::make_unique<QWidget>())
{
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_window->setWindowTitle(
        Language::text(QStringLiteral("Quillomare偏好设置"), QStringLiteral("Quillomare Preferences")));
    m_window->setFixedSize(windowWidth, maximumWindowHeight);
    setup();
    positionWithinVisibleFrame();
}

PreferencesWindowController::~PreferencesWindowController()
{
    // Closing the window ends a field's edit; nothing may be saved on the way out.
    for (QObject* control : m_window->findChildren<QObject*>())
        control->disconnect(this);
}

QWidget* PreferencesWindowController::window() const
{
    return m_window.get();
}

// MARK: - Layout

void PreferencesWindowController::setup()
{
    m_captureCheckbox = makeCheckbox(QStringLiteral("captureCheckbox"), QStringLiteral("自动记录剪贴板"),
                                     QStringLiteral("Auto Capture Clipboard"));
    auto add = [this](const char* name, const QString& chinese, const QString& english, bool ClipSettings::*flag) {
        QCheckBox* checkbox = makeCheckbox(QString::fromLatin1(name), chinese, english);
        m_settingCheckboxes.append({checkbox, flag});
        return checkbox;
    };
    QCheckBox* launchAtLogin = add("launchAtLoginCheckbox", QStringLiteral("登录时自动启动"),
                                   QStringLiteral("Launch at Login"), &ClipSettings::launchAtLoginEnabled);
    QCheckBox* showIsland = add("showIslandCheckbox", QStringLiteral("复制后显示灵动岛"),
                                QStringLiteral("Show Island After Copy"), &ClipSettings::showIslandAfterCapture);
    QCheckBox* echo = add("smartCopyEchoCheckbox", QStringLiteral("复制后在灵动岛显示简短回响"),
                          QStringLiteral("Show Brief Echo in Island After Copy"), &ClipSettings::smartCopyEchoEnabled);
    QCheckBox* hotKey =
        add("hotKeyCheckbox", QStringLiteral("Ctrl + Alt + V 快速打开灵动岛"),
            QStringLiteral("Ctrl + Alt + V to Quickly Open Island"), &ClipSettings::hotKeyEnabled);
    add("sensitiveCheckbox", QStringLiteral("自动忽略敏感内容"), QStringLiteral("Auto Ignore Sensitive Content"),
        &ClipSettings::ignoreSensitiveContent);
    add("sensitiveLocalOnlyCheckbox", QStringLiteral("未忽略时标记为仅本机"),
        QStringLiteral("Mark as Local Only When Not Ignored"), &ClipSettings::markSensitiveLocalOnly);
    add("cloudCheckbox", QStringLiteral("启用文件夹同步"), QStringLiteral("Enable Folder Sync"),
        &ClipSettings::cloudSyncEnabled);
    add("richContentCloudCheckbox", QStringLiteral("同步新图片和文件到同步文件夹"),
        QStringLiteral("Sync New Images and Files to the Sync Folder"), &ClipSettings::syncRichContentToICloud);

    m_echoHintLabel = makeLabel(Language::text(QStringLiteral("开启完整展开时，回响不会显示。"),
                                               QStringLiteral("The echo is hidden when full expansion is enabled.")),
                                11, QFont::Normal, Tone::tertiary, true);
    m_echoHintLabel->setFixedWidth(stackWidth);
    m_launchAtLoginStatusLabel = makeLabel({}, 11, QFont::Normal, Tone::secondary, true);
    m_launchAtLoginStatusLabel->setObjectName(QStringLiteral("launchAtLoginStatusLabel"));
    m_launchAtLoginStatusLabel->setFixedWidth(stackWidth);
    {
        QPalette palette = m_launchAtLoginStatusLabel->palette();
        palette.setColor(QPalette::WindowText, stateColour(PairingReadinessChecklist::State::actionNeeded));
        m_launchAtLoginStatusLabel->setPalette(palette);
    }

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    // Clicks on buttons and the background must leave a field's edit running.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(true);
    auto* document = new QWidget;
    document->setAutoFillBackground(false);
    auto* main = new QVBoxLayout(document);
    main->setContentsMargins(24, 22, 24, 22);
    main->setSpacing(18);
    main->addWidget(makeHeader());
    main->addWidget(makeSection(
        Language::text(QStringLiteral("捕获"), QStringLiteral("Capture")),
        {m_captureCheckbox, launchAtLogin, m_launchAtLoginStatusLabel, showIsland, echo, m_echoHintLabel, hotKey}));
    main->addWidget(makePrivacySection());
    main->addWidget(makeHistorySection());
    main->addWidget(makeCloudSection());
    m_statusLabel = makeLabel({}, 12, QFont::Normal, Tone::secondary, true);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    main->addWidget(m_statusLabel);
    main->addStretch(1);
    scroll->setWidget(document);
    auto* outer = new QVBoxLayout(m_window.get());
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    // `clicked` comes from the user only, so a refresh never saves.
    connect(m_captureCheckbox, &QCheckBox::clicked, this, [this] { toggleChanged(m_captureCheckbox); });
    for (const auto& [checkbox, flag] : m_settingCheckboxes)
        connect(checkbox, &QCheckBox::clicked, this, [this, checkbox = checkbox] { toggleChanged(checkbox); });
    connect(m_historyStepper, &QSpinBox::valueChanged, this, &PreferencesWindowController::historyStepperChanged);
    // Return and leaving the field both end an edit.
    connect(m_containerField, &QLineEdit::editingFinished, this, &PreferencesWindowController::containerFieldChanged);
    connect(m_ignoredSourceField, &QLineEdit::editingFinished, this,
            &PreferencesWindowController::ignoredSourceFieldChanged);
    connect(m_copyContainerButton, &QPushButton::clicked, this, &PreferencesWindowController::copyContainerIdentifier);
    connect(m_copyDiagnosticsButton, &QPushButton::clicked, this, &PreferencesWindowController::copyPairingDiagnostics);
    refresh();
}

QWidget* PreferencesWindowController::makeHeader()
{
    auto* header = new QWidget;
    auto* stack = new QVBoxLayout(header);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    stack->addWidget(makeLabel(QStringLiteral("Quillomare"), 22, QFont::DemiBold, Tone::primary));
    stack->addWidget(
        makeLabel(Language::text(QStringLiteral("本地优先保存历史，同步文件夹只接收非敏感内容。"),
                                 QStringLiteral("History is saved locally first; only non-sensitive content "
                                                "goes to the sync folder.")),
                  13, QFont::Normal, Tone::secondary, true));
    return header;
}

QWidget* PreferencesWindowController::makeSection(const QString& title, const QList<QWidget*>& views)
{
    auto* section = new QWidget;
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(9);
    stack->addWidget(makeLabel(title, 12, QFont::DemiBold, Tone::tertiary));
    for (QWidget* view : views)
        stack->addWidget(view, 0, Qt::AlignLeft);
    return section;
}

QWidget* PreferencesWindowController::makePrivacySection()
{
    m_ignoredSourceField = new QLineEdit;
    m_ignoredSourceField->setObjectName(QStringLiteral("ignoredSourceField"));
    m_ignoredSourceField->setFixedWidth(fieldWidth);
    m_ignoredSourceField->setFont(IslandTheme::systemFont(12));
    m_ignoredSourceField->setPlaceholderText(ClipDefaults::ignoredSourceBundleIdentifiers().join(QStringLiteral(", ")));
    m_privacyLabel = makeLabel({}, 12, QFont::Normal, Tone::secondary, true);
    m_privacyLabel->setObjectName(QStringLiteral("privacyLabel"));
    m_privacyLabel->setFixedWidth(fieldWidth);
    QList<QWidget*> views;
    for (const auto& [checkbox, flag] : m_settingCheckboxes)
        if (flag == &ClipSettings::ignoreSensitiveContent || flag == &ClipSettings::markSensitiveLocalOnly)
            views.append(checkbox);
    views << makeLabel(Language::text(QStringLiteral("自动忽略来源应用 ID（逗号分隔）"),
                                      QStringLiteral("Auto-Ignored Source App IDs (comma-separated)")),
                       12, QFont::Medium, Tone::secondary)
          << m_ignoredSourceField << m_privacyLabel;
    return makeSection(Language::text(QStringLiteral("隐私"), QStringLiteral("Privacy")), views);
}

QWidget* PreferencesWindowController::makeHistorySection()
{
    m_historyStepper = new QSpinBox;
    m_historyStepper->setObjectName(QStringLiteral("historyStepper"));
    m_historyStepper->setRange(minimumHistoryCount, maximumHistoryCount);
    m_historyStepper->setSingleStep(historyStep);
    m_historyStepper->setKeyboardTracking(false);
    m_historyStepper->setSuffix(Language::text(QStringLiteral(" 条"), QStringLiteral(" items")));
    // Shown only for a stored limit outside the stepper's range, which the stepper cannot show.
    m_historyLabel = makeLabel({}, 13, QFont::Medium, Tone::primary);
    m_historyLabel->setObjectName(QStringLiteral("historyLabel"));

    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(makeLabel(Language::text(QStringLiteral("最多保留"), QStringLiteral("Retention")), 13,
                                QFont::Normal, Tone::primary));
    layout->addWidget(m_historyStepper);
    layout->addWidget(m_historyLabel);
    layout->addStretch(1);
    return makeSection(Language::text(QStringLiteral("历史"), QStringLiteral("History")), {row});
}

QWidget* PreferencesWindowController::makeCloudSection()
{
    m_copyContainerButton = new QPushButton(Language::text(QStringLiteral("复制"), QStringLiteral("Copy")));
    m_copyContainerButton->setObjectName(QStringLiteral("copyContainerButton"));
    m_copyDiagnosticsButton =
        new QPushButton(Language::text(QStringLiteral("复制联动诊断"), QStringLiteral("Copy Sync Diagnostics")));
    m_copyDiagnosticsButton->setObjectName(QStringLiteral("copyDiagnosticsButton"));
    // A click must not end an edit of the container field: the report shows the field as typed.
    m_copyContainerButton->setFocusPolicy(Qt::TabFocus);
    m_copyDiagnosticsButton->setFocusPolicy(Qt::TabFocus);
    auto* row = new QWidget;
    row->setFixedWidth(fieldWidth);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(makeLabel(QStringLiteral("Container Identifier"), 12, QFont::Medium, Tone::secondary));
    layout->addStretch(1);
    layout->addWidget(m_copyContainerButton);
    layout->addWidget(m_copyDiagnosticsButton);

    m_containerField = new QLineEdit;
    m_containerField->setObjectName(QStringLiteral("containerField"));
    m_containerField->setFixedWidth(380);
    m_containerField->setFont(IslandTheme::systemFont(13));
    m_containerField->setPlaceholderText(ClipDefaults::cloudContainerIdentifier);
    m_cloudReadinessLabel = makeLabel({}, 12, QFont::Normal, Tone::secondary, true);
    m_cloudReadinessLabel->setObjectName(QStringLiteral("cloudReadinessLabel"));
    m_cloudReadinessLabel->setFixedWidth(fieldWidth);
    m_pairingChecklist = new QWidget;
    m_pairingChecklist->setObjectName(QStringLiteral("pairingChecklist"));
    m_pairingChecklist->setFixedWidth(fieldWidth);
    m_pairingChecklistStack = new QVBoxLayout(m_pairingChecklist);
    m_pairingChecklistStack->setContentsMargins(0, 0, 0, 0);
    m_pairingChecklistStack->setSpacing(6);

    QList<QWidget*> views;
    for (const auto& [checkbox, flag] : m_settingCheckboxes)
        if (flag == &ClipSettings::cloudSyncEnabled || flag == &ClipSettings::syncRichContentToICloud)
            views.append(checkbox);
    views << row << m_containerField << m_cloudReadinessLabel << m_pairingChecklist;
    return makeSection(Language::text(QStringLiteral("文件夹同步"), QStringLiteral("Folder Sync")), views);
}

QWidget* PreferencesWindowController::makeChecklistRow(const PairingReadinessChecklist::Item& item)
{
    const QColor colour = stateColour(item.state);
    auto* badge = makeLabel(PairingReadinessChecklist::label(item.state), 11, QFont::DemiBold, Tone::primary);
    badge->setObjectName(QStringLiteral("checklistBadge"));
    badge->setAlignment(Qt::AlignCenter);
    // 52 wide unless a label needs more ("Action needed"); every row's badge is as wide as the
    // widest label, so that the texts beside them start at one place.
    int badgeWidth = 52;
    for (const auto state : {PairingReadinessChecklist::State::ready, PairingReadinessChecklist::State::actionNeeded,
                             PairingReadinessChecklist::State::verifyOnDevice, PairingReadinessChecklist::State::checking})
        badgeWidth = std::max(badgeWidth,
                              badge->fontMetrics().horizontalAdvance(PairingReadinessChecklist::label(state)) + 12);
    badge->setFixedSize(badgeWidth, 20);
    QColor fill = colour;
    fill.setAlphaF(0.12f);
    badge->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 7px; }")
                             .arg(colour.name(QColor::HexRgb), fill.name(QColor::HexArgb)));
    auto* text = makeLabel(item.title + Language::text(QStringLiteral("："), QStringLiteral(": ")) + item.detail, 12,
                           QFont::Normal, Tone::secondary, true);
    text->setObjectName(QStringLiteral("checklistText"));
    text->setFixedWidth(fieldWidth - 8 - badgeWidth);

    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(badge, 0, Qt::AlignTop);
    layout->addWidget(text, 0, Qt::AlignTop);
    layout->addStretch(1);
    return row;
}

// MARK: - Refresh

void PreferencesWindowController::refresh()
{
    const ClipSettings settings = m_store.settings();
    m_captureCheckbox->setChecked(captureEnabled());
    for (const auto& [checkbox, flag] : m_settingCheckboxes)
        checkbox->setChecked(settings.*flag);
    // The entry is read each time: the desktop's start-up settings may have switched it off
    // since the program wrote it. Said only when it is not what the ticked box promises.
    const LoginItemController::Status loginItem = LoginItemController::status();
    m_launchAtLoginStatusLabel->setVisible(settings.launchAtLoginEnabled &&
                                           loginItem != LoginItemController::Status::enabled);
    if (!m_launchAtLoginStatusLabel->isHidden())
        m_launchAtLoginStatusLabel->setText(LoginItemController::statusLine());
    m_ignoredSourceField->setText(settings.ignoredSourceBundleIdentifiers.join(QStringLiteral(", ")));
    m_ignoredSourceField->setCursorPosition(0);
    {
        const QSignalBlocker blocker(m_historyStepper);
        m_historyStepper->setValue(int(std::clamp<qint64>(settings.maxHistoryCount, 0, maximumHistoryCount)));
    }
    m_historyLabel->setText(QString::number(settings.maxHistoryCount) +
                            Language::text(QStringLiteral(" 条"), QStringLiteral(" items")));
    m_historyLabel->setVisible(settings.maxHistoryCount != m_historyStepper->value());
    m_containerField->setText(settings.resolvedCloudContainerIdentifier());
    m_containerField->setCursorPosition(0);
    m_privacyLabel->setText(privacyStatus(settings));
    const PairingReadinessChecklist::MachineConditions machine =
        machineConditions(settings.resolvedCloudContainerIdentifier());
    m_cloudReadinessLabel->setText(cloudReadinessStatus(machine));
    refreshPairingChecklist(settings, machine);
    m_statusLabel->setText(cloudStatusText(settings));
    probePairedDevice();
}

void PreferencesWindowController::probePairedDevice()
{
    if (m_pairedDeviceProbeRunning) {
        m_pairedDeviceProbeWanted = true;
        return;
    }
    std::shared_ptr<Platform::SharingService> service = sharingServiceProvider ? sharingServiceProvider() : nullptr;
    if (!service)
        return;
    m_pairedDeviceProbeRunning = true;
    m_pairedDeviceProbeWanted = false;
    // The answer comes back through the application object, so that the pointer is looked at
    // on the GUI thread only, where the window may have been closed meanwhile.
    QPointer<PreferencesWindowController> self(this);
    (void)QtConcurrent::run([service = std::move(service), self] {
        const Platform::SharingService::Availability availability = service->availability();
        if (QCoreApplication* application = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                application,
                [self, availability] {
                    if (self)
                        self->pairedDeviceProbeFinished(availability);
                },
                Qt::QueuedConnection);
    });
}

void PreferencesWindowController::pairedDeviceProbeFinished(Platform::SharingService::Availability availability)
{
    m_pairedDeviceProbeRunning = false;
    m_sharingAvailability = availability;
    const ClipSettings settings = m_store.settings();
    refreshPairingChecklist(settings, machineConditions(settings.resolvedCloudContainerIdentifier()));
    if (m_pairedDeviceProbeWanted)
        probePairedDevice();
}

void PreferencesWindowController::refreshPairingChecklist(const ClipSettings& settings,
                                                          const PairingReadinessChecklist::MachineConditions& machine)
{
    while (QLayoutItem* row = m_pairingChecklistStack->takeAt(0)) {
        delete row->widget();
        delete row;
    }
    m_pairingChecklistStack->addWidget(
        makeLabel(Language::text(QStringLiteral("联动就绪清单"), QStringLiteral("Sync Readiness Checklist")), 12,
                  QFont::DemiBold, Tone::tertiary));
    const auto items = PairingReadinessChecklist::make(settings, captureEnabled(), cloudState(), machine);
    for (const PairingReadinessChecklist::Item& item : items)
        m_pairingChecklistStack->addWidget(makeChecklistRow(item));
}

bool PreferencesWindowController::captureEnabled() const
{
    return captureEnabledProvider ? captureEnabledProvider() : true;
}

CloudSyncState PreferencesWindowController::cloudState() const
{
    return cloudStateProvider ? cloudStateProvider() : CloudSyncState::idle();
}

PairingReadinessChecklist::MachineConditions
PreferencesWindowController::machineConditions(const QString& containerIdentifier) const
{
    PairingReadinessChecklist::MachineConditions conditions =
        PairingReadinessChecklist::syncFolderConditions(containerIdentifier, recordsRoot);
    // Until the first answer the row says it is checking; later probes keep the last answer
    // in view, so that each click in the window does not make the row flicker.
    using Availability = Platform::SharingService::Availability;
    conditions.pairedDeviceChecking = sharingServiceProvider && !m_sharingAvailability;
    conditions.pairedDeviceReachable = sharingServiceProvider && m_sharingAvailability == Availability::available;
    conditions.sharingServiceInstalled = !sharingServiceProvider || m_sharingAvailability != Availability::notInstalled;
    conditions.hotKeyRegistered = hotKeyRegisteredProvider && hotKeyRegisteredProvider();
    return conditions;
}

QString PreferencesWindowController::privacyStatus(const ClipSettings& settings)
{
    QString sentence;
    if (settings.ignoreSensitiveContent)
        sentence =
            Language::text(QStringLiteral("疑似密码、密钥、令牌和卡号不会写入历史"),
                           QStringLiteral("Suspected passwords, keys, tokens and card numbers will not be saved to "
                                          "history"));
    else if (settings.markSensitiveLocalOnly)
        sentence =
            Language::text(QStringLiteral("允许保存敏感文本时会隐藏预览，并标记为仅本机；文件夹同步仍会跳过敏感项"),
                           QStringLiteral("When saving sensitive text is allowed, the preview is hidden and the "
                                          "item is marked local only; folder sync still skips sensitive items"));
    else
        sentence = Language::text(QStringLiteral("允许保存敏感文本时会隐藏预览；文件夹同步仍会跳过敏感项"),
                                  QStringLiteral("When saving sensitive text is allowed, the preview is hidden; folder "
                                                 "sync still skips sensitive items"));
    const QString count = QString::number(settings.ignoredSourceBundleIdentifiers.size());
    if (!settings.ignoredSourceBundleIdentifiers.isEmpty())
        sentence +=
            Language::text(QStringLiteral("；已自动忽略 ") + count + QStringLiteral(" 个高风险来源 App"),
                           QStringLiteral("; ") + count + QStringLiteral(" high-risk source app(s) auto-ignored"));
    return sentence + Language::text(QStringLiteral("。"), QStringLiteral("."));
}

QString PreferencesWindowController::cloudReadinessStatus(const PairingReadinessChecklist::MachineConditions& machine)
{
    if (machine.syncFolderProblem)
        return Language::text(QStringLiteral("联动检查：") + *machine.syncFolderProblem +
                                  QStringLiteral("。各台电脑需使用同一个同步容器。"),
                              QStringLiteral("Sync check: ") + *machine.syncFolderProblem +
                                  QStringLiteral(". Every computer must use the same sync container."));
    const QString folder = QDir::toNativeSeparators(machine.syncFolder);
    return Language::text(QStringLiteral("联动检查：记录写入 ") + folder +
                              QStringLiteral("，用文件同步工具在电脑之间同步它。"),
                          QStringLiteral("Sync check: records go to ") + folder +
                              QStringLiteral("; a file-sync tool carries them between computers."));
}

QString PreferencesWindowController::cloudStatusText(const ClipSettings& settings) const
{
    const QString localMode =
        Language::text(QStringLiteral("当前为本地模式。"), QStringLiteral("Currently in local mode."));
    if (!settings.cloudSyncEnabled)
        return localMode;
    if (cloudStateProvider) {
        const CloudSyncState state = cloudStateProvider();
        switch (state.caseOf()) {
        case CloudSyncState::Case::unavailable:
            return Language::text(QStringLiteral("同步文件夹不可用："), QStringLiteral("Sync folder unavailable: ")) +
                   state.text();
        case CloudSyncState::Case::failed:
            return Language::text(QStringLiteral("文件夹同步失败："), QStringLiteral("Folder sync failed: ")) +
                   state.text();
        case CloudSyncState::Case::disabled:
            return localMode;
        case CloudSyncState::Case::syncing:
            return Language::text(QStringLiteral("正在与同步文件夹同步历史。"),
                                  QStringLiteral("Syncing history with the sync folder."));
        case CloudSyncState::Case::idle:
            break;
        }
    }
    if (!settings.syncRichContentToICloud)
        return Language::text(QStringLiteral("默认只同步文本和链接；图片和文件仅本机保留。"),
                              QStringLiteral("Only text and links sync by default; images and files stay local."));
    return Language::text(
        QStringLiteral("同步会跳过敏感和仅本机内容；新保存的图片和文件可同步。"),
        QStringLiteral("Sync skips sensitive and local-only content; newly saved images and files can "
                       "sync."));
}

// MARK: - Actions

void PreferencesWindowController::toggleChanged(QCheckBox* sender)
{
    const bool on = sender->isChecked();
    if (sender == m_captureCheckbox) {
        // Capture is never a setting: it runs or pauses for this process only.
        if (onCaptureEnabledChanged)
            onCaptureEnabledChanged(on);
        refresh();
        return;
    }
    for (const auto& [checkbox, flag] : m_settingCheckboxes)
        if (checkbox == sender)
            updateSettings([flag = flag, on](ClipSettings& settings) { settings.*flag = on; });
}

void PreferencesWindowController::historyStepperChanged()
{
    const int count = std::max(m_historyStepper->value(), minimumHistoryCount);
    updateSettings([count](ClipSettings& settings) { settings.maxHistoryCount = count; });
}

void PreferencesWindowController::containerFieldChanged()
{
    const QString identifier = m_containerField->text().trimmed();
    updateSettings([identifier](ClipSettings& settings) {
        settings.cloudContainerIdentifier = identifier.isEmpty() ? std::nullopt : std::optional<QString>(identifier);
    });
}

void PreferencesWindowController::ignoredSourceFieldChanged()
{
    const QStringList identifiers = parsedIgnoredSources(m_ignoredSourceField->text());
    updateSettings([identifiers](ClipSettings& settings) { settings.ignoredSourceBundleIdentifiers = identifiers; });
}

QStringList PreferencesWindowController::parsedIgnoredSources(const QString& text)
{
    static const QList<QChar> separators{u',', u';', u'\n', u'\r'};
    QStringList pieces;
    QString piece;
    for (const QChar character : text) {
        if (!separators.contains(character)) {
            piece += character;
            continue;
        }
        if (!piece.isEmpty())
            pieces.append(std::exchange(piece, QString()));
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    return ClipSettings::normalizedBundleIdentifiers(pieces);
}

void PreferencesWindowController::updateSettings(const std::function<void(ClipSettings&)>& change)
{
    const ClipSettings old = m_store.settings();
    m_store.updateSettings(change);
    // The change holds in memory from now on, written or not: the rest of the program follows
    // what the store holds, and a failed write only adds its reason below.
    if (onSettingsChanged)
        onSettingsChanged(old, m_store.settings());
    refresh();
    QPointer<PreferencesWindowController> self(this);
    m_store.whenSaved([self](const std::optional<QString>& error) {
        if (self && error)
            self->m_statusLabel->setText(Language::text(QStringLiteral("保存失败："), QStringLiteral("Save failed: ")) +
                                         *error);
    });
}

QString PreferencesWindowController::currentContainerIdentifier() const
{
    const QString identifier = m_containerField->text().trimmed();
    return identifier.isEmpty() ? ClipDefaults::cloudContainerIdentifier : identifier;
}

void PreferencesWindowController::copyContainerIdentifier()
{
    if (!MacPasteboardWriter::copyString(currentContainerIdentifier(), m_pasteboard)) {
        m_statusLabel->setText(Language::text(QStringLiteral("复制 Container Identifier 失败。"),
                                              QStringLiteral("Failed to copy Container Identifier.")));
        return;
    }
    if (onPasteboardWrite)
        onPasteboardWrite();
    m_statusLabel->setText(Language::text(QStringLiteral("已复制 Container Identifier。"),
                                          QStringLiteral("Container Identifier copied.")));
}

void PreferencesWindowController::copyPairingDiagnostics()
{
    // The report follows the field as typed, committed or not, and leaves the settings alone.
    const QString container = currentContainerIdentifier();
    ClipSettings settings = m_store.settings();
    settings.cloudContainerIdentifier =
        container == ClipDefaults::cloudContainerIdentifier ? std::nullopt : std::optional<QString>(container);
    const QString report = PairingDiagnosticReport::make(settings, captureEnabled(), cloudState(),
                                                         machineConditions(container), QDateTime::currentDateTimeUtc());
    if (!MacPasteboardWriter::copyString(report, m_pasteboard)) {
        m_statusLabel->setText(
            Language::text(QStringLiteral("复制联动诊断失败。"), QStringLiteral("Failed to copy sync diagnostics.")));
        return;
    }
    if (onPasteboardWrite)
        onPasteboardWrite();
    m_statusLabel->setText(
        Language::text(QStringLiteral("已复制联动诊断。"), QStringLiteral("Sync diagnostics copied.")));
}

// MARK: - Placement

QRect PreferencesWindowController::frameWithinVisibleFrame(const QRect& visibleFrame)
{
    const int height = std::min(visibleFrame.height() - 24, maximumWindowHeight);
    return {visibleFrame.x() + (visibleFrame.width() - windowWidth) / 2,
            visibleFrame.y() + (visibleFrame.height() - height) / 2, windowWidth, height};
}

void PreferencesWindowController::positionWithinVisibleFrame()
{
    QScreen* screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        m_window->move(-m_window->width() / 2, -m_window->height() / 2);
        return;
    }
    // Laid out for one width: the window keeps the size it is given here.
    const QRect frame = frameWithinVisibleFrame(screen->availableGeometry());
    m_window->setFixedSize(frame.size());
    m_window->setGeometry(frame);
}

} // namespace QuillomareMac
