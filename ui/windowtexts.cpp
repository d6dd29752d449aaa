#include "ui/windowtexts.h"

#include "flash/flashresult.h"

namespace {

constexpr int kPortLabelMaxChars = 30;

} // namespace

namespace WindowTexts {

QString responseText(RWTarget::RW_RESPONSE_T response)
{
    return FlashResult::text(response);
}

QString consoleLine(const QTime &time, const QString &message)
{
    return QStringLiteral("[") + time.toString(QStringLiteral("hh:mm:ss:zzz")) + QStringLiteral("] ") + message;
}

QString bytesFlashedText(int bytes)
{
    return QStringLiteral("%1 bytes flashed.").arg(bytes, 7);
}

QString recordVersionText(quint16 major, quint16 minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

QString portLabel(const QString &portName, const QString &manufacturer, const QString &description)
{
    QString label = portName + QStringLiteral(": ") + manufacturer + QStringLiteral("-") + description;
    if (label.size() >= kPortLabelMaxChars)
        label = label.left(kPortLabelMaxChars) + QStringLiteral("...");
    return label;
}

} // namespace WindowTexts
