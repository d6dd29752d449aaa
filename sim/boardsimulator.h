#pragma once

#include "sim/apptextsource.h"
#include "sim/boardmodel.h"
#include "sim/simconfig.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Stands in for the board on a pseudo-terminal: the tool opens slavePath() (or the link) as
// its serial port, and a thread of ours serves the master side as the board's bootloader and
// application would, with the faults it is told to show. Every public call is thread-safe.
class BoardSimulator
{
public:
    explicit BoardSimulator(const SimConfig &config = SimConfig());
    ~BoardSimulator();
    BoardSimulator(const BoardSimulator &) = delete;
    BoardSimulator &operator=(const BoardSimulator &) = delete;

    // Opens a new pty (and the link) and starts serving it; after stop() or a vanish the board
    // comes back with its memory intact on a new pty at the same link path.
    bool start();
    void stop();
    bool isRunning() const;
    bool hasVanished() const;
    std::string slavePath() const;
    std::string linkPath() const;
    std::string lastError() const;

    // Control.
    void setMode(BoardMode mode); // immediate, without a restart
    BoardMode mode() const;
    void powerCycle(); // to the configured target
    void powerCycle(PowerCycleTarget target);
    void setPowerCycleTarget(PowerCycleTarget target);
    void setPingsToPowerCycle(long pings);
    void setPowerOffMs(int ms);
    void setFaults(const FaultConfig &faults);
    FaultConfig faults() const;
    void setAppText(const AppTextConfig &text);
    void setAppBootStatus(uint16_t value);
    void setAnswerResetInApplication(bool answer);
    bool setRegister(uint16_t reg, uint16_t value);
    void setHardwareDescriptor(uint16_t value) { setRegister(SimReg::APP_HW_DESCRIPTOR, value); }
    void setDescription(const std::string &text);
    void setGain(int gain);
    void setApplicationArea(const std::vector<uint8_t> &bytes);
    void setSettingsArea(const std::vector<uint8_t> &bytes);
    void setCalibrationArea(const std::vector<uint8_t> &bytes);

    // Inspection.
    std::vector<RequestRecord> requestLog() const;
    void clearRequestLog(); // numbering goes on
    long requestCount() const;
    bool waitForRequestCount(long count, int timeoutMs) const;
    BoardSnapshot snapshot() const;

private:
    using Clock = std::chrono::steady_clock;

    struct RxByte {
        uint8_t value;
        Clock::time_point due;
    };
    struct OutUnit {
        std::vector<uint8_t> bytes;
        size_t pos = 0;
        Clock::time_point readyAt;
        bool text = false;
        bool split = false;
    };
    enum class ParseState { Hunting, Length, Body };

    void run();
    void closeFds();
    void removeLink();
    void vanish();
    void readMaster(Clock::time_point now);
    void feedDue(Clock::time_point now);
    void feedByte(uint8_t byte, Clock::time_point at);
    void processFrame(const std::vector<uint8_t> &raw, Clock::time_point at);
    void queueResponse(std::vector<uint8_t> bytes, long index, Clock::time_point at);
    void generateText(Clock::time_point now, Clock::time_point &wake);
    void pumpOutput(Clock::time_point now, Clock::time_point &wake);
    bool pickNextUnit(Clock::time_point now);
    void modeChanged(BoardMode before, Clock::time_point now);
    void beginPowerCycle(PowerCycleTarget target, Clock::time_point now);
    void finishPowerCycle(Clock::time_point now);
    void dropQueuedText();
    void wake() const;
    Clock::duration byteTime() const;
    bool textActive() const;

    mutable std::mutex mtx;
    mutable std::condition_variable requestCv;

    SimConfig cfg;
    BoardModel model;
    AppTextSource textSource;

    int masterFd = -1;
    int slaveFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::string slaveName;
    std::string error;
    std::thread worker;
    bool stopRequested = false;
    bool running = false;
    bool vanished = false;
    bool linkMade = false;

    std::deque<RxByte> rx;
    Clock::time_point rxFreeAt;
    ParseState parseState = ParseState::Hunting;
    std::vector<uint8_t> frame;
    size_t frameLength = 0;
    Clock::time_point lastFrameByte;

    std::deque<OutUnit> responses;
    std::deque<OutUnit> texts;
    std::optional<OutUnit> current;
    size_t queuedTextBytes = 0;
    Clock::time_point txFreeAt;
    bool writeBlocked = false;

    Clock::time_point nextTextAt;
    bool powerOnPending = false;
    Clock::time_point powerOnAt;
    PowerCycleTarget pendingTarget = PowerCycleTarget::Bootloader;

    std::vector<long> commandFaultMatches; // requests matched so far, one count per command fault
    long requestCounter = 0;
    long blockWriteCounter = 0;
    long powerCycles = 0;
    long linesSent = 0;
    long linesDropped = 0;
    std::vector<RequestRecord> log;
    FILE *logFile = nullptr;
};
