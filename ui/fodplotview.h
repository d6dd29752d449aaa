#pragma once

#include "fod/fodfitreport.h"

#include <QSize>
#include <QString>
#include <QWidget>

#include <vector>

class QGridLayout;
class QLabel;
class QPainter;
class QRectF;
class QwtPlot;

// Shows a FOD fit: one column per parameter set with the reference value (field 6) and the
// model's value of every used row against field 2, the residuals below, and the rows far from
// the model ringed. The FOD tab shows it; zavlo-fodfit saves it as a picture.
class FodPlotView : public QWidget
{
    Q_OBJECT

public:
    explicit FodPlotView(QWidget *parent = nullptr);

    void showReport(const FodFitReport &report);

    // Every plot as on screen, laid out in `rect`; the empty text when there is none.
    void render(QPainter &painter, const QRectF &rect) const;

    // Writes a PNG or an SVG file, chosen by the name's suffix, of `size` pixels (imageSize() when
    // empty). False with the reason in `error`.
    bool saveImage(const QString &path, QSize size, QString &error) const;
    QSize imageSize() const;

private:
    struct Column {
        QwtPlot *values = nullptr;
        QwtPlot *residuals = nullptr;
    };

    void clearColumns();
    Column addColumn(const FodSetReport &set, int index);

    QGridLayout *grid = nullptr;
    QLabel *emptyLabel = nullptr;
    std::vector<Column> columns;
};
