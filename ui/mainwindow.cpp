#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "flash/firmwareimage.h"
#include "fod/fodparser.h"
#include "target/boardinfo.h"
#include "ui/configcaldelegate.h"
#include "worker/serialworker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTime>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const QString kFlashFirmwareText = QStringLiteral("Flash Firmware");
const QString kCancelText = QStringLiteral("Cancel");
const QString kStartCaptureText = QStringLiteral("Start Capture");
const QString kStopCaptureText = QStringLiteral("Stop Capture");
const QString kConnectText = QStringLiteral("Connect");
const QString kDisconnectText = QStringLiteral("Disconnect");

// The single-precision constant, multiplied in double precision: 1920 x 1040 gives 1247 x 675.
constexpr float kScreenShare = 0.65f;

constexpr int kPortLabelMaxChars = 30;

constexpr int kFirmwareTab = 0;
constexpr int kTerminalTab = 1;
constexpr int kFodTab = 2;
constexpr int kWorkingTabCount = 3;

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

// A flash or a FOD calculation may keep the worker inside one slot for a while; it gets this long
// to notice the cancel or finish its block before the window goes. With the port open the poll
// may be inside one exchange with the board (a write of up to 500 ms and a read of up to 3 s):
// leaving it there would abandon a running thread. A worker without a port gets 300 ms.
constexpr int kBusyShutdownWaitMs = 5000;
constexpr int kOpenPortShutdownWaitMs = 3500;
constexpr int kIdleShutdownWaitMs = 300;
constexpr int kShutdownWaitSliceMs = 50;

// The Terminal and FOD panes are display only; a board that prints for hours must not fill memory.
// Removing the top line lays the whole pane out again, so lines go a thousand at a time.
constexpr int kPaneMaxBlocks = 20000;
constexpr int kPaneTrimBlocks = 1000;

// Appends board text exactly as received and keeps the pane within its bound.
void appendToPane(QTextEdit *pane, const QString &text)
{
    pane->moveCursor(QTextCursor::End);
    pane->insertPlainText(text);
    pane->moveCursor(QTextCursor::End);
    QTextDocument *document = pane->document();
    if (document->blockCount() <= kPaneMaxBlocks)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                        document->blockCount() - (kPaneMaxBlocks - kPaneTrimBlocks));
    cursor.removeSelectedText();
}

MainWindow::ComPortEnumerator &comPortEnumerator()
{
    static MainWindow::ComPortEnumerator enumerator;
    return enumerator;
}

// A settings or calibration version as the rows show it: major first, in decimal.
QString recordVersionText(quint16 major, quint16 minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

QString responseText(RWTarget::RW_RESPONSE_T response)
{
    switch (response) {
    case RWTarget::RW_SUCCESS:
        return QStringLiteral("Successfully flashed device.");
    case RWTarget::RW_WRITE_TIMEOUT:
        return QStringLiteral("Write timeout occurred! Try again?");
    case RWTarget::RW_READ_TIMEOUT:
        return QStringLiteral("Read timeout occurred! Try again?");
    case RWTarget::RW_INVALID_CRC:
        return QStringLiteral("Invalid CRC! Try again?");
    case RWTarget::RW_INVALID_RESPONSE:
        return QStringLiteral("Invalid Response! Try again?");
    case RWTarget::RW_CANCELLED:
        return QStringLiteral("Flash process cancelled by user!");
    case RWTarget::RW_FILE_OPEN_FAILED:
        return QStringLiteral("Unable to open bin file!");
    case RWTarget::RW_CRC_CHECK_FAILED:
        return QStringLiteral("Failed CRC check after flashing!");
    case RWTarget::RW_INVALID_PART_NUMBER:
        return QStringLiteral("Invalid Part Number!");
    case RWTarget::RW_INVALID_HARDWARE_ID:
        return QStringLiteral("Invalid Hardware ID!");
    case RWTarget::RW_NO_SECTION_SELECTED:
        return QStringLiteral("Select at least one section to flash!");
    }
    return QString();
}

// Sets a section check box the way a click would, so the worker's flag follows.
void setCheckBoxAndNotify(QCheckBox *box, bool checked)
{
    box->setChecked(checked);
    emit box->clicked(checked);
}

} // namespace

void MainWindow::setComPortEnumerator(ComPortEnumerator enumerator)
{
    comPortEnumerator() = std::move(enumerator);
}

QList<MainWindow::ComPortEntry> MainWindow::systemComPorts()
{
    QList<ComPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.manufacturer(), info.description(), info.isBusy()});
    return ports;
}

