#include "sim/simconfig.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kSerialOffset = 100;
constexpr size_t kSerialField = 68;

void putLe16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value)
{
    if (offset + 2 <= bytes.size()) {
        bytes[offset] = static_cast<uint8_t>(value & 0xFF);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
}
} // namespace

const char *boardModeName(BoardMode mode)
{
    switch (mode) {
    case BoardMode::Bootloader:
        return "boot";
    case BoardMode::Application:
        return "app";
    case BoardMode::PoweredOff:
        return "off";
    }
    return "?";
}

std::vector<uint8_t> simDefaultArea(SimArea area, size_t size, uint16_t major, uint16_t minor,
                                    const std::string &serial)
{
    const bool cal = area == SimArea::Calibration;
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = cal ? static_cast<uint8_t>(i * 11 + 0x23) : static_cast<uint8_t>(i * 7 + 0x11);
        // 0xFF is what erased flash reads; keeping it out lets tests tell written from untouched bytes.
        bytes[i] = b == 0xFF ? 0xFE : b;
    }
    const char *magic = cal ? "ZVLC" : "ZVLS";
    for (size_t i = 0; i < 4 && i < size; ++i)
        bytes[i] = static_cast<uint8_t>(magic[i]);
    putLe16(bytes, 12, minor);
    putLe16(bytes, 14, major);
    if (cal && !serial.empty() && size >= kSerialOffset + kSerialField) {
        const size_t n = std::min(serial.size(), kSerialField);
        std::memcpy(bytes.data() + kSerialOffset, serial.data(), n);
        if (n < kSerialField)
            bytes[kSerialOffset + n] = 0;
    }
    return bytes;
}

std::string RequestRecord::text() const
{
    char head[160];
    const bool wideAddress = command == 1 || (command >= 3 && command <= 6);
    std::snprintf(head, sizeof head, "#%ld %s len=%u cmd=%u addr=0x%0*X crc=%s ", index, boardModeName(mode),
                  lengthByte, command, wideAddress ? 8 : 4, address, crcGood ? "ok" : "bad");
    std::string line = head;
    if (answered) {
        char st[32];
        std::snprintf(st, sizeof st, "status=%u", status);
        line += st;
    } else {
        line += "noanswer";
    }
    line += " payload=";
    char hex[4];
    for (uint8_t b : payload) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        line += hex;
    }
    return line;
}
