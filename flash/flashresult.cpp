#include "flash/flashresult.h"

#include <iterator>

namespace {

struct ResultTexts {
    const char *name;
    const char *text;
};

// Indexed by the result code.
constexpr ResultTexts kResults[] = {
    {"RW_SUCCESS", "Successfully flashed device."},
    {"RW_WRITE_TIMEOUT", "Write timeout occurred! Try again?"},
    {"RW_READ_TIMEOUT", "Read timeout occurred! Try again?"},
    {"RW_INVALID_CRC", "Invalid CRC! Try again?"},
    {"RW_INVALID_RESPONSE", "Invalid Response! Try again?"},
    {"RW_CANCELLED", "Flash process cancelled by user!"},
    {"RW_FILE_OPEN_FAILED", "Unable to open bin file!"},
    {"RW_CRC_CHECK_FAILED", "Failed CRC check after flashing!"},
    {"RW_INVALID_PART_NUMBER", "Invalid Part Number!"},
    {"RW_INVALID_HARDWARE_ID", "Invalid Hardware ID!"},
    {"RW_NO_SECTION_SELECTED", "Select at least one section to flash!"},
};
static_assert(std::size(kResults) == RWTarget::RW_NO_SECTION_SELECTED + 1, "one entry per result code");

const ResultTexts *entry(RWTarget::RW_RESPONSE_T response)
{
    const auto code = std::size_t(response);
    return code < std::size(kResults) ? &kResults[code] : nullptr;
}

} // namespace

namespace FlashResult {

QString name(RWTarget::RW_RESPONSE_T response)
{
    const ResultTexts *e = entry(response);
    return e ? QString::fromLatin1(e->name) : QString();
}

QString text(RWTarget::RW_RESPONSE_T response)
{
    const ResultTexts *e = entry(response);
    return e ? QString::fromLatin1(e->text) : QString();
}

} // namespace FlashResult
