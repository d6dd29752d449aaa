#include "sim/boardmodel.h"

#include "sim/simcrc.h"

#include <algorithm>

namespace {

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool hasWideAddress(uint8_t command)
{
    return command == SimCmd::WRITE_APPLICATION || command == SimCmd::WRITE_SETTINGS ||
           command == SimCmd::READ_SETTINGS || command == SimCmd::WRITE_CALIBRATION ||
           command == SimCmd::READ_CALIBRATION;
}

SimReply error(uint8_t status)
{
    SimReply r;
    r.send = true;
    r.status = status;
    return r;
}

SimReply ok(std::vector<uint8_t> data = {})
{
    SimReply r;
    r.send = true;
    r.data = std::move(data);
    return r;
}

void fitArea(std::vector<uint8_t> &area, const std::vector<uint8_t> &bytes, size_t size, uint8_t filler)
{
    area.assign(size, filler);
    std::copy_n(bytes.begin(), std::min(bytes.size(), size), area.begin());
}
} // namespace

SimFrame parseSimFrame(const std::vector<uint8_t> &raw)
{
    SimFrame f;
    f.raw = raw;
    if (raw.size() < 5)
        return f;
    f.lengthByte = raw[1];
    f.command = raw[2];
    const size_t crcAt = raw.size() - 2;
    f.crcGood = simCrc16(raw.data(), crcAt) == le16(raw.data() + crcAt);
    const size_t addressBytes = hasWideAddress(f.command) ? 4 : 2;
    if (3 + addressBytes > crcAt)
        return f;
    f.address = addressBytes == 4 ? le32(raw.data() + 3) : le16(raw.data() + 3);
    f.payload.assign(raw.begin() + 3 + addressBytes, raw.begin() + crcAt);
    f.wellFormed = true;
    return f;
}

BoardModel::BoardModel(const SimConfig &config)
    : currentMode(config.startMode), currentGain(config.initialGain), appBootStatus(config.appBootStatus),
      answerResetInApp(config.answerResetInApplication), pingsToPowerCycle(config.pingsToPowerCycle)
{
    for (uint16_t r = 0; r < SimReg::INFO_COUNT; ++r)
        infoRegs[r] = static_cast<uint16_t>(0xE000 | r); // not-interpreted registers read as a recognisable pattern
    infoRegs[SimReg::BL_VERSION] = config.blVersion;
    infoRegs[SimReg::BL_PART_NUMBER] = config.blPartNumber;
    infoRegs[SimReg::BL_PAGE_SIZE] = config.pageSize;
    infoRegs[SimReg::BL_SETTINGS_PAGE] = config.settingsPage;
    infoRegs[SimReg::BL_CAL_PAGE] = config.calPage;
    infoRegs[SimReg::APP_FW_VERSION] = config.appFwVersion;
    infoRegs[SimReg::APP_PART_NUMBER] = config.appPartNumber;
    infoRegs[SimReg::APP_HW_DESCRIPTOR] = config.hwDescriptor;
    setDescription(config.description);
    for (const auto &[reg, value] : config.extraRegisters)
        setRegister(reg, value);

    fitArea(applicationArea, config.application, config.applicationAreaSize, 0xFF);
    fitArea(settingsArea,
            config.settings.empty()
                ? simDefaultArea(SimArea::Settings, config.settingsAreaSize, config.settingsMajor, config.settingsMinor)
                : config.settings,
            config.settingsAreaSize, 0xFF);
    fitArea(calibrationArea,
            config.calibration.empty()
                ? simDefaultArea(SimArea::Calibration, config.calibrationAreaSize, config.calibrationMajor,
                                 config.calibrationMinor, config.serialNumber)
                : config.calibration,
            config.calibrationAreaSize, 0xFF);
}

std::vector<uint8_t> BoardModel::buildResponse(uint8_t command, uint8_t status, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + 6);
    frame.push_back(0x5A);
    frame.push_back(static_cast<uint8_t>((data.size() + 4) & 0xFF));
    frame.push_back(command);
    frame.push_back(status);
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = simCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

void BoardModel::restart(BoardMode mode)
{
    crcStatusWritten = 0;
    headerBlock.fill(0);
    headerWritten = false;
    appWrittenSinceHeader = false;
    appPings = 0;
    currentMode = mode;
}

void BoardModel::setMode(BoardMode mode)
{
    if (mode == BoardMode::Application && currentMode != BoardMode::Application)
        appPings = 0;
    currentMode = mode;
}

