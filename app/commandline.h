#pragma once

#include <QString>

class MainWindow;
class QCommandLineParser;
class QCoreApplication;

// The tool's command line: its options (one table in commandline.cpp), what kind of run they ask
// for, and how that run is started in the window.
class CommandLine
{
public:
    // Exit code of a command-line run that has no result when its --timeout runs out; 0 to 10
    // are the flash results, 12 to 15 a restore's.
    static constexpr int kTimeoutExitCode = 11;

    // Decides, before the QApplication exists, where the window goes. Without a display, a run
    // that needs nobody at the window (a command-line flash or restore, help, version, a command line the
    // parser refuses) is drawn offscreen; a window to be used by hand has nowhere to go, which
    // one line on stderr says before false is returned. A platform chosen by QT_QPA_PLATFORM or
    // -platform is left alone.
    static bool choosePlatform(int argc, char **argv);

    enum class Run {
        Interactive,       // the window, used by hand
        InteractiveOnPort, // -p PORT alone: the window, connected to that port
        Flash,             // -p PORT -i FILE: flash without a click, exit with the result
        Restore,           // -p PORT --restore-calibration BACKUP: write a backup back, exit with the result
    };

    // Reads the application's arguments. Help, version and a command line the parser refuses end
    // the process the parser's way; a value out of its range, or options that cannot go together,
    // are said on stderr and give false.
    bool process(const QCoreApplication &application);

    Run run() const;

    // Starts what the run asks of the window, before the event loop runs; a command-line run's
    // time limit starts with it. A --report file takes every record of the run, whatever its kind.
    void start(MainWindow &window) const;

private:
    void read(const QCommandLineParser &parser);

    QString port;
    QString input;
    QString reportPath;  // absolute, empty: no report file
    QString restorePath; // absolute, empty: no restore
    bool restoreForce = false;
    QString timeoutText;
    int timeoutSeconds = 0; // 0: no limit
};
