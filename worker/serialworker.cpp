#include "worker/serialworker.h"

#include "flash/flashprocedure.h"
#include "fod/calarearestore.h"
#include "fod/fodcalwriter.h"
#include "fod/fodcapturefile.h"
#include "fod/fodparser.h"
#include "fod/fodsearch.h"
#include "target/boardinfo.h"
#include "target/pagereader.h"
#include "worker/calbackups.h"
#include "worker/historyfile.h"
#include "worker/portnames.h"
#include "worker/portproblem.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

namespace {

constexpr qint32 kBaudRate = 115200;

// Poll intervals, counted from the end of a poll's own work.
constexpr int kFirstPollMs = 50;
constexpr int kBusyPollMs = 25;
constexpr int kTextPollMs = 10;
constexpr int kBoardAnsweredPollMs = 100;
constexpr int kNoAnswerPollMs = 250;

// Time the board needs to start its application after leaving the bootloader.
constexpr int kReleaseSettleMs = 200;

// Text the board prints while nobody reads it must not grow the port's buffer without bound.
constexpr qint64 kReadBufferBytes = 1 << 20;

// Buffer sizes and fillers of the information query: whatever the board does not supply
// keeps its filler, so the window can see what was missing.
constexpr int kRegisterBufferSize = 128;
constexpr char kRegisterFiller = char(0xFF);
constexpr char kPageFiller = char(0xAA);
constexpr int kSettingsBufferSize = 1880;
constexpr int kCalibrationBufferSize = 888;

// Maps the flash procedure's reports onto the worker's signals and keeps what the flash's record
// needs; `finish` records the result and then reports it.
class WorkerFlashReporter : public FlashReporter
{
public:
    WorkerFlashReporter(SerialWorker &worker, FlashRecord &record, std::function<void()> queryInfo,
                        std::function<void(RWTarget::RW_RESPONSE_T)> finish)
        : worker(worker), record(record), queryInfo(std::move(queryInfo)), finish(std::move(finish))
    {
    }
    void updateProgress(int percent) override { emit worker.updateProgressBarRequest(percent); }
    void updateBytesTransferred(int bytes) override { emit worker.updateBytesTransferredRequest(bytes); }
    void transferStatus(const QString &msg) override
    {
        record.basics.messages << msg;
        emit worker.transferStatus(msg);
    }
    void flashResult(RWTarget::RW_RESPONSE_T response) override { finish(response); }
    void queryInfoBlock() override { queryInfo(); }
    void imageRead(const FirmwareImage &image) override { record.image = image; }
    void blockAccepted(int bytes) override { record.basics.bytesWritten += quint64(bytes); }

private:
    SerialWorker &worker;
    FlashRecord &record;
    std::function<void()> queryInfo;
    std::function<void(RWTarget::RW_RESPONSE_T)> finish;
};

// The identity read earlier on this connection belongs to the record only when it is that of the
// board whose calibration area the write read: another board may have been put on the port since.
void keepBoardOfArea(RecordBasics &basics, const CalWriteFacts &facts)
{
    if (basics.board && !facts.areaRead.isEmpty() &&
        BoardInfo(*basics.board).serialNumber() != BoardInfo::areaSerialNumber(facts.areaRead))
        basics.board.reset();
}

// A line of the FOD pane without its line end, as the history keeps it.
QString withoutLineEnd(const std::string &text)
{
    QString line = QString::fromStdString(text);
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace

SerialWorker::SerialWorker() : QObject(nullptr)
{
    pollTimer = new QTimer(this);
    pollTimer->setSingleShot(true);
    connect(pollTimer, &QTimer::timeout, this, &SerialWorker::timerCallback);
    flashSelection = FlashSelection{};
}

SerialWorker::~SerialWorker()
{
    qDebug() << "In Worker Deconstructor";
    delete pollTimer;
    // A port object kept after a failed open (or never disconnected) would otherwise leak.
    delete serialPort;
}

void SerialWorker::doStart()
{
    cancelRequested = false;
}

void SerialWorker::connectCOMPortRequest(QString port)
{
    if (!serialPort) {
        serialPort = new QSerialPort;
        portCreated = true;
        serialPort->setReadBufferSize(kReadBufferBytes);
        connect(serialPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError && serialPort && serialPort->isOpen())
                portLost = true;
        });
    }
    serialPort->setPortName(port);
    serialPort->setBaudRate(kBaudRate, QSerialPort::AllDirections);
    portLost = false;
    portGiven = port;
    lastBoardInfo.reset();
    portLocation = port.isEmpty() ? QString() : PortNames::systemLocation(port);
    int error = port.isEmpty() ? ENOENT : portLock.acquire(portLocation);
    if (error == 0 && serialPort->open(QIODevice::ReadWrite)) {
        portOpen = true;
        emit connectCOMPortResponse(true);
        pollTimer->setInterval(kFirstPollMs);
        pollTimer->start();
        return;
    }
    QString systemText = QString::fromLocal8Bit(std::strerror(error));
    if (error == 0) {
        portLock.release();
        systemText = serialPort->errorString();
        // The same file opened for the lock, so a permission error of the port's is its lock file.
        if (serialPort->error() == QSerialPort::PermissionError)
            error = EBUSY;
    }
    qDebug() << "Can't open port";
    emit connectCOMPortResponse(false);
    emit portProblem(portProblemText(examinePort(PortFacts::Event::OpenFailed, portLocation, error, systemText)));
}

