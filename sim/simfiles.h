#pragma once

#include "sim/simconfig.h"

#include <cstdint>
#include <string>
#include <vector>

// File helpers of the simulator program: loading areas and writing a state dump.
bool simReadFile(const std::string &path, std::vector<uint8_t> &bytes, std::string *error = nullptr);
bool simWriteFile(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error = nullptr);

// Writes application.bin, settings.bin, calibration.bin and state.txt (mode, gain, counters,
// header block and the registers 0x0000 .. 0x002F) into dir, which must exist.
bool writeSnapshotFiles(const std::string &dir, const BoardSnapshot &snap, std::string *error = nullptr);
std::string snapshotStateText(const BoardSnapshot &snap);