QSize MainWindow::initialWindowSize(const QRect &availableArea)
{
    const double share = kScreenShare;
    return QSize(static_cast<int>(availableArea.width() * share), static_cast<int>(availableArea.height() * share));
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    const QRect screenArea = QApplication::desktop()->availableGeometry(this);
    qDebug() << "Screen resolution is" << screenArea.right() - screenArea.left() + 1
             << screenArea.bottom() - screenArea.top() + 1;
    resize(initialWindowSize(screenArea));

    setWindowTitle(QStringLiteral("Quorvane GUI v") + QStringLiteral(ZAVLO_VERSION_TEXT));

    // Parented so that the delegate goes with the window; the view itself never deletes it.
    ui->configCalTree->setItemDelegate(new configCalDelegate(this));

    ui->ccSplitter->setSizes({200, 100});
    ui->splitter->setSizes({175, 300});

    populateComPorts();

    workerThread = new QThread();
    worker = new SerialWorker();
    connectWorker();
    worker->moveToThread(workerThread);
    workerThread->start(QThread::InheritPriority);

    comPortOpen = false;
    boardConnected = false;
    firmwareFilePath.clear();
    commandLineMode = false;
    lastDirectory = QDir::homePath();

    ui->fwConsoleBrowser->setPlaceholderText(QStringLiteral("Console..."));
    ui->fwImagePath->setPlaceholderText(QStringLiteral("Path to file..."));
    ui->fwFlashFirmwareButton->setText(kFlashFirmwareText);

    ui->tabWidget->setCurrentIndex(kFirmwareTab);
    while (ui->tabWidget->count() > kWorkingTabCount)
        ui->tabWidget->removeTab(kWorkingTabCount);
    connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(tabSelected()));

    prepareFirmwareTab();

    emit tabIndexChanged(ui->tabWidget->currentIndex());

    connect(worker, &SerialWorker::terminalOutputMessage, this, &MainWindow::terminalOutputMessage,
            Qt::BlockingQueuedConnection);
    const QStringList sampleFields =
        QString::fromLatin1(FOD_SAMPLE_LINE).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    qDebug() << sampleFields;
    connect(this, &MainWindow::fodCaptureControl, worker, &SerialWorker::fodCaptureControl);
    connect(worker, &SerialWorker::fodOutputMessage, this, &MainWindow::fodOutputMessage);
    connect(this, &MainWindow::fodClearCapture, worker, &SerialWorker::fodClearCapture);
    connect(this, &MainWindow::fodCalculateGains, worker, &SerialWorker::fodCalculateGains);
    connect(worker, &SerialWorker::gainCalculationStatus, this, &MainWindow::gainCalculationStatus);
    connect(this, &MainWindow::fodGainChanged, worker, &SerialWorker::fodGainChanged);

    setFodControlsForClosedPort();

    const QString probe = QStringLiteral("12345abcd");
    int digits = 0;
    int letters = 0;
    for (const QChar c : probe) {
        if (c.isDigit())
            ++digits;
        else if (c.isLetter())
            ++letters;
    }
    qDebug() << "Digits: " << digits << "Numbers: " << letters << "Length: " << probe.length();

    ui->terminalOutput->setCursorWidth(0);

    // Board text is never edited; an undo history would only hold it twice.
    ui->terminalOutput->setUndoRedoEnabled(false);
    ui->fodCapture->setUndoRedoEnabled(false);
}

MainWindow::~MainWindow()
{
    qDebug() << "Main Window desconstructor";

    const bool busy = workerBusy();
    if (ui->fwFlashFirmwareButton->text() == kCancelText)
        emit cancelFlashDeviceRequest();

    // The worker may sit in a blocking call into this window; dropping the queued calls releases
    // it, and nothing it sends from now on may reach a window that is going away.
    disconnect(worker, nullptr, this, nullptr);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);

    if (comPortOpen)
        emit disconnectCOMPortRequest();
    worker->deleteLater();
    workerThread->quit();

    // Calls that were already on their way when the connections went are dropped on every slice.
    const QDeadlineTimer deadline(busy ? kBusyShutdownWaitMs
                                       : (comPortOpen ? kOpenPortShutdownWaitMs : kIdleShutdownWaitMs));
    bool finished = false;
    do {
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
        finished = workerThread->wait(QDeadlineTimer(std::min<qint64>(kShutdownWaitSliceMs, deadline.remainingTime())));
    } while (!finished && !deadline.hasExpired());

    // A thread that is still running must not be destroyed; it is left to the end of the process.
    if (finished)
        delete workerThread;
    delete ui;
}

