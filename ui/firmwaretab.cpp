#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "flash/firmwareimage.h"
#include "target/boardinfo.h"
#include "ui/windowtexts.h"
#include "ui/zavlosettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QTime>

#include <cstdio>

// The Firmware Update tab: the image, the board's and the image's identity rows, the flash and
// the console.

namespace {

const QString kFlashFirmwareText = QStringLiteral("Flash Firmware");
const QString kCancelText = QStringLiteral("Cancel");
const QString kConsolePlaceholder = QStringLiteral("Console...");
const QString kShowOutputAfterFlashKey = QStringLiteral("firmware/showOutputAfterFlash");

enum InfoRow {
    ROW_BL_VERSION = 1,
    ROW_BL_PART_NUMBER = 2,
    ROW_APP_FW_VERSION = 3,
    ROW_APP_HW_ID = 4,
    ROW_BOARD_SETTINGS_VERSION = 5,
    ROW_BOARD_CAL_VERSION = 6,
    ROW_BOARD_SERIAL = 7,
    ROW_IMAGE_FW_VERSION = 9,
    ROW_IMAGE_PART_NUMBER = 10,
    ROW_IMAGE_HW_ID = 11,
    ROW_IMAGE_DESCRIPTION = 12,
    ROW_IMAGE_SETTINGS_VERSION = 13,
    ROW_IMAGE_CAL_VERSION = 14,
};

// Sets a section check box the way a click would, so the worker's flag follows.
void setCheckBoxAndNotify(QCheckBox *box, bool checked)
{
    box->setChecked(checked);
    emit box->clicked(checked);
}

} // namespace

void MainWindow::prepareFirmwareTab()
{
    ui->splitter->setSizes({175, 300});
    ui->fwConsoleBrowser->setPlaceholderText(kConsolePlaceholder);
    ui->fwImagePath->setPlaceholderText(QStringLiteral("Path to file..."));

    QHeaderView *header = ui->fwInfoTable->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < ui->fwInfoTable->rowCount(); ++row) {
        auto *item = new QTableWidgetItem();
        item->setFlags(Qt::ItemIsEnabled);
        ui->fwInfoTable->setItem(row, 0, item);
    }

    showOutputAfterFlash = zavloSettings().value(kShowOutputAfterFlashKey, false).toBool();
    ui->fwShowOutputAfterFlashBox->setChecked(showOutputAfterFlash);
    connect(ui->fwShowOutputAfterFlashBox, &QCheckBox::toggled, this, [this](bool on) {
        showOutputAfterFlash = on;
        zavloSettings().setValue(kShowOutputAfterFlashKey, on);
    });
}

void MainWindow::updateFirmwareTabControls()
{
    ui->fwFlashFirmwareButton->setText(flashing ? kCancelText : kFlashFirmwareText);
    ui->fwFlashFirmwareButton->setEnabled(!cancellingFlash && !closeRequested);
    ui->fwLoadFirmwareButton->setEnabled(!closeRequested);
    ui->fwTabCBFlashApp->setEnabled(sectionBoxes.app && !closeRequested);
    ui->fwTabCBFlashSettings->setEnabled(sectionBoxes.settings && !closeRequested);
    ui->fwTabCBFlashCal->setEnabled(sectionBoxes.calibration && !closeRequested);
    ui->fwTabCBIgnoreHWID->setEnabled(sectionBoxes.ignoreHardwareId && !closeRequested);
}

void MainWindow::setFirmwareFilePath(const QString &path)
{
    firmwareFilePath = path;
}

void MainWindow::setCommandLineRestore(const QString &backupPath, bool force)
{
    commandLineRestorePath = backupPath;
    commandLineRestoreForce = force;
}

void MainWindow::appendConsoleMessage(const QString &msg)
{
    const QString line = WindowTexts::consoleLine(QTime::currentTime(), msg);
    ui->fwConsoleBrowser->append(line);
    // A station running the command-line flash has no one watching the window: its log is stdout.
    if (commandLineMode) {
        std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }
}

void MainWindow::transferStatus(QString msg)
{
    appendConsoleMessage(msg);
}

