#pragma once

#include "sim/simconfig.h"

#include <array>
#include <cstdint>
#include <vector>

// One complete request frame split into its fields.
struct SimFrame {
    uint8_t lengthByte = 0;
    uint8_t command = 0;
    uint32_t address = 0;
    std::vector<uint8_t> payload;
    bool crcGood = false;
    bool wellFormed = false; // long enough to hold its address field
    std::vector<uint8_t> raw;
};

SimFrame parseSimFrame(const std::vector<uint8_t> &raw);

// What the board does about one request.
struct SimReply {
    bool send = false;
    uint8_t status = SimStatus::OK;
    std::vector<uint8_t> data;
    bool powerCycle = false; // the request made the board restart (set ping count reached)
};

// The board's memory and registers and its answer to each request, without any I/O:
// the bootloader's register map, page reads, block writes and CRC verdict, and the
// application's single answer and mode switch.
class BoardModel
{
public:
    explicit BoardModel(const SimConfig &config);

    SimReply handle(const SimFrame &frame);

    // Response frame: Length is data + 4, cut to one byte as the board's firmware would.
    static std::vector<uint8_t> buildResponse(uint8_t command, uint8_t status, const std::vector<uint8_t> &data);

    BoardMode mode() const { return currentMode; }
    // A restart: volatile bootloader state (header block, CRC status, ping count) is lost.
    void restart(BoardMode mode);
    void setMode(BoardMode mode);

    int gain() const { return currentGain; }
    void setGain(int gain) { currentGain = gain; }

    void setCrcVerdictFail(bool fail) { verdictFail = fail; }
    void setAppBootStatus(uint16_t value) { appBootStatus = value; }
    void setAnswerResetInApplication(bool answer) { answerResetInApp = answer; }
    void setPingsToPowerCycle(long pings) { pingsToPowerCycle = pings; }

    bool setRegister(uint16_t reg, uint16_t value);
    bool readRegister(uint16_t reg, uint16_t &value) const;
    void setDescription(const std::string &text);

    void setApplication(const std::vector<uint8_t> &bytes);
    void setSettings(const std::vector<uint8_t> &bytes);
    void setCalibration(const std::vector<uint8_t> &bytes);

    // The verdict that REG_CRC_STATUS reports once application blocks followed the header block.
    bool applicationMatchesHeader() const;

    void fillSnapshot(BoardSnapshot &snap) const;

private:
    SimReply bootloaderRequest(const SimFrame &frame);
    SimReply applicationRequest(const SimFrame &frame);
    SimReply readRegisters(const SimFrame &frame);
    SimReply writeRegisters(const SimFrame &frame);
    SimReply readPage(const SimFrame &frame, const std::vector<uint8_t> &area);
    SimReply writeBlock(const SimFrame &frame, std::vector<uint8_t> &area, bool application);

    std::array<uint16_t, SimReg::INFO_COUNT> infoRegs{};
    std::vector<uint8_t> applicationArea;
    std::vector<uint8_t> settingsArea;
    std::vector<uint8_t> calibrationArea;

    BoardMode currentMode;
    int currentGain;
    uint16_t crcStatusWritten = 0;
    std::array<uint8_t, 16> headerBlock{};
    bool headerWritten = false;
    bool appWrittenSinceHeader = false;
    bool verdictFail = false;
    uint16_t appBootStatus;
    bool answerResetInApp;
    long pingsToPowerCycle;
    long appPings = 0;
};
