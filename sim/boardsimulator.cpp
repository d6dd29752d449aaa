#include "sim/boardsimulator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;

// 10 bits per byte at 115200 baud.
constexpr std::chrono::nanoseconds kByteTime115200{86806};
// A frame whose bytes stop arriving is abandoned, as the board's receiver would after a gap.
constexpr auto kFrameGap = 100ms;
// Text waiting behind an unread line beyond this is lost, like a UART overrun.
constexpr size_t kTextQueueLimitBytes = 2048;
constexpr uint8_t kStartOfFrame = 0x5A;
constexpr uint8_t kMinRequestLength = 5; // command, 2-byte address, CRC
constexpr uint8_t kWrongEchoMask = 0x40;
constexpr auto kIdleWake = 500ms;

int64_t monotonicUs(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

bool isBlockWrite(uint8_t command)
{
    return command == SimCmd::WRITE_APPLICATION || command == SimCmd::WRITE_SETTINGS ||
           command == SimCmd::WRITE_CALIBRATION;
}
} // namespace

BoardSimulator::BoardSimulator(const SimConfig &config) : cfg(config), model(config), textSource(config.text)
{
    model.setCrcVerdictFail(cfg.faults.crcVerdictFail);
    if (!cfg.requestLogPath.empty())
        logFile = std::fopen(cfg.requestLogPath.c_str(), "w");
}

BoardSimulator::~BoardSimulator()
{
    stop();
    if (logFile)
        std::fclose(logFile);
}

bool BoardSimulator::start()
{
    stop();
    std::lock_guard<std::mutex> lock(mtx);
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        error = std::string("openpty failed: ") + std::strerror(errno);
        return false;
    }
    // Raw at once, so that nothing the board sends is echoed back before the tool opens its side.
    termios tio{};
    tcgetattr(slaveFd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(slaveFd, TCSANOW, &tio);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    int pipeFds[2];
    if (pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("pipe failed: ") + std::strerror(errno);
        closeFds();
        return false;
    }
    wakeRead = pipeFds[0];
    wakeWrite = pipeFds[1];
    slaveName = name;
    if (!cfg.linkPath.empty()) {
        ::unlink(cfg.linkPath.c_str());
        if (::symlink(slaveName.c_str(), cfg.linkPath.c_str()) != 0) {
            error = "symlink " + cfg.linkPath + " failed: " + std::strerror(errno);
            closeFds();
            return false;
        }
        linkMade = true;
    }

    const auto now = Clock::now();
    rx.clear();
    rxFreeAt = now;
    parseState = ParseState::Hunting;
    responses.clear();
    texts.clear();
    current.reset();
    queuedTextBytes = 0;
    txFreeAt = now;
    writeBlocked = false;
    nextTextAt = now + std::chrono::milliseconds(cfg.appStartMs);
    stopRequested = false;
    vanished = false;
    running = true;
    worker = std::thread(&BoardSimulator::run, this);
    return true;
}

void BoardSimulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(mtx);
        stopRequested = true;
        wake();
    }
    if (worker.joinable())
        worker.join();
    std::lock_guard<std::mutex> lock(mtx);
    closeFds();
    running = false;
}

