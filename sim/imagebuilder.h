#pragma once

#include "sim/simconfig.h"

#include <cstdint>
#include <string>
#include <vector>

// What a firmware image should hold, including the defects that tests need.
struct ImageSpec {
    uint16_t version = 0x0205; // high byte major
    uint16_t partNumber = kSimDefaultPartNumber;
    uint16_t hardwareId = kSimDefaultHardwareId;
    std::string description = "Zavlo TX firmware (simulated)";

    uint32_t applicationSize = 4096; // 0: no application section
    uint64_t applicationSeed = 1;
    std::vector<uint8_t> application; // used instead of seeded bytes when not empty
    uint32_t settingsSize = 256;      // 0: no settings section
    uint16_t settingsMajor = 1, settingsMinor = 4;
    uint64_t settingsSeed = 2;
    uint32_t calibrationSize = 256; // 0: no calibration section
    uint16_t calibrationMajor = 2, calibrationMinor = 2;
    uint64_t calibrationSeed = 3;
    std::string serialNumber; // at calibration offset 100 when not empty

    // Defects.
    bool wrongMagic = false;
    bool settingsWithoutMagic = false;
    bool calibrationWithoutMagic = false;
    bool badApplicationCrc = false;       // the header block's CRC does not match the application
    bool unterminatedDescription = false; // 128 description bytes, no zero byte
    long truncateTo = -1;                 // cut the file to this many bytes
    int64_t applicationSizeClaim = -1;    // size fields that differ from the bytes present
    int64_t settingsSizeClaim = -1;
    int64_t calibrationSizeClaim = -1;
};

// Image layout: 256-byte header ("ZVLO", version, part number, hardware ID, three sizes, the
// bootloader's header block at 24, description at 128), then application, settings, calibration.
// The header block is the application size (u32 LE), its CRC-32 (u32 LE) and 8 zero bytes.
namespace SimImage {
constexpr size_t HEADER_SIZE = 256;
constexpr size_t HEADER_BLOCK_OFFSET = 24;
constexpr size_t HEADER_BLOCK_SIZE = 16;
constexpr size_t DESCRIPTION_OFFSET = 128;
constexpr size_t DESCRIPTION_SIZE = 128;
} // namespace SimImage

std::vector<uint8_t> imageApplicationBytes(const ImageSpec &spec);
std::vector<uint8_t> imageSettingsBytes(const ImageSpec &spec);
std::vector<uint8_t> imageCalibrationBytes(const ImageSpec &spec);
std::vector<uint8_t> buildFirmwareImage(const ImageSpec &spec);
bool writeFirmwareImage(const std::string &path, const ImageSpec &spec, std::string *error = nullptr);
