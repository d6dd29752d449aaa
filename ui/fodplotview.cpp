#include "ui/fodplotview.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QVector>

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_renderer.h>
#include <qwt_symbol.h>
#include <qwt_text.h>
#include <qwt_text_label.h>

#include <algorithm>
#include <cmath>

namespace {

const QColor kReferenceColour(31, 119, 180);
const QColor kModelColour(255, 127, 14);
const QColor kOutlierColour(214, 39, 40);
const QColor kGridColour(225, 225, 225);
constexpr int kPointPx = 5;
constexpr int kModelPx = 7;
constexpr int kRingPx = 13;
constexpr int kMaxMajorTicks = 5;
// Small enough that three columns share a laptop screen's width; Qwt's own minimum is far larger.
constexpr int kPlotMinWidthPx = 160;
constexpr int kPlotMinHeightPx = 150;

// The values plot takes this share of a column's height, the residuals the rest.
constexpr int kValuesStretch = 3;
constexpr int kResidualsStretch = 2;
constexpr double kValuesShare = double(kValuesStretch) / (kValuesStretch + kResidualsStretch);

// A saved picture gives each set this many pixels across.
constexpr int kImageColumnPx = 560;
constexpr int kImageHeightPx = 760;

const QString kEmptyText = QStringLiteral("No fit to show: the captured rows and the fitted model appear here after "
                                          "\"Calculate Gains\".");

QString setName(const FodSetReport &set)
{
    return set.gain == 0 ? QStringLiteral("Automotive") : QStringLiteral("Gain %1").arg(set.gain);
}

QString valuesTitle(const FodSetReport &set)
{
    const QString rows = QStringLiteral("%1: %2 rows").arg(setName(set)).arg(set.rowsUsed());
    if (!set.fitted)
        return rows + QStringLiteral(", not fitted");
    const QString outliers = set.outlierLimit <= 0.0 ? QStringLiteral("outliers not judged")
                             : set.outlierCount == 1 ? QStringLiteral("1 outlier")
                                                     : QStringLiteral("%1 outliers").arg(set.outlierCount);
    // Two lines: a column of a three-set window is too narrow for one.
    const QString gap =
        std::isfinite(set.secondCost) ? QStringLiteral(", gap %1").arg(set.costGap(), 0, 'g', 3) : QString();
    return QStringLiteral("%1\nRMS %2, %3%4").arg(rows).arg(set.rmsResidual, 0, 'f', 3).arg(outliers, gap);
}

QwtPlot *newPlot(QWidget *parent, const QString &title, const QString &yTitle)
{
    auto *plot = new QwtPlot(parent);
    plot->setMinimumSize(kPlotMinWidthPx, kPlotMinHeightPx);
    // Qwt's large title and bold axis titles would leave the points little room.
    QFont font = plot->font();
    QwtText axisText(QStringLiteral("field 2"));
    axisText.setFont(font);
    plot->setAxisTitle(QwtPlot::xBottom, axisText);
    axisText.setText(yTitle);
    plot->setAxisTitle(QwtPlot::yLeft, axisText);
    font.setBold(true);
    plot->titleLabel()->setFont(font);
    plot->setTitle(title);
    plot->setAxisMaxMajor(QwtPlot::yLeft, kMaxMajorTicks);
    plot->setCanvasBackground(Qt::white);
    auto *gridLines = new QwtPlotGrid;
    gridLines->setMajorPen(kGridColour, 0, Qt::SolidLine);
    gridLines->attach(plot);
    return plot;
}

void addPoints(QwtPlot *plot, const QString &title, QwtSymbol::Style style, const QColor &colour, int sizePx,
               bool filled, const QVector<QPointF> &points)
{
    if (points.isEmpty())
        return;
    auto *curve = new QwtPlotCurve(title);
    curve->setStyle(QwtPlotCurve::NoCurve);
    curve->setSymbol(
        new QwtSymbol(style, filled ? QBrush(colour) : QBrush(Qt::NoBrush), QPen(colour, 1.5), QSize(sizePx, sizePx)));
    curve->setLegendAttribute(QwtPlotCurve::LegendShowSymbol, true);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    curve->setSamples(points);
    curve->attach(plot);
}

void addHorizontalLine(QwtPlot *plot, double y, const QPen &pen)
{
    auto *line = new QwtPlotMarker;
    line->setLineStyle(QwtPlotMarker::HLine);
    line->setLinePen(pen);
    line->setYValue(y);
    line->attach(plot);
}

} // namespace

FodPlotView::FodPlotView(QWidget *parent) : QWidget(parent)
{
    grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    emptyLabel = new QLabel(kEmptyText, this);
    emptyLabel->setAlignment(Qt::AlignCenter);
    emptyLabel->setWordWrap(true);
    grid->addWidget(emptyLabel, 0, 0);
}

