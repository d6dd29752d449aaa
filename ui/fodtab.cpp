#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "fod/calarearestore.h"
#include "fod/fodparser.h"
#include "ui/fodplotview.h"
#include "ui/textpanes.h"
#include "worker/statefolder.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

// The FOD tab: capture of the board's measurement lines, capture files, the gain buttons, the
// calculation and the plot of its fit, and the restore of a calibration backup.

namespace {

const QString kStartCaptureText = QStringLiteral("Start Capture");
const QString kStopCaptureText = QStringLiteral("Stop Capture");
constexpr int kPaneShare = 1;
constexpr int kPlotShare = 2;
const QString kCaptureFileFilter = QStringLiteral("Captures (*.txt *.log);;All files (*)");
const QString kBackupFileFilter = QStringLiteral("Calibration backups (*.bin);;All files (*)");

// A window's line on stdout during a command-line run, where nobody watches the window.
void echoToStdout(const QString &text)
{
    const QString line = text.trimmed();
    if (line.isEmpty())
        return;
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

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
    const bool idle = !capturing && !calibrationBusy() && !closeRequested;
    const bool ready = (comPortOpen || captureLoaded) && idle;
    ui->fodControlButton->setText(capturing ? kStopCaptureText : kStartCaptureText);
    ui->fodControlButton->setEnabled(comPortOpen && !calibrationBusy() && !closeRequested);
    ui->fodRestoreCalibration->setEnabled(comPortOpen && idle);
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

void MainWindow::on_fodRestoreCalibration_clicked()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Restore Calibration"),
                                                      zavloStatePath(QStringLiteral("backups")), kBackupFileFilter);
    if (path.isEmpty())
        return;
    restoreCalibration(path);
}

void MainWindow::restoreCalibration(const QString &backupPath, bool force)
{
    if (calibrationBusy() || closeRequested)
        return;
    restoring = true;
    updateControls();
    emit restoreCalibrationRequest(backupPath, force);
}

void MainWindow::calibrationRestoreResponse(int result)
{
    restoring = false;
    calibrationWrite = CalWriteState::Idle;
    appendConsoleMessage(QString::fromLatin1(calRestoreResultText(CalRestoreResult(result))));
    updateControls();
    if (commandLineMode) {
        // The board is back in its application; the next poll would send it into its bootloader.
        emit disconnectCOMPortRequest();
        endCommandLineRun(result);
    }
    finishCloseWhenIdle();
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
    const QString outcome = QString::fromLatin1(calWriteOutcomeText(state));
    switch (state) {
    case CalWriteState::Completed:
    case CalWriteState::Cancelled:
        appendFodNotice(outcome + QStringLiteral("\r\n"));
        break;
    case CalWriteState::Interrupted:
        appendFodNotice(outcome + (restoring ? QStringLiteral(" Run the restore again.\r\n")
                                             : QStringLiteral(" Run 'Calculate Gains' again.\r\n")));
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
    // A command-line restore prompts for the power cycle here.
    if (commandLineMode)
        echoToStdout(msg);
}

void MainWindow::appendFodNotice(const QString &text)
{
    TextPanes::append(ui->fodCapture, text);
    qDebug().noquote() << text.trimmed();
    if (commandLineMode)
        echoToStdout(text);
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
