// Another program's copy for the X11 tests: owns the CLIPBOARD selection with the formats given
// as "<type>=<value>" arguments ("text/plain" is offered as text, under every text target), says
// "owning" on standard output once it holds it, and quits when another program takes it. Ending
// the process (SIGTERM, SIGKILL) is an owner that quits and takes its copy along.

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    auto* mime = new QMimeData;
    for (const QString& argument : app.arguments().mid(1)) {
        const qsizetype equals = argument.indexOf(u'=');
        if (equals <= 0) {
            std::fputs("usage: clipboard-owner <type>=<value>...\n", stderr);
            return 2;
        }
        const QString type = argument.left(equals);
        const QString value = argument.mid(equals + 1);
        if (type == QLatin1String("text/plain"))
            mime->setText(value);
        else
            mime->setData(type, value.toUtf8());
    }

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime, QClipboard::Clipboard);
    if (!clipboard->ownsClipboard())
        return 1;
    QObject::connect(clipboard, &QClipboard::changed, &app, [&app, clipboard](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            app.quit();
    });
    std::puts("owning");
    std::fflush(stdout);
    return app.exec();
}
