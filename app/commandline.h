#pragma once

#include <QString>

class MainWindow;
class QCoreApplication;

// The tool's command line: its options (one table in commandline.cpp), what kind of run they ask
// for, and how that run is started in the window.
class CommandLine
{
public:
    enum class Run {
        Interactive, // the window, used by hand
        Flash,       // -p PORT -i FILE: flash without a click, exit with the result
    };

    // Reads the application's arguments. Help, version and a command line the parser refuses end
    // the process the parser's way.
    void process(const QCoreApplication &application);

    Run run() const;

    // Starts what the run asks of the window, before the event loop runs.
    void start(MainWindow &window) const;

private:
    QString port;
    QString input;
};
