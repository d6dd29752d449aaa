#pragma once

#include "flash/flashselection.h"
#include "fod/fodmessages.h"
#include "fod/fodtypes.h"
#include "target/rwtarget.h"
#include "worker/crossthreadtypes.h"
#include "worker/historyrecords.h"
#include "worker/portlock.h"

#include <QByteArray>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

class QSerialPort;
class QTimer;

// Owns the serial port on its own thread: opens and closes it, polls the board, keeps it in its
// bootloader on the firmware tab or routes its text on the Terminal and FOD tabs, flashes images
// and runs the FOD calibration. The window talks to it only through signals and slots.
class SerialWorker : public QObject
{
    Q_OBJECT

public:
    SerialWorker();
    ~SerialWorker() override;

signals:
    void connectCOMPortResponse(bool response);
    void disconnectCOMPortResponse();
    void updateProgressBarRequest(int progress);
    void updateBytesTransferredRequest(int bytes);
    void transferStatus(QString msg);
    void rw_response(RWTarget::RW_RESPONSE_T response);
    void boardConnectedStatus(bool connected);
    void updateBlAppInfo(RWTarget::APP_BL_REG_RO_T data);
    void terminalOutputMessage(QString msg);
    void fodOutputMessage(QString msg);
    void gainCalculationStatus(bool);
    // Once per calculation, before its status: what was fitted, for the plot.
    void fodFitReport(FodFitReport report);
    // Where a write of the board's calibration area stands, and at last how it ended.
    void calibrationWriteState(CalWriteState state);
    // Why the port did not open or was lost, and what to do: one console line, after the answer
    // or the loss it explains.
    void portProblem(QString reason);
    // How a restore of the calibration area ended: a CalRestoreResult value.
    void calibrationRestoreResponse(int result);

public slots:
    void doStart();
    void connectCOMPortRequest(QString port);
    void disconnectCOMPortRequest();
    void flashDeviceRequest(QString filePath);
    void cancelFlashDeviceRequest();
    // Runs on the caller's thread, like the flash cancel: stops a calibration area write that has
    // not written its first block yet.
    void cancelCalibrationWriteRequest();
    void timerCallback();
    void checkBoxUpdateFlashApp(bool);
    void checkBoxUpdateFlashSettings(bool);
    void checkBoxUpdateFlashCalibration(bool);
    void checkBoxUpdateIgnoreHardwareID(bool);
    void tabIndexChanged(int tabIndex);
    void fodCaptureControl(bool);
    void fodClearCapture();
    void fodCalculateGains(FOD_BOARD_TYPE_T board);
    void fodGainChanged(int gain);
    void fodSaveCapture(QString path);
    void fodLoadCapture(QString path);
    // Writes the user's bytes to the board's application as they are, outside the packet protocol.
    void terminalSendRequest(QByteArray bytes);
    // Writes a backup file back into the board's calibration area (after a power cycle, like the
    // FOD write); refuses one of another size, or of another serial number unless `force`.
    void restoreCalibrationRequest(QString backupPath, bool force);
    // Every record of the board's history goes to this file as well (a station's own log).
    void setReportFile(QString path);

private:
    // Board detection on the firmware tab; returns the interval until the next poll.
    int detectBoard();
    void releaseBoard();
    void queryInfoBlock();
    void readSettingsPage(QByteArray &buffer, quint16 size, quint16 pieceSize);
    void readCalibrationPage(QByteArray &buffer, quint16 size, quint16 pieceSize);
    // Reads what the running application printed and routes it to the Terminal or FOD pane.
    void routeBoardText(bool toFod);
    void discardPortBuffers();
    // A port that reported a resource error (an unplugged adapter) is closed as a disconnect
    // request would close it, and the window is told why.
    void closeLostPort();

    // The board's history: what every record starts with, the FOD pane texts of a calibration
    // write kept for its record, the control of every write of the area (its cancel flag, its
    // states, the copy of the area it takes first, its facts for the record), and the append,
    // whose failures become console or FOD pane lines.
    enum class Pane { Console, Fod };
    RecordBasics recordBasics() const;
    FodMessages recordedFodMessages(QStringList &record);
    CalWriteControl calWriteControl(const FodMessages &messages, QString &backupPath, QString *capturePath,
                                    CalWriteFacts &facts);
    void appendRecord(const QJsonObject &record, Pane pane);
    void writeCalibration(FOD_BOARD_TYPE_T board, const FodGainResult &result, const FodFitReport &report);

    QSerialPort *serialPort = nullptr;
    PortLock portLock;
    QString portLocation; // the file behind the port name
    bool portCreated = false;
    bool portOpen = false;
    RWTarget target;
    std::atomic_bool cancelRequested{false};
    std::atomic_bool calibrationWriteCancelRequested{false};
    bool boardDetected = false;
    // The last flash left the board running its new firmware, and no poll has sent it back since.
    bool applicationStarted = false;
    QTimer *pollTimer = nullptr;
    bool flashBusy = false;
    QMutex busyMutex;
    FlashSelection flashSelection;
    quint32 activeTab = 0;
    bool captureOn = false;
    bool noBoardReported = false;
    bool portLost = false;
    QString portGiven;
    // The information record as last read on this connection, for the history.
    std::optional<RWTarget::APP_BL_REG_RO_T> lastBoardInfo;
    QString reportPath;

    // The poll's read buffer and the FOD capture: the text as received while capturing on the
    // FOD tab, split into lines when a calculation starts.
    QByteArray serialReadBuffer;
    QString fodCaptureText;
    QStringList fodCaptureLines;
    FodDataTable fodDataTable;
};
