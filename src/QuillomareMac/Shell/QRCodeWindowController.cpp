#include "QRCodeWindowController.h"

#include "Island/Kit/IslandTheme.h"

#include <Platform/QRCode.h>
#include <QuillomareCore/Language.h>

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <functional>

namespace QuillomareMac {

namespace Language = QuillomareCore::Language;

namespace {

QRCodeWindowController* currentController = nullptr;

QColor white(qreal alpha)
{
    return QColor::fromRgbF(1, 1, 1, float(alpha));
}

// The top-level window: dark, fixed in size, dragged by its background, and telling its
// controller when it closes.
class QRCodeWindow final : public QWidget
{
public:
    explicit QRCodeWindow(std::function<void()> onClose)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
        , m_onClose(std::move(onClose))
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        QWidget::closeEvent(event);
        if (event->isAccepted() && m_onClose)
            m_onClose();
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove())
            return;
        QWidget::mousePressEvent(event);
    }

private:
    std::function<void()> m_onClose;
};

// One line of text cut in the middle to the width it is given, so that a long text never widens
// the window; line breaks are shown as spaces.
class MiddleElidedLabel final : public QWidget
{
public:
    MiddleElidedLabel(const QString& text, int maximumWidth)
        : m_text(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' ')))
        , m_maximumWidth(maximumWidth)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMaximumWidth(maximumWidth);
    }

    QString text() const { return m_text; }

    QSize sizeHint() const override
    {
        return {std::min(fontMetrics().horizontalAdvance(m_text), m_maximumWidth), fontMetrics().height()};
    }
    QSize minimumSizeHint() const override { return {0, fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, fontMetrics().elidedText(m_text, Qt::ElideMiddle, width()));
    }

private:
    QString m_text;
    int m_maximumWidth;
};

} // namespace

QRCodeWindowController::QRCodeWindowController() = default;

QRCodeWindowController::~QRCodeWindowController()
{
    if (currentController == this)
        currentController = nullptr;
}

QRCodeWindowController* QRCodeWindowController::present(const QString& text)
{
    if (currentController)
        currentController->m_window->close();
    auto* controller = new QRCodeWindowController;
    controller->load(text);
    currentController = controller;

    QWidget* window = controller->m_window.get();
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return controller;
}

QRCodeWindowController* QRCodeWindowController::current()
{
    return currentController;
}

QWidget* QRCodeWindowController::window() const
{
    return m_window.get();
}

void QRCodeWindowController::load(const QString& text)
{
    m_window = std::make_unique<QRCodeWindow>([this] { windowWillClose(); });
    QWidget* window = m_window.get();
    window->setFixedSize(windowWidth, windowHeight);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.055f, 0.06f, 0.072f));
    palette.setColor(QPalette::WindowText, white(0.92));
    window->setPalette(palette);
    window->setAutoFillBackground(true);

    auto* caption = new QLabel(Language::text(QStringLiteral("手机扫码秒传"), QStringLiteral("Scan with your phone")));
    caption->setObjectName(QStringLiteral("qrCaption"));
    caption->setFont(IslandTheme::systemFont(15, QFont::DemiBold));
    caption->setAlignment(Qt::AlignCenter);

    // The square is wider than the code, so a white margin always frames it for the camera.
    auto* code = new QLabel;
    code->setObjectName(QStringLiteral("qrCode"));
    code->setFixedSize(squareSide, squareSide);
    code->setAlignment(Qt::AlignCenter);
    code->setStyleSheet(QStringLiteral("QLabel { background-color: white; border-radius: 14px; }"));
    const QScreen* screen = window->screen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QImage image = Platform::QRCode::image(text, qRound(codeSide * ratio));
    if (!image.isNull()) {
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(qreal(image.width()) / codeSide);
        code->setPixmap(pixmap);
    }

    auto* line = new MiddleElidedLabel(text, 260);
    line->setObjectName(QStringLiteral("qrText"));
    line->setFont(IslandTheme::systemFont(10.5, QFont::Normal));
    QPalette linePalette = line->palette();
    linePalette.setColor(QPalette::WindowText, white(0.45));
    line->setPalette(linePalette);

    auto* stack = new QVBoxLayout(window);
    stack->setContentsMargins(24, 32, 24, 0);
    stack->setSpacing(12);
    stack->addWidget(caption, 0, Qt::AlignHCenter);
    stack->addWidget(code, 0, Qt::AlignHCenter);
    stack->addWidget(line, 0, Qt::AlignHCenter);
    stack->addStretch(1);
}

void QRCodeWindowController::windowWillClose()
{
    if (currentController == this)
        currentController = nullptr;
    // The window is still inside its close handling; it goes with the controller afterwards.
    deleteLater();
}

} // namespace QuillomareMac
