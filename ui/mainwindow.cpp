#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/windowtexts.h"
#include "worker/portnames.h"
#include "worker/serialworker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopWidget>
#include <QDir>
#include <QLineEdit>
#include <QSerialPortInfo>

// The frame: construction, the worker's wiring, the port controls, the tabs and the shutdown.

namespace {

const QString kConnectText = QStringLiteral("Connect");
const QString kDisconnectText = QStringLiteral("Disconnect");

// The single-precision constant, multiplied in double precision: 1920 x 1040 gives 1247 x 675.
constexpr float kScreenShare = 0.65f;

// A flash or a FOD calculation may keep the worker inside one slot for a while; when the window
// goes without having waited for it (the event loop ended elsewhere), it gets this long to notice
// the cancel, or to finish the calibration area's block writes: as long as the grace period of a
// stop signal. With the port open the poll may be inside one exchange with the board (a write of
// up to 500 ms and a read of up to 3 s): leaving it there would abandon a running thread. A worker
// without a port gets 300 ms.
constexpr int kBusyShutdownWaitMs = 10000;
constexpr int kOpenPortShutdownWaitMs = 3500;
constexpr int kIdleShutdownWaitMs = 300;

MainWindow::ComPortEnumerator &comPortEnumerator()
{
    static MainWindow::ComPortEnumerator enumerator;
    return enumerator;
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
        ports.append({info.portName(), info.manufacturer(), info.description(), info.isBusy(),
                      PortNames::stableNames(info.systemLocation())});
    return ports;
}

QSize MainWindow::initialWindowSize(const QRect &availableArea)
{
    const double share = kScreenShare;
    return QSize(static_cast<int>(availableArea.width() * share), static_cast<int>(availableArea.height() * share));
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), workerThread(this), worker(workerThread.worker())
{
    ui->setupUi(this);

    const QRect screenArea = QApplication::desktop()->availableGeometry(this);
    qDebug() << "Screen resolution is" << screenArea.right() - screenArea.left() + 1
             << screenArea.bottom() - screenArea.top() + 1;
    resize(initialWindowSize(screenArea));

    setWindowTitle(QStringLiteral("Quorvane GUI v") + QStringLiteral(ZAVLO_VERSION_TEXT));

    prepareConfigPage();
    // Any path can be typed into the port box: a pseudo-terminal, a link, a network bridge.
    connect(ui->comPortComboBox, &QComboBox::editTextChanged, this, [this](const QString &text) {
        portText = text;
        updateFrameControls();
    });
    populateComPorts();

    connectWorker();
    workerThread.start();

    lastDirectory = QDir::homePath();

    ui->tabWidget->setCurrentIndex(kFirmwareTab);
    while (ui->tabWidget->count() > kWorkingTabCount)
        ui->tabWidget->removeTab(kWorkingTabCount);
    connect(ui->tabWidget, SIGNAL(currentChanged(int)), this, SLOT(tabSelected()));

    prepareFirmwareTab();

    emit tabIndexChanged(ui->tabWidget->currentIndex());

    prepareFodTab();

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

    prepareTerminalTab();
    updateControls();
}

MainWindow::~MainWindow()
{
    qDebug() << "Main Window desconstructor";

    const bool busy = flashing || calibrationBusy();
    cancelRunningWork();
    if (comPortOpen)
        emit disconnectCOMPortRequest();
    workerThread.stopAndWait(
        QDeadlineTimer(busy ? kBusyShutdownWaitMs : (comPortOpen ? kOpenPortShutdownWaitMs : kIdleShutdownWaitMs)));
    delete ui;
}

void MainWindow::connectWorker()
{
    connect(this, &MainWindow::connectCOMPortRequest, worker, &SerialWorker::connectCOMPortRequest);
    connect(this, &MainWindow::flashDeviceRequest, worker, &SerialWorker::flashDeviceRequest);
    connect(worker, &SerialWorker::connectCOMPortResponse, this, &MainWindow::connectCOMPortResponse);
    connect(this, &MainWindow::disconnectCOMPortRequest, worker, &SerialWorker::disconnectCOMPortRequest,
            Qt::QueuedConnection);
    connect(worker, &SerialWorker::disconnectCOMPortResponse, this, &MainWindow::disconnectCOMPortResponse);
    connect(this, &MainWindow::cancelFlashDeviceRequest, worker, &SerialWorker::cancelFlashDeviceRequest,
            Qt::DirectConnection);
    // Like the flash cancel: the worker is inside the write, so only an atomic flag reaches it.
    connect(this, &MainWindow::cancelCalibrationWriteRequest, worker, &SerialWorker::cancelCalibrationWriteRequest,
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

    connect(ui->fwTabCBFlashApp, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashApp(bool)));
    connect(ui->fwTabCBFlashSettings, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashSettings(bool)));
    connect(ui->fwTabCBFlashCal, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateFlashCalibration(bool)));
    connect(ui->fwTabCBIgnoreHWID, SIGNAL(clicked(bool)), worker, SLOT(checkBoxUpdateIgnoreHardwareID(bool)));

    connect(worker, &SerialWorker::terminalOutputMessage, this, &MainWindow::terminalOutputMessage,
            Qt::BlockingQueuedConnection);

    connect(this, &MainWindow::fodCaptureControl, worker, &SerialWorker::fodCaptureControl);
    connect(worker, &SerialWorker::fodOutputMessage, this, &MainWindow::fodOutputMessage);
    connect(this, &MainWindow::fodClearCapture, worker, &SerialWorker::fodClearCapture);
    connect(this, &MainWindow::fodCalculateGains, worker, &SerialWorker::fodCalculateGains);
    connect(worker, &SerialWorker::gainCalculationStatus, this, &MainWindow::gainCalculationStatus);
    connect(this, &MainWindow::fodGainChanged, worker, &SerialWorker::fodGainChanged);
    connect(this, &MainWindow::fodSaveCapture, worker, &SerialWorker::fodSaveCapture);
    connect(this, &MainWindow::fodLoadCapture, worker, &SerialWorker::fodLoadCapture);
    connect(worker, &SerialWorker::fodFitReport, this, &MainWindow::fodFitReport);
    connect(this, &MainWindow::terminalSendRequest, worker, &SerialWorker::terminalSendRequest, Qt::QueuedConnection);
    connect(worker, &SerialWorker::calibrationWriteState, this, &MainWindow::calibrationWriteState);
    connect(worker, &SerialWorker::portProblem, this, &MainWindow::portProblem);
    connect(this, &MainWindow::restoreCalibrationRequest, worker, &SerialWorker::restoreCalibrationRequest);
    connect(this, &MainWindow::reportFileRequest, worker, &SerialWorker::setReportFile);
    // Blocking like the flash result: a command-line run closes the port before the worker polls
    // the board again, which would send it back into its bootloader.
    connect(worker, &SerialWorker::calibrationRestoreResponse, this, &MainWindow::calibrationRestoreResponse,
            Qt::BlockingQueuedConnection);
}

