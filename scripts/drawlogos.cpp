// Draws the two pictures of the window's resource bundle (the logo beside the port controls and
// the window icon) and, when given a folder, the desktop icon as SVG and PNGs of the usual sizes.
// Plain shapes and the word "Zavlo", nothing taken from elsewhere.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <vector>

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

// The desktop icon is the window icon on the logo's rounded plate, in 64 units. It is kept as
// outlines (the letter too) so that the SVG needs no font and every PNG has the same geometry.
constexpr qreal kIconUnits = 64;
constexpr int kIconPngSizes[] = {16, 32, 48, 64, 128, 256};
const char *const kIconName = "com.zavlo.ZavloGui";

struct IconShape {
    QPainterPath path;
    QColor fill;   // invalid: not filled
    QColor stroke; // invalid: not stroked
    qreal strokeWidth = 0;
};

std::vector<IconShape> iconShapes()
{
    std::vector<IconShape> shapes;
    QPainterPath plate;
    // The logo's plate: 2 units of margin, corner radius in the logo's proportion (14 of 86).
    plate.addRoundedRect(QRectF(2, 2, kIconUnits - 4, kIconUnits - 4), 10, 10);
    shapes.push_back({plate, kNavy, QColor(), 0});

    // The coil of drawCoil() at centre (32, 32), radius 26, as in the window icon.
    const QPointF centre(kIconUnits / 2, kIconUnits / 2);
    const qreal radius = 26;
    for (int ring = 0; ring < 3; ++ring) {
        const qreal r = radius * (1.0 - ring * 0.28);
        const QRectF box(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        QPainterPath arc;
        arc.arcMoveTo(box, 30);
        arc.arcTo(box, 30, 300);
        shapes.push_back({arc, QColor(), kTeal, radius * 0.12});
    }
    QPainterPath dot;
    dot.addEllipse(centre, radius * 0.12, radius * 0.12);
    shapes.push_back({dot, kTeal, QColor(), 0});

    // The window icon's "Z": DejaVu Sans Bold 20 pt comes to 28 pixels on its 64-pixel image,
    // centred the way QPainter::drawText(Qt::AlignCenter) places it.
    QFont font("DejaVu Sans");
    font.setPixelSize(28);
    font.setBold(true);
    const QFontMetricsF metrics(font);
    const QString letter = QStringLiteral("Z");
    const qreal x = (kIconUnits - metrics.horizontalAdvance(letter)) / 2;
    const qreal baseline = (kIconUnits - metrics.height()) / 2 + metrics.ascent();
    QPainterPath text;
    text.addText(QPointF(x, baseline), font, letter);
    shapes.push_back({text, kWhite, QColor(), 0});
    return shapes;
}

QString svgNumber(qreal value)
{
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text == "-0" ? QStringLiteral("0") : text;
}

QString svgPathData(const QPainterPath &path)
{
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QString point = svgNumber(e.x) + ' ' + svgNumber(e.y);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            parts << "M" + point;
            break;
        case QPainterPath::LineToElement:
            parts << "L" + point;
            break;
        case QPainterPath::CurveToElement:
            parts << "C" + point;
            break;
        case QPainterPath::CurveToDataElement:
            parts << point;
            break;
        }
    }
    return parts.join(' ');
}

bool writeIconSvg(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    const QString units = svgNumber(kIconUnits);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << units << "\" height=\"" << units
        << "\" viewBox=\"0 0 " << units << ' ' << units << "\">\n";
    for (const IconShape &shape : iconShapes()) {
        out << "  <path d=\"" << svgPathData(shape.path) << "\" fill=\""
            << (shape.fill.isValid() ? shape.fill.name() : QStringLiteral("none")) << '"';
        if (shape.stroke.isValid())
            out << " stroke=\"" << shape.stroke.name() << "\" stroke-width=\"" << svgNumber(shape.strokeWidth)
                << "\" stroke-linecap=\"round\"";
        out << "/>\n";
    }
    out << "</svg>\n";
    return out.status() == QTextStream::Ok && file.flush();
}

QImage drawDesktopIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kIconUnits, size / kIconUnits);
    for (const IconShape &shape : iconShapes()) {
        p.setPen(shape.stroke.isValid() ? QPen(shape.stroke, shape.strokeWidth, Qt::SolidLine, Qt::RoundCap)
                                        : QPen(Qt::NoPen));
        p.setBrush(shape.fill.isValid() ? QBrush(shape.fill) : QBrush(Qt::NoBrush));
        p.drawPath(shape.path);
    }
    return image;
}

// Writes <dir>/<name>.svg and <dir>/<size>/<name>.png, the layout of the hicolor theme's folders.
bool writeDesktopIcons(const QString &dir)
{
    const QString svg = QDir(dir).filePath(QString(kIconName) + ".svg");
    if (!writeIconSvg(svg)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(svg));
        return false;
    }
    for (int size : kIconPngSizes) {
        const QString sizeDir = QDir(dir).filePath(QString::number(size));
        const QString png = QDir(sizeDir).filePath(QString(kIconName) + ".png");
        if (!QDir().mkpath(sizeDir) || !drawDesktopIcon(size).save(png, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(png));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: drawlogos <logo.png> <icon.jpg> [<desktop icon folder>]\n");
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
    if (args.size() == 4 && !writeDesktopIcons(args.at(3)))
        return 1;
    return 0;
}