void SerialWorker::disconnectCOMPortRequest()
{
    qDebug() << "Closing serial port";
    pollTimer->stop();
    portCreated = false;
    portOpen = false;
    boardDetected = false;
    applicationStarted = false;
    lastBoardInfo.reset();
    if (serialPort) {
        serialPort->close();
        delete serialPort;
        serialPort = nullptr;
    }
    portLock.release();
    emit disconnectCOMPortResponse();
}

void SerialWorker::flashDeviceRequest(QString filePath)
{
    QElapsedTimer clock;
    clock.start();
    FlashRecord record;
    record.basics = recordBasics();
    record.imagePath = filePath.isEmpty() ? filePath : QFileInfo(filePath).absoluteFilePath();
    record.selection = flashSelection;
    // The record is on disk before the window hears the result, which may end the program.
    const auto finish = [this, &record, &clock](RWTarget::RW_RESPONSE_T response) {
        record.result = response;
        record.basics.durationMs = clock.elapsed();
        appendRecord(historyRecord(record), Pane::Console);
        emit rw_response(response);
    };

    if (!serialPort || !portOpen || !target.ping(*serialPort)) {
        const QString text = QStringLiteral("No response to ping.");
        record.basics.messages << text;
        emit transferStatus(text);
        finish(RWTarget::RW_READ_TIMEOUT);
        return;
    }
    {
        QMutexLocker lock(&busyMutex);
        flashBusy = true;
    }
    WorkerFlashReporter reporter(
        *this, record,
        [this, &record] {
            queryInfoBlock();
            record.boardAfter = lastBoardInfo;
        },
        finish);
    flashImage(target, *serialPort, reporter, filePath, cancelRequested, flashSelection);
    // A successful flash ends by starting the board's new firmware.
    applicationStarted = record.result == RWTarget::RW_SUCCESS;
    {
        QMutexLocker lock(&busyMutex);
        flashBusy = false;
    }
    // The window's answer to the result (a change of tab) is queued by now; a poll that fell due
    // during the flash must not come before it.
    if (pollTimer->isActive())
        pollTimer->start(kFirstPollMs);
}

void SerialWorker::cancelFlashDeviceRequest()
{
    qDebug() << "Cancel work";
    cancelRequested = true;
}

void SerialWorker::cancelCalibrationWriteRequest()
{
    qDebug() << "Cancel calibration write";
    calibrationWriteCancelRequested = true;
}

void SerialWorker::timerCallback()
{
    {
        QMutexLocker lock(&busyMutex);
        if (flashBusy) {
            pollTimer->start(kBusyPollMs);
            return;
        }
    }
    if (!portCreated || !serialPort) {
        pollTimer->start(kBusyPollMs);
        return;
    }
    if (portLost) {
        closeLostPort();
        return;
    }

    int interval = kTextPollMs;
    switch (activeTab) {
    case kFirmwareTab:
        interval = detectBoard();
        break;
    case kTerminalTab:
        releaseBoard();
        routeBoardText(false);
        break;
    case kFodTab:
        releaseBoard();
        if (captureOn)
            routeBoardText(true);
        break;
    default:
        break;
    }
    pollTimer->start(interval);
}