void MainWindow::updateControls()
{
    updateFrameControls();
    updateFirmwareTabControls();
    updateFodTabControls();
    updateTerminalTabControls();
}

void MainWindow::updateFrameControls()
{
    ui->comPortConnectButton->setText(comPortOpen ? kDisconnectText : kConnectText);
    // A busy port still counts: the user may free it and connect without a refresh.
    ui->comPortConnectButton->setEnabled((portsListed || !portText.isEmpty()) && !flashing && !capturing &&
                                         !restoring && !closeRequested);
    ui->comPortComboBox->setEnabled(!comPortOpen && !closeRequested);
    ui->comPortRefreshPortsButton->setEnabled(!comPortOpen && !closeRequested);

    const bool fodBusy = capturing || calibrationBusy();
    ui->tabWidget->setTabEnabled(kFirmwareTab, !fodBusy);
    ui->tabWidget->setTabEnabled(kTerminalTab, !flashing && !fodBusy);
    ui->tabWidget->setTabEnabled(kFodTab, !flashing);
}

void MainWindow::setCommandLineMode()
{
    commandLineMode = true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    requestClose();
    event->setAccepted(closeFinished);
}

void MainWindow::requestClose(int commandLineExitCode, const QString &reason)
{
    if (!closeRequested) {
        closeRequested = true;
        closeExitCode = commandLineExitCode;
        qDebug() << "Close requested";
        if (!reason.isEmpty())
            appendConsoleMessage(reason);
        if (flashing)
            appendConsoleMessage(QStringLiteral("Closing once the flash has stopped."));
        if (calibrationBusy()) {
            const bool writing =
                calibrationWrite == CalWriteState::Writing || calibrationWrite == CalWriteState::Returning;
            appendFodNotice(writing ? QStringLiteral("Closing once the calibration area is written...\r\n")
                                    : QStringLiteral("Closing: the calibration write is cancelled.\r\n"));
        }
        cancelRunningWork();
        updateControls();
    }
    finishCloseWhenIdle();
}

