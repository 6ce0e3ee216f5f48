// What turning a full-screen screenshot into dark text on white costs before the recognizer reads
// it: a 1920×1080 desktop with a window of settings and chat bubbles, as drawn and through a JPEG.
#include <Platform/TextPicture.h>
#include <RecognitionPictures.h>

#include <benchmark/benchmark.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QStringList>

namespace {

// A shaded wallpaper, a window with a sidebar and rows of settings, and a chat of bubbles on its
// right: white text on blue, dark text on light grey.
QImage drawDesktop()
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient wallpaper(0, 0, image.width(), image.height());
    wallpaper.setColorAt(0, QColor(0x4a, 0x86, 0xd4));
    wallpaper.setColorAt(1, QColor(0xa8, 0xc8, 0x86));
    painter.fillRect(image.rect(), wallpaper);
    const QRect window(120, 60, 1680, 940);
    painter.fillRect(window, QColor(0xfb, 0xfb, 0xfb));
    painter.fillRect(QRect(window.topLeft(), QSize(window.width(), 38)), QColor(0xee, 0xf0, 0xf2));
    painter.fillRect(QRect(window.left(), window.top() + 38, 224, window.height() - 38), QColor(0xf0, 0xf1, 0xf3));
    painter.fillRect(QRect(0, 1040, 1920, 40), QColor(0x2b, 0x2d, 0x33));
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(16);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(QRect(window.left(), window.top(), window.width(), 38), Qt::AlignCenter,
                     QStringLiteral("系统监视器"));
    const QStringList sidebar{QStringLiteral("退出"), QStringLiteral("新建窗口"), QStringLiteral("打开文件"),
                              QStringLiteral("保存"), QStringLiteral("另存为"),   QStringLiteral("打印")};
    for (qsizetype i = 0; i < sidebar.size(); ++i)
        painter.drawText(window.left() + 30, window.top() + 80 + int(i) * 30, sidebar[i]);
    const QStringList settings{QStringLiteral("存储空间"), QStringLiteral("蓝牙"), QStringLiteral("屏幕亮度"),
                               QStringLiteral("快捷键"), QStringLiteral("历史记录条数")};
    for (qsizetype i = 0; i < settings.size(); ++i) {
        const int y = window.top() + 100 + int(i) * 40;
        painter.drawText(window.left() + 280, y, settings[i]);
        painter.fillRect(QRect(window.left() + 280, y + 14, 740, 1), QColor(0xd8, 0xd8, 0xd8));
    }
    const QStringList chat{QStringLiteral("明天早上九点在门口集合"), QStringLiteral("我已经把报告发到你的邮箱了"),
                           QStringLiteral("Windows 更新失败，错误代码 0x80070005"),
                           QStringLiteral("这个问题我们下午再讨论吧")};
    for (qsizetype i = 0; i < chat.size(); ++i) {
        const bool mine = i % 2 == 1;
        const int width = metrics.horizontalAdvance(chat[i]) + 24;
        const QRect bubble(mine ? window.right() - 32 - width : window.left() + 1080, window.top() + 70 + int(i) * 50,
                           width, 36);
        painter.setPen(Qt::NoPen);
        painter.setBrush(mine ? QColor(0x1a, 0x73, 0xe8) : QColor(0xe9, 0xea, 0xec));
        painter.drawRoundedRect(bubble, 8, 8);
        painter.setPen(mine ? QColor(Qt::white) : QColor(0x22, 0x22, 0x22));
        painter.drawText(bubble, Qt::AlignCenter, chat[i]);
    }
    return image;
}

void darkTextOnWhite(benchmark::State& state)
{
    const QImage drawn = drawDesktop();
    const QImage image = state.range(0) ? RecognitionPictures::Detail::throughJpeg(drawn, 60) : drawn;
    for (auto _ : state) {
        const QImage grey = Platform::TextPicture::darkTextOnWhite(image);
        benchmark::DoNotOptimize(grey.constBits());
    }
}

} // namespace

BENCHMARK(darkTextOnWhite)
    ->Name("TextPicture/dark text on white, 1920x1080 desktop with chat bubbles")
    ->ArgName("jpeg")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