void MainWindow::connectWorker()
{
    connect(workerThread, &QThread::started, worker, &SerialWorker::doStart);
    connect(workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &MainWindow::connectCOMPortRequest, worker, &SerialWorker::connectCOMPortRequest);
    connect(this, &MainWindow::flashDeviceRequest, worker, &SerialWorker::flashDeviceRequest);
    connect(worker, &SerialWorker::connectCOMPortResponse, this, &MainWindow::connectCOMPortResponse);
    connect(this, &MainWindow::disconnectCOMPortRequest, worker, &SerialWorker::disconnectCOMPortRequest,
            Qt::QueuedConnection);
    connect(worker, &SerialWorker::disconnectCOMPortResponse, this, &MainWindow::disconnectCOMPortResponse);
    connect(this, &MainWindow::cancelFlashDeviceRequest, worker, &SerialWorker::cancelFlashDeviceRequest,
            Qt::DirectConnection);
    connect(worker, &SerialWorker::updateProgressBarRequest, this, &MainWindow::updateProgressBarRequest,
            Qt::BlockingQueuedConnection);
    connect(worker, &SerialWorker::updateBytesTransferredRequest, this, &MainWindow::updateBytesTransferredRequest,
            Qt::BlockingQueuedConnection);
    connect(worker, &SerialWorker::transferStatus, this, &MainWindow::transferStatus, Qt::BlockingQueuedConnection);
    connect(worker, &SerialWorker::rw_response, this, &MainWindow::rw_response, Qt::BlockingQueuedConnection);
    connect(worker, &SerialWorker::boardConnectedStatus, this, &MainWindow::boardConnectedStatus,
            Qt::BlockingQueuedConnection);
    connect(worker, &SerialWorker::updateBlAppInfo, this, &MainWindow::updateBlAppInfo);
    connect(this, &MainWindow::tabIndexChanged, worker, &SerialWorker::tabIndexChanged);
}

void MainWindow::prepareFirmwareTab()
{
    QHeaderView *header = ui->fwInfoTable->horizontalHeader();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Stretch);
    for (int row = 0; row < ui->fwInfoTable->rowCount(); ++row) {
        auto *item = new QTableWidgetItem();
        item->setFlags(Qt::ItemIsEnabled);
        ui->fwInfoTable->setItem(row, 0, item);
    }

    ui->fwTabCBFlashApp->setEnabled(false);
    ui->fwTabCBFlashSettings->setEnabled(false);
    ui->fwTabCBFlashCal->setEnabled(false);
    ui->fwTabCBIgnoreHWID->setEnabled(false);

    connect(ui->fwTabCBFlashApp, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashApp(bool)));
    connect(ui->fwTabCBFlashSettings, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashSettings(bool)));
    connect(ui->fwTabCBFlashCal, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashCalibration(bool)));
    connect(ui->fwTabCBIgnoreHWID, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateIgnoreHardwareID(bool)));
}

void MainWindow::setFodControlsForClosedPort()
{
    ui->fodControlButton->setEnabled(false);
    ui->fodClearBuffer->setEnabled(true);
    ui->fodCalculateGains->setEnabled(false);
    ui->fodAutomotiveSelected->setEnabled(false);
    ui->fodXMCSelected->setEnabled(false);
    ui->fodButtonGain2->setEnabled(false);
    ui->fodButtonGain3->setEnabled(false);
    ui->fodButtonGain4->setEnabled(false);
    ui->fodAutomotiveSelected->setChecked(true);
    ui->fodSerialLineEdit->hide();
}

bool MainWindow::workerBusy() const
{
    const bool flashing = ui->fwFlashFirmwareButton->text() == kCancelText;
    // Calculate Gains disables the capture button until the worker reports back; nothing else does
    // while the port is open (a flash only disables the whole tab).
    const bool calculating = comPortOpen && !ui->fodControlButton->isEnabledTo(ui->fodTab);
    return flashing || calculating;
}

void MainWindow::setCommandLineMode()
{
    commandLineMode = true;
}

void MainWindow::setFirmwareFilePath(const QString &path)
{
    firmwareFilePath = path;
}

