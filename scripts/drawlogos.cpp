// Draws the two pictures of the window's resource bundle: the logo beside the port controls and
// the window icon. Plain shapes and the word "Zavlo", nothing taken from elsewhere.
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <cstdio>

namespace {

const QColor kNavy(18, 42, 84);
const QColor kTeal(0, 150, 160);
const QColor kWhite(255, 255, 255);

// Three concentric arcs suggest the charging coil.
void drawCoil(QPainter &p, const QPointF &centre, qreal radius, const QColor &colour)
{
    for (int ring = 0; ring < 3; ++ring) {
        const qreal r = radius * (1.0 - ring * 0.28);
        p.setPen(QPen(colour, radius * 0.12, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 30 * 16, 300 * 16);
    }
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, radius * 0.12, radius * 0.12);
}

QImage drawLogo()
{
    QImage image(220, 90, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient fill(0, 0, 0, 90);
    fill.setColorAt(0.0, kNavy.lighter(130));
    fill.setColorAt(1.0, kNavy);
    p.setBrush(fill);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 2, 216, 86), 14, 14);

    drawCoil(p, QPointF(46, 45), 30, kTeal);

    QFont font("DejaVu Sans", 30, QFont::Bold);
    p.setFont(font);
    p.setPen(kWhite);
    p.drawText(QRectF(84, 0, 130, 90), Qt::AlignVCenter | Qt::AlignLeft, "Zavlo");
    return image;
}

QImage drawIcon()
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(kNavy);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawCoil(p, QPointF(32, 32), 26, kTeal);
    QFont font("DejaVu Sans", 20, QFont::Bold);
    p.setFont(font);
    p.setPen(kWhite);
    p.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, "Z");
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: drawlogos <logo.png> <icon.jpg>\n");
        return 2;
    }
    if (!drawLogo().save(args.at(1), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    if (!drawIcon().save(args.at(2), "JPG", 90)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
