#include "OnboardingWindowController.h"

#include "Island/IslandTheme.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "Shell/Localization.h"

#include <QuillomareCore/ClipSettings.h>

#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace QuillomareMac {

namespace {

constexpr int contentWidth = 500;
constexpr int stepBodyWidth = 456;

QColor labelColour(const QWidget* window)
{
    return window->palette().color(QPalette::WindowText);
}

QColor secondaryLabelColour(const QWidget* window)
{
    return IslandTheme::withAlpha(labelColour(window), 0.55);
}

// A plain-text label; with a width it wraps at that width and is as high as its lines need.
// Never capped: a guide whose sentences stop mid-way explains nothing, and at these widths
// several texts need a third line (in English more than in Chinese).
QLabel* makeLabel(const QString& text, qreal points, QFont::Weight weight, const QColor& colour, int width = 0)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(IslandTheme::systemFont(points, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    if (width > 0) {
        label->setWordWrap(true);
        label->setFixedWidth(width);
        label->setFixedHeight(label->heightForWidth(width));
    }
    return label;
}

QVBoxLayout* verticalStack(QWidget* owner, int spacing)
{
    auto* stack = new QVBoxLayout(owner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    return stack;
}

QPushButton* makeButton(const QString& title, const QString& objectName)
{
    auto* button = new QPushButton(title);
    button->setObjectName(objectName);
    return button;
}

} // namespace

OnboardingWindowController::OnboardingWindowController(Platform::Pasteboard& pasteboard, QObject* parent)
    : QObject(parent), containerIdentifier(QuillomareCore::ClipDefaults::cloudContainerIdentifier),
      m_pasteboard(pasteboard),
      m_window(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                      Qt::WindowCloseButtonHint))
{
    m_window->setObjectName(QStringLiteral("onboardingWindow"));
    m_window->setWindowTitle(
        L10n::text(QStringLiteral("Quillomare跨设备使用说明"), QStringLiteral("Quillomare Cross-device Guide")));
    m_window->setAutoFillBackground(true);
    setup();
    // Fixed, as designed; only taller than designed when the texts need it (larger fonts, a
    // language whose sentences run longer), so that nothing is cut and the buttons stay inside.
    m_window->setFixedSize(windowWidth, std::max(windowHeight, m_window->layout()->minimumSize().height()));
}

OnboardingWindowController::~OnboardingWindowController() = default;

void OnboardingWindowController::showWindow()
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void OnboardingWindowController::copyContainerIdentifier()
{
    // Success and failure are both silent; only a write that happened is reported.
    if (MacPasteboardWriter::copyString(containerIdentifier, m_pasteboard) && onPasteboardWrite)
        onPasteboardWrite();
}

void OnboardingWindowController::openPreferences()
{
    m_window->close();
    if (onOpenPreferences)
        onOpenPreferences();
}

void OnboardingWindowController::closeWindow()
{
    m_window->close();
}

void OnboardingWindowController::setup()
{
    auto* stack = new QVBoxLayout(m_window.get());
    stack->setContentsMargins(28, 26, 28, 22);
    stack->setSpacing(18);
    stack->addWidget(makeHeader(), 0, Qt::AlignLeft);
    stack->addWidget(makeSteps(), 0, Qt::AlignLeft);
    stack->addWidget(makePrivacyNote(), 0, Qt::AlignLeft);
    stack->addWidget(makeActions(), 0, Qt::AlignLeft);
    stack->addStretch(1);
}

QWidget* OnboardingWindowController::makeHeader()
{
    auto* header = new QWidget;
    QVBoxLayout* stack = verticalStack(header, 5);
    stack->addWidget(makeLabel(L10n::text(QStringLiteral("Mac 剪贴板、隔空投送和接力剪贴板"),
                                          QStringLiteral("Mac Clipboard, AirDrop & Universal Clipboard")),
                               23, QFont::DemiBold, labelColour(m_window.get()), contentWidth));
    stack->addWidget(makeLabel(
        L10n::text(QStringLiteral("Quillomare先作为 Mac 端效率工具使用；发到 iPhone 直接走系统 AirDrop，"
                                  "手机端 App 只是高级同步选项。"),
                   QStringLiteral("Quillomare works as a Mac productivity tool first; send to iPhone via system "
                                  "AirDrop, and the iPhone app is just an advanced sync option.")),
        13, QFont::Normal, secondaryLabelColour(m_window.get()), contentWidth));
    return header;
}

QWidget* OnboardingWindowController::makeSteps()
{
    auto* steps = new QWidget;
    QVBoxLayout* stack = verticalStack(steps, 10);
    stack->addWidget(makeStep(
        1, L10n::text(QStringLiteral("Mac 端保持自动记录"), QStringLiteral("Mac keeps capturing automatically")),
        L10n::text(QStringLiteral("菜单栏的Quillomare会监听文本、链接、文件和图片；Control + Option + V "
                                  "可随时打开刘海浮窗，直接输入搜索，方向键选择，回车复制。"),
                   QStringLiteral("Quillomare in the menu bar watches text, links, files and images; press Control "
                                  "+ Option + V to open the notch panel anytime — type to search, arrow keys to "
                                  "select, Return to copy."))));
    stack->addWidget(makeStep(
        2, L10n::text(QStringLiteral("通过隔空投送发到 iPhone"), QStringLiteral("Send to iPhone via AirDrop")),
        L10n::text(QStringLiteral("历史和暂存架里的文本、链接、图片、文件都可以直接调用系统 AirDrop，"
                                  "发送到附近的 iPhone 或其他 Apple 设备，不需要安装手机端。"),
                   QStringLiteral("Text, links, images and files from History and the Shelf can use system AirDrop "
                                  "to reach a nearby iPhone or other Apple device — no iPhone app required."))));
    stack->addWidget(makeStep(
        3,
        L10n::text(QStringLiteral("用系统接力剪贴板接收手机复制"),
                   QStringLiteral("Receive iPhone copies via Universal Clipboard")),
        L10n::text(QStringLiteral("Mac 和 iPhone 登录同一 iCloud，并开启 Handoff 后，iPhone 上复制的内容可通过 "
                                  "Apple Universal Clipboard 到达 Mac；Quillomare会按 Mac 剪贴板变化保存。"),
                   QStringLiteral("Sign your Mac and iPhone into the same iCloud and turn on Handoff, then content "
                                  "copied on iPhone reaches your Mac via Apple Universal Clipboard; Quillomare saves "
                                  "it as the Mac clipboard changes."))));
    stack->addWidget(makeStep(
        4, L10n::text(QStringLiteral("高级同步可选"), QStringLiteral("Advanced sync (optional)")),
        L10n::text(QStringLiteral("如果后续需要手机历史、键盘扩展或 CloudKit 双向历史，再在偏好设置中启用 iCloud，"
                                  "同步 Container 使用 ") +
                       containerIdentifier + QStringLiteral("。"),
                   QStringLiteral("If you later need iPhone history, the keyboard extension or two-way CloudKit "
                                  "history, enable iCloud in Preferences; the sync container is ") +
                       containerIdentifier + QStringLiteral("."))));
    return steps;
}

QWidget* OnboardingWindowController::makeStep(int number, const QString& title, const QString& body)
{
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(12);

    // The badge takes the text colour as it is now; a later theme change leaves it as built.
    auto* badge = new QLabel(QString::number(number));
    badge->setObjectName(QStringLiteral("onboardingStepBadge"));
    badge->setFixedSize(26, 26);
    badge->setAlignment(Qt::AlignCenter);
    badge->setFont(IslandTheme::systemFont(13, QFont::DemiBold));
    const QColor fill = labelColour(m_window.get());
    badge->setStyleSheet(QStringLiteral("QLabel { color: white; border-radius: 13px; background-color: "
                                        "rgba(%1, %2, %3, %4); }")
                             .arg(fill.red())
                             .arg(fill.green())
                             .arg(fill.blue())
                             .arg(fill.alpha()));
    line->addWidget(badge, 0, Qt::AlignTop);

    auto* texts = new QWidget;
    QVBoxLayout* stack = verticalStack(texts, 3);
    stack->addWidget(makeLabel(title, 14, QFont::DemiBold, labelColour(m_window.get())));
    stack->addWidget(makeLabel(body, 12.5, QFont::Normal, secondaryLabelColour(m_window.get()), stepBodyWidth));
    line->addWidget(texts, 0, Qt::AlignTop);
    return row;
}

QWidget* OnboardingWindowController::makePrivacyNote()
{
    return makeLabel(L10n::text(QStringLiteral("隐私默认值：疑似密码、密钥、令牌和信用卡号会被忽略；"
                                               "常见密码管理器来源会在读取内容前拦截；关闭忽略后也会标记为仅本机。"),
                                QStringLiteral("Privacy defaults: likely passwords, keys, tokens and credit card "
                                               "numbers are ignored; common password manager sources are blocked "
                                               "before their content is read; even if ignoring is turned off, they "
                                               "stay marked as local-only.")),
                     12, QFont::Normal, secondaryLabelColour(m_window.get()), contentWidth);
}

QWidget* OnboardingWindowController::makeActions()
{
    auto* row = new QWidget;
    row->setFixedWidth(contentWidth);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(10);

    QPushButton* copy = makeButton(L10n::text(QStringLiteral("复制 Container ID"), QStringLiteral("Copy Container ID")),
                                   QStringLiteral("onboardingCopyButton"));
    connect(copy, &QPushButton::clicked, this, &OnboardingWindowController::copyContainerIdentifier);
    QPushButton* preferences =
        makeButton(L10n::text(QStringLiteral("打开偏好设置"), QStringLiteral("Open Preferences")),
                   QStringLiteral("onboardingPreferencesButton"));
    connect(preferences, &QPushButton::clicked, this, &OnboardingWindowController::openPreferences);
    QPushButton* close = makeButton(L10n::text(QStringLiteral("开始使用"), QStringLiteral("Get Started")),
                                    QStringLiteral("onboardingCloseButton"));
    connect(close, &QPushButton::clicked, this, &OnboardingWindowController::closeWindow);
    line->addWidget(copy);
    line->addWidget(preferences);
    line->addStretch(1);
    line->addWidget(close);

    // Return is the close button's key wherever the keyboard is in the window.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(key), m_window.get()), &QShortcut::activated, close, &QPushButton::click);
    return row;
}

} // namespace QuillomareMac