void MainWindow::setInfoRow(int row, const QString &text)
{
    if (QTableWidgetItem *item = ui->fwInfoTable->item(row, 0))
        item->setText(text);
}

void MainWindow::on_fwLoadFirmwareButton_clicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Select .bin File:"), lastDirectory, QStringLiteral("*.bin"));
    // A cancelled dialog leaves the loaded file, the rows and the boxes as they were.
    if (path.isEmpty())
        return;
    firmwareFilePath = path;
    lastDirectory = QFileInfo(path).path();
    loadFirmwareFile();
}

void MainWindow::offerSection(QCheckBox *box, bool &offered, bool valid, int row, const QString &versionText)
{
    offered = valid;
    setCheckBoxAndNotify(box, valid);
    setInfoRow(row, valid ? versionText : QString());
}

void MainWindow::refuseFirmwareFile(const QString &reason)
{
    // Nothing of a refused file may stay selectable, or a flash would write bytes the screen disowns.
    offerSection(ui->fwTabCBFlashApp, sectionBoxes.app, false, ROW_IMAGE_FW_VERSION, QString());
    offerSection(ui->fwTabCBFlashSettings, sectionBoxes.settings, false, ROW_IMAGE_SETTINGS_VERSION, QString());
    offerSection(ui->fwTabCBFlashCal, sectionBoxes.calibration, false, ROW_IMAGE_CAL_VERSION, QString());
    sectionBoxes.ignoreHardwareId = false;
    for (int row : {ROW_IMAGE_PART_NUMBER, ROW_IMAGE_HW_ID, ROW_IMAGE_DESCRIPTION})
        setInfoRow(row, QString());
    ui->fwImagePath->clear();
    updateFirmwareTabControls();
    appendConsoleMessage(reason);
}

void MainWindow::loadFirmwareFile()
{
    if (firmwareFilePath.isEmpty())
        return;
    QFile file(firmwareFilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        refuseFirmwareFile(QStringLiteral("Unable to open firmware file: ") + file.errorString());
        return;
    }
    const FirmwareImage image(file.readAll());
    file.close();

    if (!image.hasMagic()) {
        refuseFirmwareFile(QStringLiteral("Incorrect file type!"));
        return;
    }
    // A file that ends inside its header or its sections offers nothing to flash.
    if (!image.hasCompleteSections()) {
        refuseFirmwareFile(QStringLiteral("Firmware file is truncated!"));
        return;
    }

    const QString version = FirmwareImage::versionText(image.version());
    appendConsoleMessage(QStringLiteral("FW Version: ") + version);

    ui->fwImagePath->setText(firmwareFilePath);

    sectionBoxes.ignoreHardwareId = true;
    offerSection(ui->fwTabCBFlashApp, sectionBoxes.app, true, ROW_IMAGE_FW_VERSION, version);
    setInfoRow(ROW_IMAGE_PART_NUMBER, QString::number(image.partNumber()));
    setInfoRow(ROW_IMAGE_HW_ID, QString::number(image.hardwareId()));
    setInfoRow(ROW_IMAGE_DESCRIPTION, image.description());

    // A section that is empty or lacks its magic is not offered, whatever the previous image had.
    offerSection(ui->fwTabCBFlashSettings, sectionBoxes.settings, image.settingsSectionValid(),
                 ROW_IMAGE_SETTINGS_VERSION,
                 WindowTexts::recordVersionText(image.settingsVersionMajor(), image.settingsVersionMinor()));
    offerSection(ui->fwTabCBFlashCal, sectionBoxes.calibration, image.calibrationSectionValid(), ROW_IMAGE_CAL_VERSION,
                 WindowTexts::recordVersionText(image.calibrationVersionMajor(), image.calibrationVersionMinor()));
    updateFirmwareTabControls();
}

void MainWindow::blankBoardRows()
{
    for (int row = ROW_BL_VERSION; row <= ROW_BOARD_SERIAL; ++row)
        setInfoRow(row, QString());
}