void BoardSimulator::closeFds()
{
    for (int *fd : {&masterFd, &slaveFd, &wakeRead, &wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    removeLink();
}

void BoardSimulator::removeLink()
{
    if (linkMade)
        ::unlink(cfg.linkPath.c_str());
    linkMade = false;
}

void BoardSimulator::vanish()
{
    // The board leaves the bus: both sides of the pty go, so the tool's port sees a hang-up.
    ::close(masterFd);
    ::close(slaveFd);
    masterFd = -1;
    slaveFd = -1;
    removeLink();
    vanished = true;
    running = false;
    rx.clear();
    responses.clear();
    texts.clear();
    current.reset();
    queuedTextBytes = 0;
    requestCv.notify_all();
}

void BoardSimulator::wake() const
{
    if (wakeWrite >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeWrite, &c, 1);
    }
}

BoardSimulator::Clock::duration BoardSimulator::byteTime() const
{
    return cfg.faults.pace115200 ? Clock::duration(kByteTime115200) : Clock::duration::zero();
}

bool BoardSimulator::textActive() const
{
    return model.mode() == BoardMode::Application && !cfg.faults.absent;
}

void BoardSimulator::run()
{
    // Paced bytes are due every 87 us; the default 50 us timer slack would add to every wake-up.
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::unique_lock<std::mutex> lock(mtx);
    while (!stopRequested && !vanished) {
        auto now = Clock::now();
        if (powerOnPending && now >= powerOnAt)
            finishPowerCycle(now);
        feedDue(now);
        if (vanished)
            break;
        auto wakeAt = now + kIdleWake;
        generateText(now, wakeAt);
        pumpOutput(now, wakeAt);
        if (!rx.empty())
            wakeAt = std::min(wakeAt, rx.front().due);
        if (powerOnPending)
            wakeAt = std::min(wakeAt, powerOnAt);

        pollfd fds[2] = {{masterFd, static_cast<short>(POLLIN | (writeBlocked ? POLLOUT : 0)), 0},
                         {wakeRead, POLLIN, 0}};
        const auto wait = std::max(Clock::duration::zero(), wakeAt - now);
        timespec ts{};
        ts.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
        ts.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(wait % std::chrono::seconds(1)).count();
        lock.unlock();
        const int ready = ::ppoll(fds, 2, &ts, nullptr);
        lock.lock();
        if (ready <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead, drain, sizeof drain) > 0) {
            }
        }
        now = Clock::now();
        if (fds[0].revents & POLLOUT)
            writeBlocked = false;
        if (fds[0].revents & POLLIN)
            readMaster(now);
        else if (fds[0].revents & (POLLERR | POLLHUP)) {
            // Should not happen while we hold the slave open; avoid spinning if it does.
            lock.unlock();
            std::this_thread::sleep_for(10ms);
            lock.lock();
        }
    }
    running = false;
}

void BoardSimulator::readMaster(Clock::time_point now)
{
    uint8_t buf[512];
    const auto bt = byteTime();
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            // A byte cannot have arrived before the line has carried every byte ahead of it.
            const auto due = std::max(now, rxFreeAt) + bt;
            if (bt > Clock::duration::zero())
                rxFreeAt = due;
            rx.push_back({buf[i], bt > Clock::duration::zero() ? due : now});
        }
    }
}

void BoardSimulator::feedDue(Clock::time_point now)
{
    while (!rx.empty() && rx.front().due <= now && !vanished && !stopRequested) {
        const RxByte b = rx.front();
        rx.pop_front();
        feedByte(b.value, b.due);
    }
}

void BoardSimulator::feedByte(uint8_t byte, Clock::time_point at)
{
    if (parseState != ParseState::Hunting && at - lastFrameByte > kFrameGap)
        parseState = ParseState::Hunting;
    lastFrameByte = at;
    switch (parseState) {
    case ParseState::Hunting:
        if (byte == kStartOfFrame) {
            frame.assign(1, byte);
            parseState = ParseState::Length;
        } else if (byte >= '2' && byte <= '4' && textActive()) {
            model.setGain(byte - '0');
        }
        break;
    case ParseState::Length:
        if (byte < kMinRequestLength) {
            parseState = ParseState::Hunting;
            break;
        }
        frame.push_back(byte);
        frameLength = byte;
        parseState = ParseState::Body;
        break;
    case ParseState::Body:
        frame.push_back(byte);
        if (frame.size() == frameLength + 2) {
            parseState = ParseState::Hunting;
            processFrame(frame, at);
        }
        break;
    }
}

