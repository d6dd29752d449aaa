#include "sim/imagebuilder.h"

#include "sim/fodlinegenerator.h"
#include "sim/simcrc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kSerialOffset = 100;
constexpr size_t kSerialField = 68;

void put16(std::vector<uint8_t> &b, size_t at, uint16_t v)
{
    if (at + 2 <= b.size()) {
        b[at] = static_cast<uint8_t>(v & 0xFF);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    }
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4 && at + i < b.size(); ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> seededBytes(size_t size, uint64_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint64_t state = seed;
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t r = simSplitMix64(state);
        for (size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
    }
    return bytes;
}

std::vector<uint8_t> sectionBytes(uint32_t size, uint64_t seed, const char *magic, bool withMagic, uint16_t major,
                                  uint16_t minor)
{
    std::vector<uint8_t> bytes = seededBytes(size, seed);
    if (withMagic) {
        for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(magic[i]);
    } else if (!bytes.empty()) {
        bytes[0] = '!'; // seeded bytes must not spell the magic by chance
    }
    put16(bytes, 12, minor);
    put16(bytes, 14, major);
    return bytes;
}
} // namespace

std::vector<uint8_t> imageApplicationBytes(const ImageSpec &spec)
{
    if (!spec.application.empty()) {
        std::vector<uint8_t> bytes = spec.application;
        bytes.resize(spec.applicationSize, 0xFF);
        return bytes;
    }
    return seededBytes(spec.applicationSize, spec.applicationSeed);
}

std::vector<uint8_t> imageSettingsBytes(const ImageSpec &spec)
{
    return sectionBytes(spec.settingsSize, spec.settingsSeed, "ZVLS", !spec.settingsWithoutMagic, spec.settingsMajor,
                        spec.settingsMinor);
}

std::vector<uint8_t> imageCalibrationBytes(const ImageSpec &spec)
{
    std::vector<uint8_t> bytes =
        sectionBytes(spec.calibrationSize, spec.calibrationSeed, "ZVLC", !spec.calibrationWithoutMagic,
                     spec.calibrationMajor, spec.calibrationMinor);
    if (!spec.serialNumber.empty() && bytes.size() >= kSerialOffset + kSerialField) {
        const size_t n = std::min(spec.serialNumber.size(), kSerialField);
        std::memcpy(bytes.data() + kSerialOffset, spec.serialNumber.data(), n);
        if (n < kSerialField)
            bytes[kSerialOffset + n] = 0;
    }
    return bytes;
}

std::vector<uint8_t> buildFirmwareImage(const ImageSpec &spec)
{
    const std::vector<uint8_t> app = imageApplicationBytes(spec);
    const std::vector<uint8_t> settings = imageSettingsBytes(spec);
    const std::vector<uint8_t> cal = imageCalibrationBytes(spec);

    std::vector<uint8_t> image(SimImage::HEADER_SIZE, 0);
    std::memcpy(image.data(), spec.wrongMagic ? "ZVLX" : "ZVLO", 4);
    put16(image, 4, spec.version);
    put16(image, 6, spec.partNumber);
    put16(image, 8, spec.hardwareId);
    auto claim = [](int64_t claimed, size_t actual) {
        return static_cast<uint32_t>(claimed >= 0 ? claimed : static_cast<int64_t>(actual));
    };
    put32(image, 12, claim(spec.applicationSizeClaim, app.size()));
    put32(image, 16, claim(spec.settingsSizeClaim, settings.size()));
    put32(image, 20, claim(spec.calibrationSizeClaim, cal.size()));

    uint32_t crc = simCrc32(app.data(), app.size());
    if (spec.badApplicationCrc)
        crc ^= 0x00000001u;
    put32(image, SimImage::HEADER_BLOCK_OFFSET, static_cast<uint32_t>(app.size()));
    put32(image, SimImage::HEADER_BLOCK_OFFSET + 4, crc);

    if (spec.unterminatedDescription) {
        std::string text = spec.description.empty() ? std::string("D") : spec.description;
        for (size_t i = 0; i < SimImage::DESCRIPTION_SIZE; ++i)
            image[SimImage::DESCRIPTION_OFFSET + i] =
                static_cast<uint8_t>(text[i % text.size()] ? text[i % text.size()] : 'D');
    } else {
        const size_t n = std::min(spec.description.size(), SimImage::DESCRIPTION_SIZE - 1);
        std::memcpy(image.data() + SimImage::DESCRIPTION_OFFSET, spec.description.data(), n);
    }

    image.insert(image.end(), app.begin(), app.end());
    image.insert(image.end(), settings.begin(), settings.end());
    image.insert(image.end(), cal.begin(), cal.end());
    if (spec.truncateTo >= 0 && static_cast<size_t>(spec.truncateTo) < image.size())
        image.resize(static_cast<size_t>(spec.truncateTo));
    return image;
}

bool writeFirmwareImage(const std::string &path, const ImageSpec &spec, std::string *error)
{
    const std::vector<uint8_t> image = buildFirmwareImage(spec);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    const bool closed = std::fclose(f) == 0;
    if ((!ok || !closed) && error)
        *error = path + ": write failed";
    return ok && closed;
}
