#pragma once

#include <QString>

class MainWindow;
class QCommandLineParser;

// The command-line options about the board's records: --report FILE (every record of the run
// appended there as well, a station's own log) and --restore-calibration BACKUP [--force] (with
// -p, a run that writes a calibration backup back into the board instead of flashing).
void addRecordOptions(QCommandLineParser &parser);

// Applies them once the parser has processed the arguments, before any run starts. False, after
// saying why on stderr, when they cannot be combined with the other options given.
bool applyRecordOptions(const QCommandLineParser &parser, MainWindow &window, const QString &port,
                        const QString &input);