void BoardSimulator::processFrame(const std::vector<uint8_t> &raw, Clock::time_point at)
{
    const SimFrame f = parseSimFrame(raw);
    RequestRecord rec;
    rec.index = requestCounter++;
    rec.mode = model.mode();
    rec.lengthByte = f.lengthByte;
    rec.command = f.command;
    rec.address = f.address;
    rec.payload = f.payload;
    rec.crcGood = f.crcGood;
    rec.raw = raw;
    rec.timeUs = monotonicUs(at);
    const long blockIndex = isBlockWrite(f.command) ? blockWriteCounter++ : -1;
    const FaultConfig &fc = cfg.faults;

    auto finish = [&]() {
        if (logFile) {
            std::fprintf(logFile, "%s\n", rec.text().c_str());
            std::fflush(logFile);
        }
        log.push_back(rec);
        requestCv.notify_all();
    };

    if (fc.vanishAt == rec.index) {
        finish();
        vanish();
        return;
    }
    int commandFaultStatus = -1;
    commandFaultMatches.resize(fc.commandFaults.size(), 0);
    for (size_t i = 0; i < fc.commandFaults.size(); ++i) {
        const CommandFault &cf = fc.commandFaults[i];
        if (cf.command != f.command || (cf.address >= 0 && uint32_t(cf.address) != f.address))
            continue;
        const long match = commandFaultMatches[i]++;
        if (cf.occurrence < 0 || cf.occurrence == match)
            commandFaultStatus = cf.status;
    }
    if (fc.absent || fc.silentOn.count(rec.index) || commandFaultStatus == 0) {
        finish();
        return;
    }

    SimReply reply;
    const auto errorAt = fc.errorOn.find(rec.index);
    const auto blockErrorAt = blockIndex >= 0 ? fc.errorOnBlockWrite.find(blockIndex) : fc.errorOnBlockWrite.end();
    if (model.mode() == BoardMode::PoweredOff) {
        // Nobody home: the request is lost.
    } else if (errorAt != fc.errorOn.end() || blockErrorAt != fc.errorOnBlockWrite.end()) {
        reply.send = true;
        reply.status = errorAt != fc.errorOn.end() ? errorAt->second : blockErrorAt->second;
    } else if (commandFaultStatus > 0) {
        reply.send = true;
        reply.status = uint8_t(commandFaultStatus);
    } else {
        const BoardMode before = model.mode();
        reply = model.handle(f);
        if (reply.powerCycle)
            beginPowerCycle(cfg.powerCycleTarget, at);
        else if (model.mode() != before)
            modeChanged(before, at);
    }

    if (reply.send) {
        const uint8_t echo = fc.wrongEchoOn.count(rec.index) ? f.command ^ kWrongEchoMask : f.command;
        queueResponse(BoardModel::buildResponse(echo, reply.status, reply.data), rec.index, at);
        rec.answered = true;
        rec.status = reply.status;
    }
    finish();
}

void BoardSimulator::queueResponse(std::vector<uint8_t> bytes, long index, Clock::time_point at)
{
    const FaultConfig &fc = cfg.faults;
    OutUnit unit;
    if (fc.garbageBeforeAll || fc.garbageOn.count(index)) {
        for (uint8_t g : fc.garbage) {
            if (g != kStartOfFrame)
                unit.bytes.push_back(g);
        }
    }
    unit.bytes.insert(unit.bytes.end(), bytes.begin(), bytes.end());
    unit.readyAt = at + std::chrono::microseconds(fc.turnaroundUs);
    unit.split = fc.splitResponses;
    responses.push_back(std::move(unit));
}

void BoardSimulator::modeChanged(BoardMode before, Clock::time_point now)
{
    dropQueuedText();
    if (model.mode() == BoardMode::Application && before != BoardMode::Application)
        nextTextAt = now + std::chrono::milliseconds(cfg.appStartMs);
}

void BoardSimulator::dropQueuedText()
{
    texts.clear();
    queuedTextBytes = 0;
}

void BoardSimulator::beginPowerCycle(PowerCycleTarget target, Clock::time_point now)
{
    ++powerCycles;
    model.restart(BoardMode::PoweredOff);
    dropQueuedText();
    responses.clear();
    current.reset();
    parseState = ParseState::Hunting;
    pendingTarget = target;
    powerOnPending = true;
    powerOnAt = now + std::chrono::milliseconds(cfg.powerOffMs);
}

