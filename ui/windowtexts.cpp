#include "ui/windowtexts.h"

#include <iterator>

namespace {

constexpr int kPortLabelMaxChars = 30;

} // namespace

namespace WindowTexts {

QString responseText(RWTarget::RW_RESPONSE_T response)
{
    // Indexed by the result code.
    static const char *const texts[] = {
        "Successfully flashed device.",          // RW_SUCCESS
        "Write timeout occurred! Try again?",    // RW_WRITE_TIMEOUT
        "Read timeout occurred! Try again?",     // RW_READ_TIMEOUT
        "Invalid CRC! Try again?",               // RW_INVALID_CRC
        "Invalid Response! Try again?",          // RW_INVALID_RESPONSE
        "Flash process cancelled by user!",      // RW_CANCELLED
        "Unable to open bin file!",              // RW_FILE_OPEN_FAILED
        "Failed CRC check after flashing!",      // RW_CRC_CHECK_FAILED
        "Invalid Part Number!",                  // RW_INVALID_PART_NUMBER
        "Invalid Hardware ID!",                  // RW_INVALID_HARDWARE_ID
        "Select at least one section to flash!", // RW_NO_SECTION_SELECTED
    };
    static_assert(std::size(texts) == RWTarget::RW_NO_SECTION_SELECTED + 1, "one text per result code");
    const auto code = std::size_t(response);
    return code < std::size(texts) ? QString::fromLatin1(texts[code]) : QString();
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