void SerialWorker::closeLostPort()
{
    qDebug() << "Serial port lost:" << serialPort->errorString();
    emit transferStatus(QStringLiteral("COM port lost! Check the connection and connect again."));
    emit portProblem(portProblemText(examinePort(PortFacts::Event::Lost, portLocation, 0, serialPort->errorString())));
    disconnectCOMPortRequest();
}

int SerialWorker::detectBoard()
{
    applicationStarted = false;
    // A board running its application prints text, which may hold the start byte; whatever
    // came in since the last poll is not an answer to the status read.
    serialPort->clear(QSerialPort::Input);
    QByteArray status(kRegisterBufferSize, kRegisterFiller);
    if (!target.readRegisters(*serialPort, RWTarget::REG_BOOT_STATUS, 1, status)) {
        qDebug() << "No board connected...";
        lastBoardInfo.reset();
        emit boardConnectedStatus(false);
        if (!noBoardReported) {
            noBoardReported = true;
            emit transferStatus(QStringLiteral("No Board connected."));
        }
        boardDetected = false;
        return kNoAnswerPollMs;
    }

    if (RWTarget::isBootloaderStatus(status)) {
        if (!boardDetected) {
            boardDetected = true;
            noBoardReported = false;
            qDebug() << "Board is now connected.";
            emit boardConnectedStatus(true);
            emit transferStatus(QStringLiteral("Board is now connected."));
            queryInfoBlock();
        }
        return kBoardAnsweredPollMs;
    }

    // The board answers but runs its application: restart it into the bootloader.
    qDebug() << "Not in boot mode...";
    qDebug() << "Writing reset register...";
    target.writeResetRegister(*serialPort, RWTarget::RESET_ENTER_BOOTLOADER);
    return kBoardAnsweredPollMs;
}

void SerialWorker::releaseBoard()
{
    if (!boardDetected)
        return;
    emit boardConnectedStatus(false);
    boardDetected = false;
    // After a flash the new firmware runs already; its application does not answer a reset, and
    // waiting for that answer would eat its first lines.
    if (applicationStarted)
        return;
    target.writeResetRegister(*serialPort, RWTarget::RESET_RUN_APPLICATION);
    QThread::msleep(kReleaseSettleMs);
}

void SerialWorker::queryInfoBlock()
{
    qDebug() << "Querying RO registers";
    qDebug() << "Size of app struct is" << RWTarget::APP_INFO_BLOCK_SIZE;

    RWTarget::APP_BL_REG_RO_T info;
    const BoardInfo board(info);

    QByteArray app(RWTarget::APP_INFO_BLOCK_SIZE, kRegisterFiller);
    target.readRegisters(*serialPort, RWTarget::REG_APP_FW_VERSION, RWTarget::APP_INFO_BLOCK_SIZE / 2, app);
    std::memcpy(info.APP_INFO_BLOCK.data(), app.constData(), info.APP_INFO_BLOCK.size());
    qDebug() << "FW Version is" << board.appFirmwareVersion();
    qDebug() << "Part Number is" << board.appPartNumber();
    qDebug() << "HW Descriptor is" << board.hardwareId();
    qDebug() << "Description is" << board.appDescription();

    QByteArray bl(RWTarget::BL_INFO_BLOCK_SIZE, kRegisterFiller);
    target.readRegisters(*serialPort, RWTarget::REG_BL_VERSION, RWTarget::BL_INFO_BLOCK_SIZE / 2, bl);
    std::memcpy(info.BL_INFO_BLOCK.data(), bl.constData(), info.BL_INFO_BLOCK.size());
    const quint16 pageSize = board.pageSize();
    qDebug() << "BL Version is" << board.bootloaderVersion();
    qDebug() << "Part Number is" << board.bootloaderPartNumber();
    qDebug() << "Settings Page Num:" << board.settingsPage();
    qDebug() << "Cal Page Num:" << board.calibrationPage();
    qDebug() << "Page size is" << pageSize;

    QByteArray settings(kSettingsBufferSize, kPageFiller);
    readSettingsPage(settings, RWTarget::SETTINGS_RECORD_SIZE, pageSize);
    std::memcpy(info.SETTINGS_RECORD.data(), settings.constData(), info.SETTINGS_RECORD.size());

    // Page bytes 98 and 99 are not carried: the serial number follows the header directly.
    QByteArray calibration(kCalibrationBufferSize, kPageFiller);
    readCalibrationPage(calibration, RWTarget::CALIBRATION_RECORD_SIZE, pageSize);
    std::memcpy(info.CALIBRATION_RECORD.data(), calibration.constData(), RWTarget::CAL_HEADER_SIZE);
    std::memcpy(info.CALIBRATION_RECORD.data() + RWTarget::CAL_HEADER_SIZE,
                calibration.constData() + RWTarget::CAL_SERIAL_OFFSET, RWTarget::CAL_SERIAL_SIZE);

    lastBoardInfo = info;
    emit updateBlAppInfo(info);
}

