#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "fod/fodparser.h"
#include "ui/fodplotview.h"
#include "ui/textpanes.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

// The FOD tab: capture of the board's measurement lines, capture files, the gain buttons, the
// calculation and the plot of its fit.

namespace {

const QString kStartCaptureText = QStringLiteral("Start Capture");
const QString kStopCaptureText = QStringLiteral("Stop Capture");
constexpr int kPaneShare = 1;
constexpr int kPlotShare = 2;
const QString kCaptureFileFilter = QStringLiteral("Captures (*.txt *.log);;All files (*)");

} // namespace

void MainWindow::prepareFodTab()
{
    const QStringList sampleFields =
        QString::fromLatin1(FOD_SAMPLE_LINE).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    qDebug() << sampleFields;
    ui->fodAutomotiveSelected->setChecked(true);
    ui->fodSerialLineEdit->hide();
    TextPanes::prepare(ui->fodCapture);
    // The plot needs more height than the pane, which scrolls; the sizes scale to the splitter's.
    ui->fodSplitter->setSizes({kPaneShare, kPlotShare});
}

void MainWindow::updateFodTabControls()
{
    const bool idle = !capturing && !calculating && !closeRequested;
    const bool ready = (comPortOpen || captureLoaded) && idle;
    ui->fodControlButton->setText(capturing ? kStopCaptureText : kStartCaptureText);
    ui->fodControlButton->setEnabled(comPortOpen && !calculating && !closeRequested);
    ui->fodClearBuffer->setEnabled(idle);
    ui->fodSaveCapture->setEnabled(idle);
    ui->fodLoadCapture->setEnabled(idle);
    ui->fodCalculateGains->setEnabled(ready);
    ui->fodAutomotiveSelected->setEnabled(ready);
    ui->fodXMCSelected->setEnabled(ready);
    // The gain switch is an XMC board's; the board type cannot change during a capture.
    const bool gains = capturing && ui->fodXMCSelected->isChecked() && !closeRequested;
    ui->fodButtonGain2->setEnabled(gains);
    ui->fodButtonGain3->setEnabled(gains);
    ui->fodButtonGain4->setEnabled(gains);
}

void MainWindow::on_fodControlButton_clicked()
{
    const QString text = ui->fodControlButton->text();
    if (text != kStartCaptureText && text != kStopCaptureText)
        return;
    capturing = text == kStartCaptureText;
    if (capturing)
        captureLoaded = false;
    updateControls();
    emit fodCaptureControl(capturing);
}

void MainWindow::on_fodClearBuffer_clicked()
{
    ui->fodCapture->clear();
    captureLoaded = false;
    updateControls();
    emit fodClearCapture();
}

void MainWindow::on_fodSaveCapture_clicked()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Capture"), lastDirectory, kCaptureFileFilter);
    if (path.isEmpty())
        return;
    lastDirectory = QFileInfo(path).absolutePath();
    emit fodSaveCapture(path);
}

void MainWindow::on_fodLoadCapture_clicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Load Capture"), lastDirectory, kCaptureFileFilter);
    if (path.isEmpty())
        return;
    lastDirectory = QFileInfo(path).absolutePath();
    loadFodCapture(path);
}

void MainWindow::loadFodCapture(const QString &path)
{
    captureLoaded = true;
    updateControls();
    emit fodLoadCapture(path);
}

void MainWindow::on_fodCalculateGains_clicked()
{
    calculating = true;
    updateControls();
    if (ui->fodAutomotiveSelected->isChecked())
        emit fodCalculateGains(FOD_BOARD_AUTOMOTIVE);
    else if (ui->fodXMCSelected->isChecked())
        emit fodCalculateGains(FOD_BOARD_XMC);
}

void MainWindow::gainCalculationStatus(bool)
{
    calculating = false;
    calibrationWrite = CalWriteState::Idle;
    updateControls();
    finishCloseWhenIdle();
}

void MainWindow::calibrationWriteState(CalWriteState state)
{
    calibrationWrite = state;
    switch (state) {
    case CalWriteState::Completed:
        appendFodNotice(QStringLiteral("Calibration write completed.\r\n"));
        break;
    case CalWriteState::Cancelled:
        appendFodNotice(QStringLiteral("Calibration write cancelled before anything was written.\r\n"));
        break;
    case CalWriteState::Interrupted:
        appendFodNotice(QStringLiteral("Calibration write interrupted: the calibration area may be partly written. "
                                       "Run 'Calculate Gains' again.\r\n"));
        break;
    default:
        break;
    }
}

void MainWindow::fodFitReport(FodFitReport report)
{
    ui->fodPlot->showReport(report);
}

void MainWindow::fodOutputMessage(QString msg)
{
    TextPanes::append(ui->fodCapture, msg);
}

void MainWindow::appendFodNotice(const QString &text)
{
    TextPanes::append(ui->fodCapture, text);
    qDebug().noquote() << text.trimmed();
    if (commandLineMode) {
        std::fputs(qPrintable(text.trimmed() + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }
}

void MainWindow::on_fodXMCSelected_clicked()
{
}

void MainWindow::on_fodAutomotiveSelected_clicked()
{
}

void MainWindow::on_fodButtonGain2_clicked()
{
    emit fodGainChanged(2);
}

void MainWindow::on_fodButtonGain3_clicked()
{
    emit fodGainChanged(3);
}

void MainWindow::on_fodButtonGain4_clicked()
{
    emit fodGainChanged(4);
}
