#pragma once

#include "sim/fodlinegenerator.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

enum class BoardMode { Bootloader, Application, PoweredOff };
const char *boardModeName(BoardMode mode);

// Where a power cycle leaves the board: caught in its bootloader, back in its application
// (the catch was missed), or dark until the next power cycle.
enum class PowerCycleTarget { Bootloader, Application, Off };

// Register numbers, values and status codes of the simulated bootloader.
namespace SimReg {
constexpr uint16_t BL_VERSION = 0x0000;
constexpr uint16_t BL_PART_NUMBER = 0x0001;
constexpr uint16_t BL_PAGE_SIZE = 0x0003;
constexpr uint16_t BL_SETTINGS_PAGE = 0x0005;
constexpr uint16_t BL_CAL_PAGE = 0x0006;
constexpr uint16_t APP_FW_VERSION = 0x0010;
constexpr uint16_t APP_PART_NUMBER = 0x0011;
constexpr uint16_t APP_HW_DESCRIPTOR = 0x0012;
constexpr uint16_t APP_DESCRIPTION = 0x001B;
constexpr uint16_t INFO_COUNT = 0x0030; // registers 0x0000 .. 0x002F
constexpr int DESCRIPTION_BYTES = 42;
constexpr uint16_t RESET = 0x0100;
constexpr uint16_t BOOT_STATUS = 0x0101;
constexpr uint16_t CRC_STATUS = 0x0102;
constexpr uint16_t IMAGE_HEADER_BLOCK = 0x0103;
constexpr uint16_t IMAGE_HEADER_BLOCK_END = 0x010A;
constexpr uint16_t RESET_ENTER_BOOTLOADER = 0x55DD;
constexpr uint16_t RESET_RUN_APPLICATION = 0xDD33;
constexpr uint16_t BOOT_STATUS_BOOTLOADER = 0xA500;
} // namespace SimReg

namespace SimCmd {
constexpr uint8_t WRITE_APPLICATION = 1;
constexpr uint8_t WRITE_SETTINGS = 3;
constexpr uint8_t READ_SETTINGS = 4;
constexpr uint8_t WRITE_CALIBRATION = 5;
constexpr uint8_t READ_CALIBRATION = 6;
constexpr uint8_t WRITE_REGISTER = 7;
constexpr uint8_t READ_REGISTER = 8;
} // namespace SimCmd

// Error codes the simulated bootloader answers with (status byte of the response).
namespace SimStatus {
constexpr uint8_t OK = 0x00;
constexpr uint8_t BAD_CRC = 0x01;
constexpr uint8_t BAD_ADDRESS = 0x02;
constexpr uint8_t READ_ONLY = 0x03;
constexpr uint8_t BAD_LENGTH = 0x04;
constexpr uint8_t UNKNOWN_COMMAND = 0x05;
} // namespace SimStatus

constexpr uint16_t kSimDefaultHardwareId = 0x0042;
constexpr uint16_t kSimDefaultPartNumber = 1001;

enum class SimArea { Settings, Calibration };

// Fresh settings or calibration area: magic, versions, the serial number (calibration) and
// a deterministic pattern without 0xFF bytes everywhere else.
std::vector<uint8_t> simDefaultArea(SimArea area, size_t size, uint16_t major, uint16_t minor,
                                    const std::string &serial = std::string());

// A fault on the requests of one command (and one register or offset), counted among
// themselves from 0 in the order they arrive, so a test can hit "the sixth calibration page
// read" whatever came before it.
struct CommandFault {
    uint8_t command = 0;
    long address = -1;    // register or byte offset to match; -1: any
    long occurrence = -1; // which matching request, from 0; -1: every one
    uint8_t status = 0;   // answered with this status, not carried out; 0: ignored silently
};

// Faults the simulated board can be told to show. Requests are numbered from 0 in the order
// in which they arrive (every complete frame, in any mode, good CRC or not); block writes
// (codes 1, 3, 5) are numbered from 0 among themselves.
struct FaultConfig {
    bool absent = false;                       // receives and logs, never answers, prints nothing
    std::set<long> silentOn;                   // request ignored: not carried out, not answered
    std::map<long, uint8_t> errorOn;           // answered with this status, not carried out
    std::map<long, uint8_t> errorOnBlockWrite; // the same, by block-write number
    std::vector<CommandFault> commandFaults;
    std::set<long> wrongEchoOn;    // carried out, answered with command ^ 0x40
    bool garbageBeforeAll = false; // bytes without 0x5A before every response
    std::set<long> garbageOn;      // ... before the response to these requests
    std::vector<uint8_t> garbage{0x00, 0x11, 0xA5, 0xFF, 'x', '\r', '\n'};
    bool splitResponses = false; // every response byte written on its own
    int splitGapUs = 2000;
    int turnaroundUs = 0;        // from the end of a request to its response
    bool pace115200 = false;     // 10 bits per byte on both lines
    bool crcVerdictFail = false; // REG_CRC_STATUS never reports a good image
    long vanishAt = -1;          // the pty goes away when this request arrives
};