bool BoardModel::setRegister(uint16_t reg, uint16_t value)
{
    if (reg < SimReg::INFO_COUNT) {
        infoRegs[reg] = value;
        return true;
    }
    if (reg == SimReg::CRC_STATUS) {
        crcStatusWritten = value;
        return true;
    }
    if (reg >= SimReg::IMAGE_HEADER_BLOCK && reg <= SimReg::IMAGE_HEADER_BLOCK_END) {
        const size_t at = 2 * (reg - SimReg::IMAGE_HEADER_BLOCK);
        headerBlock[at] = static_cast<uint8_t>(value & 0xFF);
        headerBlock[at + 1] = static_cast<uint8_t>(value >> 8);
        return true;
    }
    return false;
}

void BoardModel::setDescription(const std::string &text)
{
    std::array<uint8_t, SimReg::DESCRIPTION_BYTES> bytes{};
    std::copy_n(text.begin(), std::min<size_t>(text.size(), bytes.size()), bytes.begin());
    for (int k = 0; k < SimReg::DESCRIPTION_BYTES / 2; ++k)
        infoRegs[SimReg::APP_DESCRIPTION + k] = static_cast<uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
}

bool BoardModel::applicationMatchesHeader() const
{
    if (verdictFail)
        return false;
    const uint32_t size = le32(headerBlock.data());
    const uint32_t expected = le32(headerBlock.data() + 4);
    if (size > applicationArea.size())
        return false;
    return simCrc32(applicationArea.data(), size) == expected;
}

bool BoardModel::readRegister(uint16_t reg, uint16_t &value) const
{
    if (reg < SimReg::INFO_COUNT) {
        value = infoRegs[reg];
        return true;
    }
    switch (reg) {
    case SimReg::RESET:
        value = 0;
        return true;
    case SimReg::BOOT_STATUS:
        value = SimReg::BOOT_STATUS_BOOTLOADER;
        return true;
    case SimReg::CRC_STATUS:
        // Once application blocks followed the header block the register holds the verdict;
        // before that it holds what was last written.
        if (headerWritten && appWrittenSinceHeader)
            value = applicationMatchesHeader() ? 1 : 0;
        else
            value = crcStatusWritten;
        return true;
    default:
        break;
    }
    if (reg >= SimReg::IMAGE_HEADER_BLOCK && reg <= SimReg::IMAGE_HEADER_BLOCK_END) {
        const size_t at = 2 * (reg - SimReg::IMAGE_HEADER_BLOCK);
        value = static_cast<uint16_t>(headerBlock[at] | (headerBlock[at + 1] << 8));
        return true;
    }
    return false;
}

void BoardModel::setApplication(const std::vector<uint8_t> &bytes)
{
    fitArea(applicationArea, bytes, applicationArea.size(), 0xFF);
}

void BoardModel::setSettings(const std::vector<uint8_t> &bytes)
{
    fitArea(settingsArea, bytes, settingsArea.size(), 0xFF);
}

void BoardModel::setCalibration(const std::vector<uint8_t> &bytes)
{
    fitArea(calibrationArea, bytes, calibrationArea.size(), 0xFF);
}

SimReply BoardModel::handle(const SimFrame &frame)
{
    switch (currentMode) {
    case BoardMode::Bootloader:
        return bootloaderRequest(frame);
    case BoardMode::Application:
        return applicationRequest(frame);
    case BoardMode::PoweredOff:
        break;
    }
    return SimReply();
}

SimReply BoardModel::applicationRequest(const SimFrame &frame)
{
    SimReply none;
    if (!frame.crcGood || !frame.wellFormed)
        return none;
    if (frame.command == SimCmd::READ_REGISTER && frame.address == SimReg::BOOT_STATUS && frame.payload.size() == 1 &&
        frame.payload[0] == 1) {
        ++appPings;
        if (pingsToPowerCycle > 0 && appPings >= pingsToPowerCycle) {
            none.powerCycle = true;
            return none;
        }
        return ok({static_cast<uint8_t>(appBootStatus & 0xFF), static_cast<uint8_t>(appBootStatus >> 8)});
    }
    if (frame.command == SimCmd::WRITE_REGISTER && frame.address == SimReg::RESET && frame.payload.size() >= 2 &&
        le16(frame.payload.data()) == SimReg::RESET_ENTER_BOOTLOADER) {
        restart(BoardMode::Bootloader);
        SimReply r = ok();
        r.send = answerResetInApp;
        return r;
    }
    return none;
}

