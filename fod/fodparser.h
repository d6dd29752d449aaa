#pragma once

#include "fod/fodmessages.h"
#include "fod/fodtypes.h"

#include <QString>
#include <QStringList>

struct FodFitReport;
struct FodSearchOptions;

// The FOD data line the board prints, used for the start-up self-check of the line split.
extern const char FOD_SAMPLE_LINE[];

// Splits captured text into lines at every carriage return and line feed, dropping empty pieces.
QStringList splitCaptureLines(const QString &captureText);

// Builds the table from the captured lines: lines with "=" are skipped, a line of exactly seven
// whitespace-separated pieces becomes a row (a piece that is not a number reads as 0.0), at most
// FOD_MAX_ROWS rows. Returns the number of rows stored.
int fillFodDataTable(const QStringList &lines, FodDataTable &table);

// Parses the lines and runs the fit for `board`. False (after reporting why through `messages`)
// when fewer than two rows parse, the board type is unknown or the fit fails.
bool parseFodData(const QStringList &lines, int board, FodDataTable &table, FodGainResult &result,
                  const FodMessages &messages);

// The same with an explicit choice of search, for the command-line tool and the benchmarks. With
// `report`, it describes the fit there: no sets when no fit was attempted.
bool parseFodData(const QStringList &lines, int board, FodDataTable &table, FodGainResult &result,
                  const FodMessages &messages, const FodSearchOptions &options, FodFitReport *report = nullptr);