void SerialWorker::readSettingsPage(QByteArray &buffer, quint16 size, quint16 pieceSize)
{
    readPageInPieces(target, *serialPort, PageKind::Settings, buffer, size, pieceSize);
}

void SerialWorker::readCalibrationPage(QByteArray &buffer, quint16 size, quint16 pieceSize)
{
    readPageInPieces(target, *serialPort, PageKind::Calibration, buffer, size, pieceSize);
}

void SerialWorker::routeBoardText(bool toFod)
{
    serialReadBuffer.clear();
    if (!target.pollRead(*serialPort, serialReadBuffer))
        return;
    // A zero byte ends the text of this read; what follows it is neither shown nor captured.
    const int zero = serialReadBuffer.indexOf('\0');
    const QByteArray bytes = zero < 0 ? serialReadBuffer : serialReadBuffer.left(zero);
    const QString text = QString::fromUtf8(bytes);
    if (toFod) {
        emit fodOutputMessage(text);
        fodCaptureText.append(QString::fromLatin1(bytes));
    } else {
        emit terminalOutputMessage(text);
    }
}

void SerialWorker::discardPortBuffers()
{
    if (serialPort && serialPort->isOpen())
        serialPort->clear(QSerialPort::AllDirections);
}

void SerialWorker::checkBoxUpdateFlashApp(bool checked)
{
    flashSelection.app = checked;
}

void SerialWorker::checkBoxUpdateFlashSettings(bool checked)
{
    flashSelection.settings = checked;
}

void SerialWorker::checkBoxUpdateFlashCalibration(bool checked)
{
    flashSelection.calibration = checked;
}

void SerialWorker::checkBoxUpdateIgnoreHardwareID(bool checked)
{
    flashSelection.ignoreHardwareId = checked;
}

void SerialWorker::tabIndexChanged(int tabIndex)
{
    qDebug() << "Tab is now" << tabIndex;
    if (quint32(tabIndex) >= kWorkingTabCount)
        return;
    activeTab = quint32(tabIndex);
    if (activeTab == kFirmwareTab)
        noBoardReported = false;
    if (activeTab == kTerminalTab && portOpen) {
        // What a board has printed since a flash started it is its new firmware's first text.
        if (!applicationStarted)
            discardPortBuffers();
        emit terminalOutputMessage(QStringLiteral("\r\n"));
    }
}

void SerialWorker::fodCaptureControl(bool on)
{
    qDebug() << "Control is" << on;
    captureOn = on;
    discardPortBuffers();
    if (on) {
        fodCaptureLines.clear();
        fodCaptureText.clear();
    } else {
        emit fodOutputMessage(QStringLiteral("\r\n"));
    }
}

void SerialWorker::fodClearCapture()
{
    qDebug() << "fodClearCapture";
    fodCaptureLines.clear();
    fodCaptureText.clear();
}

void SerialWorker::fodGainChanged(int gain)
{
    if (gain < 2 || gain > 4 || !serialPort || !portOpen)
        return;
    const char setting = char('0' + gain);
    target.writePacket(*serialPort, QByteArray(1, setting));
    qDebug() << "Serial output:" << setting;
}

