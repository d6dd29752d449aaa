#pragma once

#include <cstddef>
#include <cstdint>

// The two checksums the simulated board knows: CRC-16/XMODEM on every frame and
// CRC-32 (IEEE, as zlib's crc32) for its verdict on the written application.
uint16_t simCrc16(const uint8_t *data, size_t count);
uint32_t simCrc32(const uint8_t *data, size_t count);