void FodPlotView::showReport(const FodFitReport &report)
{
    clearColumns();
    emptyLabel->setVisible(report.sets.empty());
    for (std::size_t k = 0; k < report.sets.size(); ++k)
        columns.push_back(addColumn(report.sets[k], static_cast<int>(k)));
    grid->setRowStretch(0, report.sets.empty() ? 0 : kValuesStretch);
    grid->setRowStretch(1, report.sets.empty() ? 0 : kResidualsStretch);
}

void FodPlotView::clearColumns()
{
    for (const Column &column : columns) {
        delete column.values;
        delete column.residuals;
    }
    columns.clear();
}

FodPlotView::Column FodPlotView::addColumn(const FodSetReport &set, int index)
{
    QVector<QPointF> reference, model, residuals, outlierValues, outlierResiduals;
    reference.reserve(set.rowsUsed());
    for (const FodFitPoint &p : set.points) {
        reference.append(QPointF(p.x, p.reference));
        if (!set.fitted)
            continue;
        model.append(QPointF(p.x, p.model));
        residuals.append(QPointF(p.x, p.residual));
        if (p.outlier) {
            outlierValues.append(QPointF(p.x, p.reference));
            outlierResiduals.append(QPointF(p.x, p.residual));
        }
    }

    Column column;
    column.values = newPlot(this, valuesTitle(set), QStringLiteral("field 6"));
    addPoints(column.values, QStringLiteral("reference (field 6)"), QwtSymbol::Ellipse, kReferenceColour, kPointPx,
              true, reference);
    addPoints(column.values, QStringLiteral("model"), QwtSymbol::XCross, kModelColour, kModelPx, false, model);
    addPoints(column.values, QStringLiteral("far from the model"), QwtSymbol::Ellipse, kOutlierColour, kRingPx, false,
              outlierValues);
    column.values->insertLegend(new QwtLegend, QwtPlot::BottomLegend);

    column.residuals = newPlot(this, QStringLiteral("Residuals: reference − model"), QStringLiteral("residual"));
    if (set.fitted) {
        addHorizontalLine(column.residuals, 0.0, QPen(Qt::gray, 1.0));
        if (set.outlierLimit > 0.0) {
            const QPen limitPen(kOutlierColour, 1.0, Qt::DashLine);
            addHorizontalLine(column.residuals, set.outlierLimit, limitPen);
            addHorizontalLine(column.residuals, -set.outlierLimit, limitPen);
        }
    }
    addPoints(column.residuals, QStringLiteral("residual"), QwtSymbol::Ellipse, kReferenceColour, kPointPx, true,
              residuals);
    addPoints(column.residuals, QStringLiteral("far from the model"), QwtSymbol::Ellipse, kOutlierColour, kRingPx,
              false, outlierResiduals);

    grid->addWidget(column.values, 0, index);
    grid->addWidget(column.residuals, 1, index);
    column.values->replot();
    column.residuals->replot();
    return column;
}

void FodPlotView::render(QPainter &painter, const QRectF &rect) const
{
    if (columns.empty()) {
        painter.drawText(rect, Qt::AlignCenter | Qt::TextWordWrap, kEmptyText);
        return;
    }
    QwtPlotRenderer renderer;
    const double width = rect.width() / static_cast<double>(columns.size());
    const double valuesHeight = rect.height() * kValuesShare;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const double left = rect.left() + width * static_cast<double>(k);
        renderer.render(columns[k].values, &painter, QRectF(left, rect.top(), width, valuesHeight));
        renderer.render(columns[k].residuals, &painter,
                        QRectF(left, rect.top() + valuesHeight, width, rect.height() - valuesHeight));
    }
}

QSize FodPlotView::imageSize() const
{
    const int sets = std::max<int>(1, static_cast<int>(columns.size()));
    return QSize(kImageColumnPx * sets, kImageHeightPx);
}

bool FodPlotView::saveImage(const QString &path, QSize size, QString &error) const
{
    if (size.isEmpty())
        size = imageSize();
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg")) {
        error = QStringLiteral("%1: the name must end in .png or .svg").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QRectF area(QPointF(0, 0), QSizeF(size));
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(area);
        svg.setTitle(QStringLiteral("FOD fit"));
        QPainter painter(&svg);
        painter.fillRect(area, Qt::white);
        render(painter, area);
    } else {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            render(painter, area);
        }
        if (!image.save(&file, "PNG")) {
            file.cancelWriting();
            error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
    }
    if (!file.commit()) {
        error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