void SerialWorker::fodSaveCapture(QString path)
{
    QString error;
    if (saveFodCapture(path, fodCaptureText, error))
        emit fodOutputMessage(
            QStringLiteral("Capture saved to %1 (%2 bytes).\r\n").arg(path).arg(fodCaptureText.size()));
    else
        emit fodOutputMessage(error + QStringLiteral("\r\n"));
}

// A loaded file takes the place of the capture, as a new capture would, and shows as captured text.
void SerialWorker::fodLoadCapture(QString path)
{
    QByteArray bytes;
    QString error;
    if (!loadFodCapture(path, bytes, error)) {
        emit fodOutputMessage(error + QStringLiteral("\r\n"));
        return;
    }
    fodCaptureLines.clear();
    fodCaptureText = QString::fromLatin1(bytes);
    emit fodOutputMessage(QStringLiteral("Capture loaded from %1 (%2 bytes).\r\n").arg(path).arg(bytes.size()));
    emit fodOutputMessage(QString::fromUtf8(bytes));
}

void SerialWorker::terminalSendRequest(QByteArray bytes)
{
    // Only the board's application reads text; the bootloader would take it for part of a frame.
    if (bytes.isEmpty() || !serialPort || !portOpen || activeTab != kTerminalTab)
        return;
    target.writePacket(*serialPort, bytes);
}

void SerialWorker::fodCalculateGains(FOD_BOARD_TYPE_T board)
{
    FodGainResult result{};
    FodFitReport report;
    qDebug() << "Board is" << int(board);

    if (board == FOD_BOARD_XMC || board == FOD_BOARD_AUTOMOTIVE) {
        fodCaptureLines = splitCaptureLines(fodCaptureText);
        emit fodOutputMessage(board == FOD_BOARD_XMC ? QStringLiteral("Calculating Gains for XMC Board...\r\n")
                                                     : QStringLiteral("Calculating Gains for Auto Board...\r\n"));
    }
    if (fodCaptureLines.isEmpty()) {
        qDebug() << "No captured data!";
        emit fodOutputMessage(QStringLiteral("No captured data!\r\n"));
        emit fodFitReport(report);
        emit gainCalculationStatus(false);
        return;
    }

    FodMessages messages;
    messages.output = [this](const std::string &text) { emit fodOutputMessage(QString::fromStdString(text)); };
    messages.debug = [](const std::string &text) { qDebug().noquote() << QString::fromStdString(text); };
    const bool fitted =
        parseFodData(fodCaptureLines, int(board), fodDataTable, result, messages, FodSearchOptions{}, &report);
    const std::string quality = fodQualityText(report);
    if (!quality.empty())
        emit fodOutputMessage(QString::fromStdString(quality));
    emit fodFitReport(report);
    if (!fitted) {
        emit gainCalculationStatus(false);
        return;
    }

    if (serialPort && portOpen) {
        writeCalibration(board, result, report);
    } else {
        emit fodOutputMessage(QStringLiteral("COM port is not open: FOD Parameters were not written.\r\n"));
    }
    emit gainCalculationStatus(true);
}

void SerialWorker::writeCalibration(FOD_BOARD_TYPE_T board, const FodGainResult &result, const FodFitReport &report)
{
    QElapsedTimer clock;
    clock.start();
    CalibrationRecord record;
    record.basics = recordBasics();
    record.fit = report;
    const FodMessages messages = recordedFodMessages(record.basics.messages);
    const CalWriteControl control = calWriteControl(messages, record.backupPath, &record.capturePath, record.write);

    // Without a place for the copy of the area, the board is not even asked for its bootloader.
    QString error;
    if (calibrationBackupFolderWritable(error)) {
        writeFodParameters(target, *serialPort, board, result, messages, FodCalWriteTiming(), control);
    } else {
        messages.out("Calibration area not backed up (" + error.toStdString() +
                     "): nothing was written to the board.\r\n");
        calibrationWriteCancelRequested = false;
        record.write.outcome = CalWriteState::NotWritten;
        emit calibrationWriteState(CalWriteState::NotWritten);
    }
    record.basics.durationMs = clock.elapsed();
    record.basics.bytesWritten = record.write.bytesWritten;
    keepBoardOfArea(record.basics, record.write);
    appendRecord(historyRecord(record), Pane::Fod);
}