// What the application firmware prints.
struct AppTextConfig {
    double linesPerSecond = 10.0;
    // No "Z" (0x5A) by default: the tool's reader would take it for a frame start.
    std::vector<std::string> plainLines{"TX application running"};
    int statusLineEvery = 10;          // every Nth line is a non-data line with "="; 0: never
    int plainLineEvery = 0;            // with FOD lines: every Nth line is a plain one; 0: never
    std::vector<std::string> fodLines; // cycled; takes precedence over generated lines
    bool generateFod = false;
    FodGenConfig fod;
    int zeroByteEvery = 0;  // every Nth line carries a zero byte in its middle; 0: never
    bool benchmark = false; // timestamped lines back to back at the full line rate
};

// Everything the simulated board starts with.
struct SimConfig {
    // Bootloader and application identity (registers 0x0000 .. 0x002F).
    uint16_t blVersion = 0x0103;
    uint16_t blPartNumber = kSimDefaultPartNumber;
    uint16_t pageSize = 64;
    uint16_t settingsPage = 120;
    uint16_t calPage = 121;
    uint16_t appFwVersion = 0x0205;
    uint16_t appPartNumber = kSimDefaultPartNumber;
    uint16_t hwDescriptor = kSimDefaultHardwareId;
    std::string description = "Zavlo TX simulator";
    std::map<uint16_t, uint16_t> extraRegisters; // any of 0x0000 .. 0x002F, applied last

    // Memory areas. Empty settings/calibration contents mean the default area.
    size_t applicationAreaSize = 256 * 1024;
    size_t settingsAreaSize = 4096;
    size_t calibrationAreaSize = 4096;
    std::vector<uint8_t> application; // initial contents; the rest is erased (0xFF)
    std::vector<uint8_t> settings;
    std::vector<uint8_t> calibration;
    uint16_t settingsMajor = 1, settingsMinor = 3;
    uint16_t calibrationMajor = 2, calibrationMinor = 1;
    std::string serialNumber = "SIM-00001234";

    BoardMode startMode = BoardMode::Bootloader;
    uint16_t appBootStatus = 0x0000; // what the application answers to the boot-status read
    bool answerResetInApplication = false;
    int appStartMs = 20; // from leaving the bootloader to the first line of text
    int initialGain = 2;
    AppTextConfig text;

    long pingsToPowerCycle = 0; // boot-status reads in the application before a power cycle; 0: never
    PowerCycleTarget powerCycleTarget = PowerCycleTarget::Bootloader;
    int powerOffMs = 100;

    FaultConfig faults;

    std::string linkPath;       // symlink to the slave, made on start and removed on stop
    std::string requestLogPath; // one line per request, flushed
};

// One request as the board received it.
struct RequestRecord {
    long index = 0;
    BoardMode mode = BoardMode::Bootloader;
    uint8_t lengthByte = 0;
    uint8_t command = 0;
    uint32_t address = 0; // 4-byte offset for codes 1, 3, 4, 5, 6; 2-byte register otherwise
    std::vector<uint8_t> payload;
    bool crcGood = false;
    bool answered = false;
    uint8_t status = 0; // of the answer, when answered
    std::vector<uint8_t> raw;
    int64_t timeUs = 0; // CLOCK_MONOTONIC

    std::string text() const;
};

// The board's state at one moment, as plain values.
struct BoardSnapshot {
    BoardMode mode = BoardMode::Bootloader;
    int gain = 2;
    std::vector<uint8_t> application;
    std::vector<uint8_t> settings;
    std::vector<uint8_t> calibration;
    std::array<uint16_t, SimReg::INFO_COUNT> registers{};
    uint16_t crcStatusWritten = 0;
    std::array<uint8_t, 16> headerBlock{};
    bool headerBlockWritten = false;
    bool applicationWrittenSinceHeader = false;
    long requestCount = 0;
    long blockWriteCount = 0;
    long powerCycles = 0;
    long textLinesSent = 0;
    long textLinesDropped = 0;
    bool vanished = false;
};