void MainWindow::cancelRunningWork()
{
    if (flashing && !cancellingFlash) {
        cancellingFlash = true;
        emit cancelFlashDeviceRequest();
    }
    // Always sent during a calculation or a restore: the window may not have heard yet that the
    // block writes began, and the worker ignores the flag from then on.
    if (calibrationBusy())
        emit cancelCalibrationWriteRequest();
}

void MainWindow::finishCloseWhenIdle()
{
    if (!closeRequested || closeFinished || flashing || calibrationBusy())
        return;
    closeFinished = true;
    hide();
    if (commandLineMode)
        endCommandLineRun(closeExitCode);
    else
        endEventLoop(0);
}

void MainWindow::endCommandLineRun(int code)
{
    commandLineMode = false;
    qDebug() << "Exiting with response" << code;
    endEventLoop(code);
}

void MainWindow::endEventLoop(int code)
{
    // The first ending counts: a close that completes after a command-line result must not turn
    // that result into 0.
    if (eventLoopEnded)
        return;
    eventLoopEnded = true;
    QCoreApplication::exit(code);
}

void MainWindow::populateComPorts()
{
    const ComPortEnumerator &enumerator = comPortEnumerator();
    const QList<ComPortEntry> ports = enumerator ? enumerator() : systemComPorts();
    QComboBox *box = ui->comPortComboBox;
    for (const ComPortEntry &port : ports) {
        if (port.busy)
            continue;
        box->addItem(WindowTexts::portLabel(port.portName, port.manufacturer, port.description), port.portName);
        // Whole, unlike the labels: the end of such a name is what tells two adapters apart.
        for (const QString &name : port.stableNames)
            box->addItem(name, name);
    }
    portsListed = !ports.isEmpty();
}

void MainWindow::rebuildPortList()
{
    QComboBox *box = ui->comPortComboBox;
    const bool typed = box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive) < 0;
    const QString text = box->currentText();
    box->clear();
    populateComPorts();
    if (typed)
        box->setEditText(text);
}

QString MainWindow::chosenPortName() const
{
    const QComboBox *box = ui->comPortComboBox;
    const int listed = box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    return listed >= 0 ? box->itemData(listed, Qt::UserRole).toString() : box->currentText();
}

void MainWindow::openPort(const QString &port)
{
    QComboBox *box = ui->comPortComboBox;
    const int listed = box->findData(port, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (listed >= 0)
        box->setCurrentIndex(listed);
    else
        box->setEditText(port);
    emit connectCOMPortRequest(port);
}

void MainWindow::on_comPortRefreshPortsButton_clicked()
{
    rebuildPortList();
    updateControls();
}

void MainWindow::on_comPortConnectButton_clicked()
{
    const QString text = ui->comPortConnectButton->text();
    if (text == kConnectText)
        emit connectCOMPortRequest(chosenPortName());
    else if (text == kDisconnectText)
        emit disconnectCOMPortRequest();
}

void MainWindow::connectCOMPortResponse(bool response)
{
    if (response) {
        appendConsoleMessage(QStringLiteral("Successfully opened COM port."));
        comPortOpen = true;
    } else {
        appendConsoleMessage(QStringLiteral("Unable to open COM port!"));
        comPortOpen = false;
        rebuildPortList();
    }
    updateControls();
}

void MainWindow::portProblem(QString reason)
{
    appendConsoleMessage(reason);
}

void MainWindow::disconnectCOMPortResponse()
{
    // A port lost during a capture: the capture ends with it, or its controls would stay locked.
    if (capturing)
        on_fodControlButton_clicked();
    if (boardConnected) {
        appendConsoleMessage(QStringLiteral("Board is now disconnected."));
        boardConnected = false;
    }
    blankBoardRows();
    appendConsoleMessage(QStringLiteral("Successfully closed COM port."));
    comPortOpen = false;
    updateControls();
}

void MainWindow::boardConnectedStatus(bool connected)
{
    qDebug() << "Board is" << connected;
    boardConnected = connected;
    if (!connected)
        blankBoardRows();
}

void MainWindow::tabSelected()
{
    emit tabIndexChanged(ui->tabWidget->currentIndex());
}
