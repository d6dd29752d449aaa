#pragma once

#include "target/rwtarget.h"

#include <QString>
#include <QTime>
#include <QtGlobal>

// The window's texts that need no widget: result texts, console lines, version and port labels.
namespace WindowTexts {

// The console line of a flash result; empty for a code the window does not know.
QString responseText(RWTarget::RW_RESPONSE_T response);

// "[hh:mm:ss:zzz] message", stamped with the local time.
QString consoleLine(const QTime &time, const QString &message);

// The progress line: the count right-aligned in seven places.
QString bytesFlashedText(int bytes);

// A settings or calibration version as the rows show it: major first, in decimal.
QString recordVersionText(quint16 major, quint16 minor);

// "name: manufacturer-description", cut to 30 characters and dots when it reaches 30.
QString portLabel(const QString &portName, const QString &manufacturer, const QString &description);

} // namespace WindowTexts
