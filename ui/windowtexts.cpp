#include "ui/windowtexts.h"

namespace {

constexpr int kPortLabelMaxChars = 30;

} // namespace

namespace WindowTexts {

QString responseText(RWTarget::RW_RESPONSE_T response)
{
    switch (response) {
    case RWTarget::RW_SUCCESS:
        return QStringLiteral("Successfully flashed device.");
    case RWTarget::RW_WRITE_TIMEOUT:
        return QStringLiteral("Write timeout occurred! Try again?");
    case RWTarget::RW_READ_TIMEOUT:
        return QStringLiteral("Read timeout occurred! Try again?");
    case RWTarget::RW_INVALID_CRC:
        return QStringLiteral("Invalid CRC! Try again?");
    case RWTarget::RW_INVALID_RESPONSE:
        return QStringLiteral("Invalid Response! Try again?");
    case RWTarget::RW_CANCELLED:
        return QStringLiteral("Flash process cancelled by user!");
    case RWTarget::RW_FILE_OPEN_FAILED:
        return QStringLiteral("Unable to open bin file!");
    case RWTarget::RW_CRC_CHECK_FAILED:
        return QStringLiteral("Failed CRC check after flashing!");
    case RWTarget::RW_INVALID_PART_NUMBER:
        return QStringLiteral("Invalid Part Number!");
    case RWTarget::RW_INVALID_HARDWARE_ID:
        return QStringLiteral("Invalid Hardware ID!");
    case RWTarget::RW_NO_SECTION_SELECTED:
        return QStringLiteral("Select at least one section to flash!");
    }
    return QString();
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