void MainWindow::appendConsoleMessage(const QString &msg)
{
    const QString stamp = QTime::currentTime().toString(QStringLiteral("hh:mm:ss:zzz"));
    const QString line = QStringLiteral("[") + stamp + QStringLiteral("] ") + msg;
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

void MainWindow::terminalOutputMessage(QString msg)
{
    appendToPane(ui->terminalOutput, msg);
}

void MainWindow::populateComPorts()
{
    const ComPortEnumerator &enumerator = comPortEnumerator();
    const QList<ComPortEntry> ports = enumerator ? enumerator() : systemComPorts();
    for (const ComPortEntry &port : ports) {
        QString label =
            port.portName + QStringLiteral(": ") + port.manufacturer + QStringLiteral("-") + port.description;
        if (label.size() >= kPortLabelMaxChars)
            label = label.left(kPortLabelMaxChars) + QStringLiteral("...");
        if (!port.busy)
            ui->comPortComboBox->addItem(label, port.portName);
    }
    // A busy port still counts: the user may free it and connect without a refresh.
    ui->comPortConnectButton->setEnabled(!ports.isEmpty());
    ui->comPortRefreshPortsButton->setEnabled(true);
}

void MainWindow::on_comPortRefreshPortsButton_clicked()
{
    ui->comPortRefreshPortsButton->setEnabled(false);
    ui->comPortComboBox->clear();
    populateComPorts();
}

void MainWindow::on_comPortConnectButton_clicked()
{
    const QString text = ui->comPortConnectButton->text();
    if (text == kConnectText)
        emit connectCOMPortRequest(ui->comPortComboBox->currentData(Qt::UserRole).toString());
    else if (text == kDisconnectText)
        emit disconnectCOMPortRequest();
}

void MainWindow::connectCOMPortResponse(bool response)
{
    if (response) {
        appendConsoleMessage(QStringLiteral("Successfully opened COM port."));
        comPortOpen = true;
        ui->comPortConnectButton->setText(kDisconnectText);
        ui->comPortComboBox->setEnabled(false);
        ui->comPortRefreshPortsButton->setEnabled(false);
        ui->fodControlButton->setEnabled(true);
        ui->fodCalculateGains->setEnabled(true);
        ui->fodAutomotiveSelected->setEnabled(true);
        ui->fodXMCSelected->setEnabled(true);
    } else {
        appendConsoleMessage(QStringLiteral("Unable to open COM port!"));
        comPortOpen = false;
        ui->comPortRefreshPortsButton->setEnabled(false);
        ui->comPortComboBox->clear();
        populateComPorts();
    }
}

void MainWindow::disconnectCOMPortResponse()
{
    // A port lost during a capture: the capture ends with it, or its controls would stay locked.
    if (ui->fodControlButton->text() == kStopCaptureText)
        on_fodControlButton_clicked();
    if (boardConnected) {
        appendConsoleMessage(QStringLiteral("Board is now disconnected."));
        boardConnected = false;
    }
    appendConsoleMessage(QStringLiteral("Successfully closed COM port."));
    ui->comPortConnectButton->setText(kConnectText);
    ui->comPortComboBox->setEnabled(true);
    ui->comPortRefreshPortsButton->setEnabled(true);
    ui->fodControlButton->setEnabled(false);
    ui->fodCalculateGains->setEnabled(false);
    ui->fodAutomotiveSelected->setEnabled(false);
    ui->fodXMCSelected->setEnabled(false);
    comPortOpen = false;
}

void MainWindow::boardConnectedStatus(bool connected)
{
    qDebug() << "Board is" << connected;
    boardConnected = connected;
}

void MainWindow::tabSelected()
{
    emit tabIndexChanged(ui->tabWidget->currentIndex());
}

void MainWindow::setInfoRow(int row, const QString &text)
{
    if (QTableWidgetItem *item = ui->fwInfoTable->item(row, 0))
        item->setText(text);
}

void MainWindow::setFlashTabsEnabled(bool enabled)
{
    ui->tabWidget->setTabEnabled(kFodTab, enabled);
    ui->tabWidget->setTabEnabled(kTerminalTab, enabled);
}

void MainWindow::on_fwLoadFirmwareButton_clicked()
{
    firmwareFilePath =
        QFileDialog::getOpenFileName(this, QStringLiteral("Select .bin File:"), lastDirectory, QStringLiteral("*.bin"));
    lastDirectory = QFileInfo(firmwareFilePath).path();
    loadFirmwareFile();
}

void MainWindow::loadFirmwareFile()
{
    QFile file(firmwareFilePath);
    if (firmwareFilePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    const FirmwareImage image(file.readAll());
    file.close();

    if (!image.hasMagic()) {
        setCheckBoxAndNotify(ui->fwTabCBFlashApp, false);
        ui->fwTabCBFlashApp->setEnabled(false);
        ui->fwTabCBIgnoreHWID->setEnabled(false);
        appendConsoleMessage(QStringLiteral("Incorrect file type!"));
        return;
    }

    // A file that ends inside its header or its sections offers nothing to flash.
    if (!image.hasCompleteSections()) {
        setCheckBoxAndNotify(ui->fwTabCBFlashApp, false);
        setCheckBoxAndNotify(ui->fwTabCBFlashSettings, false);
        setCheckBoxAndNotify(ui->fwTabCBFlashCal, false);
        ui->fwTabCBFlashApp->setEnabled(false);
        ui->fwTabCBFlashSettings->setEnabled(false);
        ui->fwTabCBFlashCal->setEnabled(false);
        ui->fwTabCBIgnoreHWID->setEnabled(false);
        appendConsoleMessage(QStringLiteral("Firmware file is truncated!"));
        return;
    }

    const QString version = FirmwareImage::versionText(image.version());
    appendConsoleMessage(QStringLiteral("FW Version: ") + version);

    ui->fwImagePath->setText(firmwareFilePath);

    ui->fwTabCBFlashApp->setEnabled(true);
    ui->fwTabCBIgnoreHWID->setEnabled(true);
    setCheckBoxAndNotify(ui->fwTabCBFlashApp, true);

    setInfoRow(ROW_IMAGE_FW_VERSION, version);
    setInfoRow(ROW_IMAGE_PART_NUMBER, QString::number(image.partNumber()));
    setInfoRow(ROW_IMAGE_HW_ID, QString::number(image.hardwareId()));
    setInfoRow(ROW_IMAGE_DESCRIPTION, image.description());

    if (image.settingsSize() == 0) {
        emit ui->fwTabCBFlashSettings->clicked(false);
        ui->fwTabCBFlashSettings->setChecked(false);
        ui->fwTabCBFlashSettings->setEnabled(false);
    } else if (image.settingsSectionValid()) {
        ui->fwTabCBFlashSettings->setEnabled(true);
        setCheckBoxAndNotify(ui->fwTabCBFlashSettings, true);
        setInfoRow(ROW_IMAGE_SETTINGS_VERSION,
                   recordVersionText(image.settingsVersionMajor(), image.settingsVersionMinor()));
    }

    if (image.calibrationSize() == 0) {
        emit ui->fwTabCBFlashCal->clicked(false);
        ui->fwTabCBFlashCal->setChecked(false);
        ui->fwTabCBFlashCal->setEnabled(false);
    } else if (image.calibrationSectionValid()) {
        ui->fwTabCBFlashCal->setEnabled(true);
        setCheckBoxAndNotify(ui->fwTabCBFlashCal, true);
        setInfoRow(ROW_IMAGE_CAL_VERSION,
                   recordVersionText(image.calibrationVersionMajor(), image.calibrationVersionMinor()));
    }
}

void MainWindow::updateBlAppInfo(RWTarget::APP_BL_REG_RO_T data)
{
    setInfoRow(ROW_BL_VERSION, FirmwareImage::versionText(BoardInfo::bootloaderVersion(data)));
    setInfoRow(ROW_BL_PART_NUMBER, QString::number(BoardInfo::bootloaderPartNumber(data)));
    setInfoRow(ROW_APP_FW_VERSION, FirmwareImage::versionText(BoardInfo::appFirmwareVersion(data)));
    setInfoRow(ROW_APP_HW_ID, QString::number(BoardInfo::hardwareId(data)));

    if (BoardInfo::hasSettingsRecord(data))
        setInfoRow(ROW_BOARD_SETTINGS_VERSION,
                   recordVersionText(BoardInfo::settingsVersionMajor(data), BoardInfo::settingsVersionMinor(data)));

    if (BoardInfo::hasCalibrationRecord(data)) {
        setInfoRow(ROW_BOARD_CAL_VERSION, recordVersionText(BoardInfo::calibrationVersionMajor(data),
                                                            BoardInfo::calibrationVersionMinor(data)));
        setInfoRow(ROW_BOARD_SERIAL, BoardInfo::serialNumber(data));
    }

    if (commandLineMode && boardConnected) {
        loadFirmwareFile();
        on_fwFlashFirmwareButton_clicked();
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
        ui->fwFlashFirmwareButton->setText(kCancelText);
        ui->comPortConnectButton->setEnabled(false);
        setFlashTabsEnabled(false);
        emit flashDeviceRequest(firmwareFilePath);
    } else if (text == kCancelText) {
        ui->fwFlashFirmwareButton->setEnabled(false);
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
    appendConsoleMessage(QStringLiteral("%1 bytes flashed.").arg(progress, 7));
}

void MainWindow::rw_response(RWTarget::RW_RESPONSE_T response)
{
    appendConsoleMessage(responseText(response));

    ui->fwFlashFirmwareButton->setText(kFlashFirmwareText);
    ui->fwFlashFirmwareButton->setEnabled(true);
    ui->comPortConnectButton->setEnabled(true);
    setFlashTabsEnabled(true);

    if (commandLineMode) {
        commandLineMode = false;
        // The port is closed ahead of any further poll, which would otherwise send the board that
        // has just been started on its new firmware back into its bootloader.
        emit disconnectCOMPortRequest();
        qDebug() << "Exiting with response" << static_cast<int>(response);
        QCoreApplication::exit(static_cast<int>(response));
    }
}

void MainWindow::on_fwClearConsoleButton_clicked()
{
    ui->fwConsoleBrowser->clear();
    ui->fwConsoleBrowser->setPlaceholderText(QStringLiteral("Console..."));
    ui->fwProgressBar->setTextVisible(false);
    ui->fwProgressBar->setValue(0);
}

void MainWindow::setFodSessionControlsEnabled(bool enabled)
{
    ui->fodClearBuffer->setEnabled(enabled);
    ui->fodCalculateGains->setEnabled(enabled);
    ui->fodAutomotiveSelected->setEnabled(enabled);
    ui->fodXMCSelected->setEnabled(enabled);
    ui->tabWidget->setTabEnabled(kFirmwareTab, enabled);
    ui->tabWidget->setTabEnabled(kTerminalTab, enabled);
}

void MainWindow::on_fodControlButton_clicked()
{
    const QString text = ui->fodControlButton->text();
    if (text == kStartCaptureText) {
        ui->comPortConnectButton->setEnabled(false);
        setFodSessionControlsEnabled(false);
        ui->fodControlButton->setText(kStopCaptureText);
        if (ui->fodXMCSelected->isChecked()) {
            ui->fodButtonGain2->setEnabled(true);
            ui->fodButtonGain3->setEnabled(true);
            ui->fodButtonGain4->setEnabled(true);
        }
        emit fodCaptureControl(true);
    } else if (text == kStopCaptureText) {
        ui->comPortConnectButton->setEnabled(true);
        setFodSessionControlsEnabled(true);
        ui->fodControlButton->setText(kStartCaptureText);
        ui->fodButtonGain2->setEnabled(false);
        ui->fodButtonGain3->setEnabled(false);
        ui->fodButtonGain4->setEnabled(false);
        emit fodCaptureControl(false);
    }
}

void MainWindow::on_fodClearBuffer_clicked()
{
    ui->fodCapture->clear();
    emit fodClearCapture();
}

void MainWindow::on_fodCalculateGains_clicked()
{
    ui->fodControlButton->setEnabled(false);
    setFodSessionControlsEnabled(false);
    if (ui->fodAutomotiveSelected->isChecked())
        emit fodCalculateGains(FOD_BOARD_AUTOMOTIVE);
    else if (ui->fodXMCSelected->isChecked())
        emit fodCalculateGains(FOD_BOARD_XMC);
}

void MainWindow::gainCalculationStatus(bool)
{
    ui->fodControlButton->setEnabled(true);
    setFodSessionControlsEnabled(true);
}

void MainWindow::fodOutputMessage(QString msg)
{
    appendToPane(ui->fodCapture, msg);
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

void MainWindow::on_configCalTree_itemDoubleClicked(QTreeWidgetItem *item, int column)
{
    if (!item)
        return;
    Qt::ItemFlags flags = item->flags();
    const bool groupValue = column == 1 && item->parent() == nullptr && item->childCount() > 0;
    if (column == 0 || groupValue)
        flags &= ~Qt::ItemIsEditable;
    else
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
}

void MainWindow::on_configCalTree_currentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    if (!current)
        return;
    const QTreeWidgetItem *named = current->parent() ? current->parent() : current;
    ui->registerDetailsEdit->setPlainText(named->text(0) + QStringLiteral(" Descritpion:"));
}