SimReply BoardModel::bootloaderRequest(const SimFrame &frame)
{
    if (!frame.crcGood)
        return error(SimStatus::BAD_CRC);
    if (!frame.wellFormed)
        return error(SimStatus::BAD_LENGTH);
    switch (frame.command) {
    case SimCmd::READ_REGISTER:
        return readRegisters(frame);
    case SimCmd::WRITE_REGISTER:
        return writeRegisters(frame);
    case SimCmd::READ_SETTINGS:
        return readPage(frame, settingsArea);
    case SimCmd::READ_CALIBRATION:
        return readPage(frame, calibrationArea);
    case SimCmd::WRITE_APPLICATION:
        return writeBlock(frame, applicationArea, true);
    case SimCmd::WRITE_SETTINGS:
        return writeBlock(frame, settingsArea, false);
    case SimCmd::WRITE_CALIBRATION:
        return writeBlock(frame, calibrationArea, false);
    default:
        return error(SimStatus::UNKNOWN_COMMAND);
    }
}

SimReply BoardModel::readRegisters(const SimFrame &frame)
{
    if (frame.payload.size() != 1)
        return error(SimStatus::BAD_LENGTH);
    const unsigned count = frame.payload[0];
    std::vector<uint8_t> data;
    data.reserve(2 * count);
    for (unsigned i = 0; i < count; ++i) {
        uint16_t value = 0;
        if (!readRegister(static_cast<uint16_t>(frame.address + i), value))
            return error(SimStatus::BAD_ADDRESS);
        data.push_back(static_cast<uint8_t>(value & 0xFF));
        data.push_back(static_cast<uint8_t>(value >> 8));
    }
    return ok(std::move(data));
}

SimReply BoardModel::writeRegisters(const SimFrame &frame)
{
    if (frame.payload.empty() || frame.payload.size() % 2 != 0)
        return error(SimStatus::BAD_LENGTH);
    const size_t count = frame.payload.size() / 2;
    // Check the whole range first so that a refused write changes nothing.
    for (size_t i = 0; i < count; ++i) {
        const uint32_t reg = frame.address + i;
        if (reg < SimReg::INFO_COUNT || reg == SimReg::BOOT_STATUS)
            return error(SimStatus::READ_ONLY);
        if (reg != SimReg::RESET && reg != SimReg::CRC_STATUS &&
            (reg < SimReg::IMAGE_HEADER_BLOCK || reg > SimReg::IMAGE_HEADER_BLOCK_END))
            return error(SimStatus::BAD_ADDRESS);
    }
    SimReply reply = ok();
    for (size_t i = 0; i < count; ++i) {
        const uint16_t reg = static_cast<uint16_t>(frame.address + i);
        const uint16_t value = le16(frame.payload.data() + 2 * i);
        if (reg == SimReg::RESET) {
            // The answer goes out before the board restarts into its application.
            if (value == SimReg::RESET_RUN_APPLICATION)
                setMode(BoardMode::Application);
            continue;
        }
        setRegister(reg, value);
        if (reg >= SimReg::IMAGE_HEADER_BLOCK && reg <= SimReg::IMAGE_HEADER_BLOCK_END) {
            headerWritten = true;
            appWrittenSinceHeader = false;
        }
    }
    return reply;
}

SimReply BoardModel::readPage(const SimFrame &frame, const std::vector<uint8_t> &area)
{
    if (frame.payload.size() != 1)
        return error(SimStatus::BAD_LENGTH);
    const size_t count = frame.payload[0];
    if (frame.address > area.size() || count > area.size() - frame.address)
        return error(SimStatus::BAD_ADDRESS);
    return ok(std::vector<uint8_t>(area.begin() + frame.address, area.begin() + frame.address + count));
}

SimReply BoardModel::writeBlock(const SimFrame &frame, std::vector<uint8_t> &area, bool application)
{
    if (frame.payload.empty())
        return error(SimStatus::BAD_LENGTH);
    if (frame.address > area.size() || frame.payload.size() > area.size() - frame.address)
        return error(SimStatus::BAD_ADDRESS);
    std::copy(frame.payload.begin(), frame.payload.end(), area.begin() + frame.address);
    if (application)
        appWrittenSinceHeader = true;
    return ok();
}

void BoardModel::fillSnapshot(BoardSnapshot &snap) const
{
    snap.mode = currentMode;
    snap.gain = currentGain;
    snap.application = applicationArea;
    snap.settings = settingsArea;
    snap.calibration = calibrationArea;
    snap.registers = infoRegs;
    snap.crcStatusWritten = crcStatusWritten;
    snap.headerBlock = headerBlock;
    snap.headerBlockWritten = headerWritten;
    snap.applicationWrittenSinceHeader = appWrittenSinceHeader;
}
