// Saves the whole X screen as a PNG, or with --window only the window on it: the screenshot
// script runs it beside the program under Xvfb.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QStringList>

#include <cstdio>

namespace {

// Without a window manager the window sits at the top left of a black screen.
QRect windowArea(const QImage &screen)
{
    int right = 0;
    int bottom = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            if ((screen.pixel(x, y) & 0xFFFFFF) != 0) {
                right = qMax(right, x);
                bottom = qMax(bottom, y);
            }
    return QRect(0, 0, right + 1, bottom + 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool window = args.size() == 3 && args.at(2) == QLatin1String("--window");
    if (args.size() != 2 && !window) {
        std::fprintf(stderr, "usage: grabscreen <output.png> [--window]\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "no screen\n");
        return 1;
    }
    QImage shot = screen->grabWindow(0).toImage();
    if (window)
        shot = shot.copy(windowArea(shot));
    if (shot.isNull() || !shot.save(args.at(1), "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
