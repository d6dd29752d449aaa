#pragma once

#include "fod/fodtypes.h"
#include "target/rwtarget.h"
#include "worker/crossthreadtypes.h"
#include "worker/workerthread.h"

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

class LineRecall;
class QCheckBox;
class QCloseEvent;
class QTreeWidgetItem;
class SerialWorker;
class TerminalSession;
class TextPane;

namespace Ui {
class MainWindow;
}

// The program's only window: firmware update, terminal and FOD tabs, the port controls and the
// console. It drives the serial worker on its own thread purely through signals and slots.
// One file per part: mainwindow.cpp (frame, worker wiring, connection controls, shutdown),
// firmwaretab.cpp, terminaltab.cpp, fodtab.cpp and configpage.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // One serial port as the port list sees it.
    struct ComPortEntry {
        QString portName;
        QString manufacturer;
        QString description;
        bool busy = false;
        // The links under /dev/serial that name the same device; listed after it.
        QStringList stableNames;
    };
    using ComPortEnumerator = std::function<QList<ComPortEntry>()>;

    // Replaces where the port list comes from (the system's ports by default); an empty function
    // restores the default. Takes effect for windows built afterwards and for every later rebuild.
    static void setComPortEnumerator(ComPortEnumerator enumerator);
    static QList<ComPortEntry> systemComPorts();

    // The window's share of the usable screen area, truncated toward zero.
    static QSize initialWindowSize(const QRect &availableArea);

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void setCommandLineMode();
    void setFirmwareFilePath(const QString &path);
    // Shows the port in the port box (its listed entry, or the name as typed) and opens it.
    void openPort(const QString &port);
    // A command-line flash that has produced no result yet.
    bool commandLineRunPending() const { return commandLineMode; }

    // Reads the header of the selected image, shows it and sets the section check boxes.
    void loadFirmwareFile();

    // Has the worker take the capture from a file in place of the captured text.
    void loadFodCapture(const QString &path);

    // Has the worker write a calibration backup back into the board, as "Restore Calibration..." does.
    void restoreCalibration(const QString &backupPath, bool force = false);
    // A command-line run that restores this backup once the board is found, in place of a flash.
    void setCommandLineRestore(const QString &backupPath, bool force);

signals:
    void connectCOMPortRequest(QString port);
    void disconnectCOMPortRequest();
    void cancelFlashDeviceRequest();
    void cancelCalibrationWriteRequest();
    void flashDeviceRequest(QString filePath);
    void tabIndexChanged(int tabIndex);
    void fodCaptureControl(bool);
    void fodClearCapture();
    void fodCalculateGains(FOD_BOARD_TYPE_T board);
    void fodGainChanged(int gain);
    void fodSaveCapture(QString path);
    void fodLoadCapture(QString path);
    void terminalSendRequest(QByteArray bytes);
    void restoreCalibrationRequest(QString backupPath, bool force);
    // Every record of the board's history goes to this file as well.
    void reportFileRequest(QString path);

public slots:
    void connectCOMPortResponse(bool response);
    void disconnectCOMPortResponse();
    void updateProgressBarRequest(int progress);
    void updateBytesTransferredRequest(int progress);
    void transferStatus(QString msg);
    void rw_response(RWTarget::RW_RESPONSE_T response);
    void boardConnectedStatus(bool connected);
    void updateBlAppInfo(RWTarget::APP_BL_REG_RO_T data);
    void tabSelected();
    void terminalOutputMessage(QString msg);
    void fodOutputMessage(QString msg);
    void gainCalculationStatus(bool);
    void fodFitReport(FodFitReport report);
    void calibrationWriteState(CalWriteState state);
    void portProblem(QString reason);
    void calibrationRestoreResponse(int result);

    // The one way the window goes, whoever asks (the close button, a stop signal, the session
    // manager): a running flash is cancelled, a calibration write is cancelled before its first
    // block or else finished; then the window hides and ends the event loop. A command-line run
    // that has produced no result by then ends with `commandLineExitCode`, any other with 0.
    // A reason, when given, is the console's first line about it.
    void requestClose(int commandLineExitCode = RWTarget::RW_CANCELLED, const QString &reason = QString());

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_configCalTree_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void on_configCalTree_currentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *previous);
    void on_fwFlashFirmwareButton_clicked();
    void on_comPortRefreshPortsButton_clicked();
    void on_comPortConnectButton_clicked();
    void on_fwClearConsoleButton_clicked();
    void on_fwLoadFirmwareButton_clicked();
    void on_fodControlButton_clicked();
    void on_fodClearBuffer_clicked();
    void on_fodCalculateGains_clicked();
    void on_fodXMCSelected_clicked();
    void on_fodAutomotiveSelected_clicked();
    void on_fodButtonGain2_clicked();
    void on_fodButtonGain3_clicked();
    void on_fodButtonGain4_clicked();
    void on_fodSaveCapture_clicked();
    void on_fodLoadCapture_clicked();
    void on_fodRestoreCalibration_clicked();

