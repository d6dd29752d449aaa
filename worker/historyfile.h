#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The board's history: history.jsonl in the state folder, one JSON object per line.
QString historyFilePath();

// Appends `record` as one line to the history file and, when `reportPath` is not empty, to that
// file as well. Returns one text per file that could not be written, saying why.
QStringList appendHistoryRecord(const QJsonObject &record, const QString &reportPath);