void BoardSimulator::finishPowerCycle(Clock::time_point now)
{
    powerOnPending = false;
    switch (pendingTarget) {
    case PowerCycleTarget::Bootloader:
        model.restart(BoardMode::Bootloader);
        break;
    case PowerCycleTarget::Application:
        model.restart(BoardMode::Application);
        modeChanged(BoardMode::PoweredOff, now);
        break;
    case PowerCycleTarget::Off:
        break;
    }
}

void BoardSimulator::generateText(Clock::time_point now, Clock::time_point &wakeAt)
{
    if (!textActive() || textSource.config().benchmark || textSource.config().linesPerSecond <= 0.0)
        return;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / textSource.config().linesPerSecond));
    // After a long stall start afresh instead of printing a burst of stale lines.
    if (now - nextTextAt > std::chrono::seconds(1))
        nextTextAt = now;
    while (nextTextAt <= now) {
        std::string line = textSource.nextLine(model.gain());
        if (queuedTextBytes + line.size() > kTextQueueLimitBytes) {
            ++linesDropped;
        } else {
            OutUnit unit;
            unit.bytes.assign(line.begin(), line.end());
            unit.readyAt = nextTextAt;
            unit.text = true;
            queuedTextBytes += unit.bytes.size();
            texts.push_back(std::move(unit));
        }
        nextTextAt += period;
    }
    wakeAt = std::min(wakeAt, nextTextAt);
}

bool BoardSimulator::pickNextUnit(Clock::time_point now)
{
    if (!responses.empty()) {
        current = std::move(responses.front());
        responses.pop_front();
        return true;
    }
    if (!texts.empty()) {
        current = std::move(texts.front());
        texts.pop_front();
        queuedTextBytes -= current->bytes.size();
        return true;
    }
    if (textActive() && textSource.config().benchmark && now >= nextTextAt) {
        // Back to back at the line rate: the next line goes out the moment the line is free, also
        // when this thread woke a little late; after a longer stall (nobody reading) it starts now.
        constexpr auto kLateWakeLimit = std::chrono::milliseconds(5);
        const Clock::time_point start =
            (txFreeAt <= now && now - txFreeAt < kLateWakeLimit) ? txFreeAt : std::max(now, txFreeAt);
        const std::string line = textSource.benchmarkLine(monotonicUs(start));
        OutUnit unit;
        unit.bytes.assign(line.begin(), line.end());
        unit.readyAt = start;
        unit.text = true;
        current = std::move(unit);
        return true;
    }
    return false;
}

void BoardSimulator::pumpOutput(Clock::time_point now, Clock::time_point &wakeAt)
{
    const auto bt = byteTime();
    const bool paced = bt > Clock::duration::zero();
    while (!writeBlocked && masterFd >= 0) {
        if (!current && !pickNextUnit(now))
            return;
        OutUnit &u = *current;
        const size_t remaining = u.bytes.size() - u.pos;
        const auto start = paced ? std::max(txFreeAt, u.readyAt) : u.readyAt;
        const auto firstDone = start + bt;
        if (firstDone > now) {
            wakeAt = std::min(wakeAt, firstDone);
            return;
        }
        size_t count = remaining;
        if (u.split)
            count = 1;
        else if (paced)
            count = std::min<size_t>(remaining, static_cast<size_t>((now - start) / bt));
        const ssize_t n = ::write(masterFd, u.bytes.data() + u.pos, count);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                writeBlocked = true;
            else
                wakeAt = std::min(wakeAt, now + 10ms);
            return;
        }
        if (static_cast<size_t>(n) < count)
            writeBlocked = true;
        u.pos += static_cast<size_t>(n);
        if (paced)
            txFreeAt = start + bt * n;
        if (u.split)
            u.readyAt = now + std::chrono::microseconds(cfg.faults.splitGapUs);
        if (u.pos == u.bytes.size()) {
            if (u.text)
                ++linesSent;
            current.reset();
        }
    }
}