private:
    // Which sections the loaded image offers: their boxes are enabled only then.
    struct SectionBoxes {
        bool app = false;
        bool settings = false;
        bool calibration = false;
        bool ignoreHardwareId = false;
    };

    // Every control's enabled state and the state-carrying button texts, from the state below.
    void updateControls();
    void updateFrameControls();
    void updateFirmwareTabControls();
    void updateFodTabControls();

    void connectWorker();
    // Asks the worker to stop what can be stopped: a flash between blocks, a calibration write
    // before its first block write.
    void cancelRunningWork();
    void finishCloseWhenIdle();
    void endCommandLineRun(int code);
    void endEventLoop(int code);
    // A FOD pane line of the window's own, also in the debug log and, on the command line, on stdout.
    void appendFodNotice(const QString &text);
    // A calculation with its calibration write, or a restore: the worker is inside a write of the area.
    bool calibrationBusy() const { return calculating || restoring; }
    void prepareFirmwareTab();
    void prepareTerminalTab();
    void prepareFodTab();
    void prepareConfigPage();
    void appendConsoleMessage(const QString &msg);
    void populateComPorts();
    // Rebuilds the port list; a typed port path stays in the box.
    void rebuildPortList();
    // The port the box names: a listed entry's port, or the typed text exactly as typed.
    QString chosenPortName() const;
    void setInfoRow(int row, const QString &text);
    // Checks and enables a section box exactly when the image offers the section, tells the
    // worker, and shows the section's version in its row or nothing.
    void offerSection(QCheckBox *box, bool &offered, bool valid, int row, const QString &versionText);
    // A file that cannot be flashed: no box offered, its rows and path blank, the reason shown.
    void refuseFirmwareFile(const QString &reason);
    // Rows 1 to 7 describe the connected board or nothing.
    void blankBoardRows();

    Ui::MainWindow *ui;
    WorkerThread workerThread;
    SerialWorker *worker;

    // The port list, and the port and the board as the worker last reported them.
    bool portsListed = false; // the last port list was not empty
    QString portText;         // the port box's text: a listed entry's label or a typed path
    bool comPortOpen = false;
    bool boardConnected = false;
    SectionBoxes sectionBoxes; // what the loaded image offers
    // What the worker has been asked to do and has not yet answered.
    bool flashing = false;
    bool cancellingFlash = false;
    bool capturing = false;
    bool calculating = false;
    bool restoring = false;
    // The capture came from a file: it can be fitted without a port, until a capture or Clear
    // Buffer replaces it.
    bool captureLoaded = false;
    CalWriteState calibrationWrite = CalWriteState::Idle; // as the worker last reported it
    // A flash or a restore from the command line: started without a click, ends the program.
    bool commandLineMode = false;
    // After a successful flash in the window, the Terminal tab shows the board's new firmware.
    bool showOutputAfterFlash = false;
    QString commandLineRestorePath; // empty: the run flashes
    bool commandLineRestoreForce = false;
    // Closing: asked for, waiting for the worker, done.
    bool closeRequested = false;
    bool closeFinished = false;
    bool eventLoopEnded = false;
    int closeExitCode = RWTarget::RW_CANCELLED;

    QString firmwareFilePath;
    QString lastDirectory;

    // Terminal tab (terminaltab.cpp): the pane, the text on its way there and to the session
    // log, the send line's history; sending needs the tab shown.
    void updateTerminalTabControls();
    void sendTerminalLine();
    void setTerminalLogging(bool on);
    void closeTerminalLog();
    void saveTerminalText();
    TextPane *terminalPane = nullptr;
    TerminalSession *terminalSession = nullptr;
    LineRecall *terminalRecall = nullptr;
    bool terminalShown = false;
};
