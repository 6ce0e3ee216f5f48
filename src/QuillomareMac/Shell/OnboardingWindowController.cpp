#include "OnboardingWindowController.h"

#include "Island/Kit/IslandTheme.h"
#include "Pasteboard/MacPasteboardWriter.h"
#include "Shell/WindowText.h"

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/Language.h>

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

namespace Language = QuillomareCore::Language;

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
    auto* label = new QLabel(WindowText::keepingKeyCombinationsWhole(text));
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
        Language::text(QStringLiteral("Quillomare跨设备使用说明"), QStringLiteral("Quillomare Cross-device Guide")));
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
    stack->addWidget(makeLabel(Language::text(QStringLiteral("剪贴板历史、KDE Connect 和文件夹同步"),
                                              QStringLiteral("Clipboard History, KDE Connect & Folder Sync")),
                               23, QFont::DemiBold, labelColour(m_window.get()), contentWidth));
    stack->addWidget(makeLabel(
        Language::text(QStringLiteral("Quillomare先作为本机效率工具使用；发到手机走 KDE Connect，"
                                      "同步文件夹只是高级同步选项。"),
                       QStringLiteral("Quillomare works as a productivity tool on this computer first; send to a phone "
                                      "via KDE Connect, and the sync folder is just an advanced sync option.")),
        13, QFont::Normal, secondaryLabelColour(m_window.get()), contentWidth));
    return header;
}

QWidget* OnboardingWindowController::makeSteps()
{
    auto* steps = new QWidget;
    QVBoxLayout* stack = verticalStack(steps, 10);
    stack->addWidget(makeStep(
        1,
        Language::text(QStringLiteral("本机保持自动记录"),
                       QStringLiteral("This computer keeps capturing automatically")),
        Language::text(QStringLiteral("系统托盘里的Quillomare会监听文本、链接、文件和图片；Ctrl + Alt + V "
                                      "可随时打开灵动岛，直接输入搜索，方向键选择，回车复制。"),
                       QStringLiteral("Quillomare in the system tray watches text, links, files and images; press Ctrl "
                                      "+ Alt + V to open the island anytime — type to search, arrow keys to select, "
                                      "Enter to copy."))));
    stack->addWidget(makeStep(
        2,
        Language::text(QStringLiteral("通过 KDE Connect 发到手机"), QStringLiteral("Send to a phone via KDE Connect")),
        Language::text(QStringLiteral("历史和暂存架里的文本、链接、图片、文件都可以通过 KDE Connect "
                                      "发送到已配对的手机或电脑，两边装好 KDE Connect 并配对即可。"),
                       QStringLiteral("Text, links, images and files from History and the Shelf can go through KDE "
                                      "Connect to a paired phone or computer — install KDE Connect on both and pair "
                                      "them."))));
    stack->addWidget(makeStep(
        3,
        Language::text(QStringLiteral("用 KDE Connect 剪贴板共享接收手机复制"),
                       QStringLiteral("Receive phone copies via KDE Connect")),
        Language::text(QStringLiteral("在 KDE Connect 中开启剪贴板共享后，手机发来的剪贴板内容会进入本机剪贴板；"
                                      "Quillomare会按本机剪贴板变化保存。"),
                       QStringLiteral("Turn on clipboard sharing in KDE Connect, then what the phone shares reaches "
                                      "this computer's clipboard; Quillomare saves it as the clipboard changes."))));
    stack->addWidget(makeStep(
        4, Language::text(QStringLiteral("高级同步可选"), QStringLiteral("Advanced sync (optional)")),
        Language::text(QStringLiteral("如果需要在多台电脑间共享历史，再在偏好设置中启用文件夹同步，并用文件同步工具"
                                      "（如 Syncthing）同步记录文件夹；同步容器使用 ") +
                           containerIdentifier + QStringLiteral("。"),
                       QStringLiteral("If you later want your history on several computers, enable folder sync in "
                                      "Preferences and keep its folder in step with a file-sync tool (such as "
                                      "Syncthing); the sync container is ") +
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
    return makeLabel(
        Language::text(QStringLiteral("隐私默认值：疑似密码、密钥、令牌和信用卡号会被忽略；"
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

    QPushButton* copy =
        makeButton(Language::text(QStringLiteral("复制 Container ID"), QStringLiteral("Copy Container ID")),
                   QStringLiteral("onboardingCopyButton"));
    connect(copy, &QPushButton::clicked, this, &OnboardingWindowController::copyContainerIdentifier);
    QPushButton* preferences =
        makeButton(Language::text(QStringLiteral("打开偏好设置"), QStringLiteral("Open Preferences")),
                   QStringLiteral("onboardingPreferencesButton"));
    connect(preferences, &QPushButton::clicked, this, &OnboardingWindowController::openPreferences);
    QPushButton* close = makeButton(Language::text(QStringLiteral("开始使用"), QStringLiteral("Get Started")),
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