void SerialWorker::restoreCalibrationRequest(QString backupPath, bool force)
{
    QElapsedTimer clock;
    clock.start();
    RestoreRecord record;
    record.basics = recordBasics();
    record.backupPath = QFileInfo(backupPath).absoluteFilePath();
    record.force = force;
    const FodMessages messages = recordedFodMessages(record.basics.messages);

    QString error;
    if (!loadCalibrationBackup(backupPath, record.backup, error)) {
        messages.out(error.toStdString() + "\r\n");
        record.result = CalRestoreResult::BackupUnreadable;
    } else if (!serialPort || !portOpen) {
        messages.out("COM port is not open: nothing was restored.\r\n");
        record.result = CalRestoreResult::NoAnswer;
    } else if (!calibrationBackupFolderWritable(error)) {
        messages.out("Calibration area not backed up (" + error.toStdString() + "): nothing was restored.\r\n");
        record.result = CalRestoreResult::NotBackedUp;
    } else {
        const CalWriteControl control = calWriteControl(messages, record.areaBackupPath, nullptr, record.write);
        record.result =
            restoreCalibrationArea(target, *serialPort, record.backup, force, messages, FodCalWriteTiming(), control);
    }
    // A cancel meant for a write that never began must not stop the next one.
    calibrationWriteCancelRequested = false;
    record.basics.durationMs = clock.elapsed();
    record.basics.bytesWritten = record.write.bytesWritten;
    keepBoardOfArea(record.basics, record.write);
    appendRecord(historyRecord(record), Pane::Fod);
    emit calibrationRestoreResponse(int(record.result));
}

void SerialWorker::setReportFile(QString path)
{
    reportPath = path;
}

RecordBasics SerialWorker::recordBasics() const
{
    RecordBasics basics;
    basics.started = QDateTime::currentDateTime();
    basics.portGiven = portGiven;
    basics.board = lastBoardInfo;
    return basics;
}

FodMessages SerialWorker::recordedFodMessages(QStringList &record)
{
    FodMessages messages;
    messages.output = [this, &record](const std::string &text) {
        record << withoutLineEnd(text);
        emit fodOutputMessage(QString::fromStdString(text));
    };
    messages.debug = [](const std::string &text) { qDebug().noquote() << QString::fromStdString(text); };
    return messages;
}

CalWriteControl SerialWorker::calWriteControl(const FodMessages &messages, QString &backupPath, QString *capturePath,
                                              CalWriteFacts &facts)
{
    CalWriteControl control;
    control.cancel = &calibrationWriteCancelRequested;
    control.report = [this](CalWriteState state) { emit calibrationWriteState(state); };
    control.facts = &facts;
    control.backup = [this, messages, &backupPath, capturePath](const QByteArray &area) {
        const QString stem = calibrationFileStem(BoardInfo::areaSerialNumber(area), QDateTime::currentDateTime());
        QString error;
        if (!saveCalibrationBackup(area, stem, backupPath, error)) {
            messages.out("Calibration area not backed up (" + error.toStdString() +
                         "): nothing was written to the board.\r\n");
            return false;
        }
        messages.out("Calibration area saved to " + backupPath.toStdString() + ".\r\n");
        // The capture the parameters were fitted to, so that the fit can be run again later.
        if (capturePath) {
            if (saveCaptureCopy(fodCaptureText, stem, *capturePath, error))
                messages.out(QStringLiteral("Capture saved to %1 (%2 bytes).\r\n")
                                 .arg(*capturePath)
                                 .arg(fodCaptureText.size())
                                 .toStdString());
            else
                messages.out(error.toStdString() + "\r\n");
        }
        return true;
    };
    return control;
}

void SerialWorker::appendRecord(const QJsonObject &record, Pane pane)
{
    // The history never decides how an operation ends: a file that cannot be written is only said.
    const QStringList failures = appendHistoryRecord(record, reportPath);
    for (const QString &failure : failures) {
        qDebug().noquote() << failure;
        if (pane == Pane::Console)
            emit transferStatus(failure);
        else
            emit fodOutputMessage(failure + QStringLiteral("\r\n"));
    }
}