void MainWindow::updateBlAppInfo(RWTarget::APP_BL_REG_RO_T data)
{
    const BoardInfo board(data);
    setInfoRow(ROW_BL_VERSION, FirmwareImage::versionText(board.bootloaderVersion()));
    setInfoRow(ROW_BL_PART_NUMBER, QString::number(board.bootloaderPartNumber()));
    setInfoRow(ROW_APP_FW_VERSION, FirmwareImage::versionText(board.appFirmwareVersion()));
    setInfoRow(ROW_APP_HW_ID, QString::number(board.hardwareId()));

    // A record without its magic says nothing about this board; the previous board's values go.
    setInfoRow(ROW_BOARD_SETTINGS_VERSION,
               board.hasSettingsRecord()
                   ? WindowTexts::recordVersionText(board.settingsVersion().major, board.settingsVersion().minor)
                   : QString());
    const bool calibration = board.hasCalibrationRecord();
    setInfoRow(ROW_BOARD_CAL_VERSION, calibration ? WindowTexts::recordVersionText(board.calibrationVersion().major,
                                                                                   board.calibrationVersion().minor)
                                                  : QString());
    setInfoRow(ROW_BOARD_SERIAL, calibration ? board.serialNumber() : QString());

    if (commandLineMode && boardConnected && !closeRequested) {
        if (!commandLineRestorePath.isEmpty()) {
            // The board waits in its bootloader, where the restore's catch finds it at once.
            if (!restoring)
                restoreCalibration(commandLineRestorePath, commandLineRestoreForce);
        } else {
            loadFirmwareFile();
            on_fwFlashFirmwareButton_clicked();
        }
    }
}

void MainWindow::on_fwFlashFirmwareButton_clicked()
{
    const QString text = ui->fwFlashFirmwareButton->text();
    if (text == kFlashFirmwareText) {
        if (!comPortOpen) {
            appendConsoleMessage(QStringLiteral("Connect COM port!"));
            return;
        }
        if (firmwareFilePath.isEmpty()) {
            appendConsoleMessage(QStringLiteral("Specify .bin file!"));
            return;
        }
        if (!boardConnected) {
            appendConsoleMessage(QStringLiteral("No board is connected!"));
            return;
        }
        flashing = true;
        updateControls();
        emit flashDeviceRequest(firmwareFilePath);
    } else if (text == kCancelText) {
        cancellingFlash = true;
        updateControls();
        emit cancelFlashDeviceRequest();
    }
}

void MainWindow::updateProgressBarRequest(int progress)
{
    if (progress < 0 || progress > 100)
        return;
    ui->fwProgressBar->setTextVisible(true);
    ui->fwProgressBar->setValue(progress);
}

void MainWindow::updateBytesTransferredRequest(int progress)
{
    appendConsoleMessage(WindowTexts::bytesFlashedText(progress));
}

void MainWindow::rw_response(RWTarget::RW_RESPONSE_T response)
{
    appendConsoleMessage(WindowTexts::responseText(response));

    flashing = false;
    cancellingFlash = false;
    updateControls();

    // Asked before the worker's next poll, which on this tab would send the board that has just
    // started its new firmware back into its bootloader.
    if (response == RWTarget::RW_SUCCESS && showOutputAfterFlash && !commandLineMode && !closeRequested)
        ui->tabWidget->setCurrentIndex(kTerminalTab);

    if (commandLineMode) {
        // The port is closed ahead of any further poll, which would otherwise send the board that
        // has just been started on its new firmware back into its bootloader.
        emit disconnectCOMPortRequest();
        // The cancel that a close asked for ends the run with the close's own code.
        const bool closeCancelled = closeRequested && response == RWTarget::RW_CANCELLED;
        endCommandLineRun(closeCancelled ? closeExitCode : static_cast<int>(response));
    }
    finishCloseWhenIdle();
}

void MainWindow::on_fwClearConsoleButton_clicked()
{
    ui->fwConsoleBrowser->clear();
    ui->fwConsoleBrowser->setPlaceholderText(kConsolePlaceholder);
    ui->fwProgressBar->setTextVisible(false);
    ui->fwProgressBar->setValue(0);
}
