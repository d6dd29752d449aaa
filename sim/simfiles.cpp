#include "sim/simfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool simReadFile(const std::string &path, std::vector<uint8_t> &bytes, std::string *error)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok && error)
        *error = path + ": read failed";
    return ok;
}

bool simWriteFile(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!(ok && closed) && error)
        *error = path + ": write failed";
    return ok && closed;
}

std::string snapshotStateText(const BoardSnapshot &snap)
{
    std::string text;
    char line[128];
    auto add = [&](const char *key, long value) {
        std::snprintf(line, sizeof line, "%s %ld\n", key, value);
        text += line;
    };
    text += std::string("mode ") + boardModeName(snap.mode) + "\n";
    add("gain", snap.gain);
    std::snprintf(line, sizeof line, "crc_status_written 0x%04X\n", snap.crcStatusWritten);
    text += line;
    add("header_block_written", snap.headerBlockWritten);
    add("application_written_since_header", snap.applicationWrittenSinceHeader);
    text += "header_block ";
    for (uint8_t b : snap.headerBlock) {
        std::snprintf(line, sizeof line, "%02x", b);
        text += line;
    }
    text += "\n";
    add("requests", snap.requestCount);
    add("block_writes", snap.blockWriteCount);
    add("power_cycles", snap.powerCycles);
    add("text_lines_sent", snap.textLinesSent);
    add("text_lines_dropped", snap.textLinesDropped);
    add("vanished", snap.vanished);
    for (size_t r = 0; r < snap.registers.size(); ++r) {
        std::snprintf(line, sizeof line, "reg 0x%04zX 0x%04X\n", r, snap.registers[r]);
        text += line;
    }
    return text;
}

bool writeSnapshotFiles(const std::string &dir, const BoardSnapshot &snap, std::string *error)
{
    const std::string state = snapshotStateText(snap);
    return simWriteFile(dir + "/application.bin", snap.application, error) &&
           simWriteFile(dir + "/settings.bin", snap.settings, error) &&
           simWriteFile(dir + "/calibration.bin", snap.calibration, error) &&
           simWriteFile(dir + "/state.txt", std::vector<uint8_t>(state.begin(), state.end()), error);
}