// ---- control and inspection ----

bool BoardSimulator::isRunning() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return running;
}

bool BoardSimulator::hasVanished() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return vanished;
}

std::string BoardSimulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return slaveName;
}

std::string BoardSimulator::linkPath() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return cfg.linkPath;
}

std::string BoardSimulator::lastError() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return error;
}

void BoardSimulator::setMode(BoardMode mode)
{
    std::lock_guard<std::mutex> lock(mtx);
    const BoardMode before = model.mode();
    powerOnPending = false;
    model.setMode(mode);
    if (mode != before)
        modeChanged(before, Clock::now());
    wake();
}

BoardMode BoardSimulator::mode() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return model.mode();
}

void BoardSimulator::powerCycle()
{
    std::lock_guard<std::mutex> lock(mtx);
    beginPowerCycle(cfg.powerCycleTarget, Clock::now());
    wake();
}

void BoardSimulator::powerCycle(PowerCycleTarget target)
{
    std::lock_guard<std::mutex> lock(mtx);
    beginPowerCycle(target, Clock::now());
    wake();
}

void BoardSimulator::setPowerCycleTarget(PowerCycleTarget target)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.powerCycleTarget = target;
}

void BoardSimulator::setPingsToPowerCycle(long pings)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.pingsToPowerCycle = pings;
    model.setPingsToPowerCycle(pings);
}

void BoardSimulator::setPowerOffMs(int ms)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.powerOffMs = ms;
}

void BoardSimulator::setFaults(const FaultConfig &faults)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.faults = faults;
    commandFaultMatches.assign(faults.commandFaults.size(), 0);
    model.setCrcVerdictFail(faults.crcVerdictFail);
    wake();
}

FaultConfig BoardSimulator::faults() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return cfg.faults;
}

void BoardSimulator::setAppText(const AppTextConfig &text)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.text = text;
    textSource = AppTextSource(text);
    dropQueuedText();
    nextTextAt = Clock::now();
    wake();
}

void BoardSimulator::setAppBootStatus(uint16_t value)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.appBootStatus = value;
    model.setAppBootStatus(value);
}

void BoardSimulator::setAnswerResetInApplication(bool answer)
{
    std::lock_guard<std::mutex> lock(mtx);
    cfg.answerResetInApplication = answer;
    model.setAnswerResetInApplication(answer);
}

bool BoardSimulator::setRegister(uint16_t reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mtx);
    return model.setRegister(reg, value);
}

void BoardSimulator::setDescription(const std::string &text)
{
    std::lock_guard<std::mutex> lock(mtx);
    model.setDescription(text);
}

void BoardSimulator::setGain(int gain)
{
    std::lock_guard<std::mutex> lock(mtx);
    model.setGain(gain);
}

void BoardSimulator::setApplicationArea(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mtx);
    model.setApplication(bytes);
}

void BoardSimulator::setSettingsArea(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mtx);
    model.setSettings(bytes);
}

void BoardSimulator::setCalibrationArea(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mtx);
    model.setCalibration(bytes);
}

std::vector<RequestRecord> BoardSimulator::requestLog() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return log;
}

void BoardSimulator::clearRequestLog()
{
    std::lock_guard<std::mutex> lock(mtx);
    log.clear();
}

long BoardSimulator::requestCount() const
{
    std::lock_guard<std::mutex> lock(mtx);
    return requestCounter;
}

bool BoardSimulator::waitForRequestCount(long count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mtx);
    return requestCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return requestCounter >= count || vanished;
    }) && requestCounter >= count;
}

BoardSnapshot BoardSimulator::snapshot() const
{
    std::lock_guard<std::mutex> lock(mtx);
    BoardSnapshot snap;
    model.fillSnapshot(snap);
    snap.requestCount = requestCounter;
    snap.blockWriteCount = blockWriteCounter;
    snap.powerCycles = powerCycles;
    snap.textLinesSent = linesSent;
    snap.textLinesDropped = linesDropped;
    snap.vanished = vanished;
    return snap;
}
