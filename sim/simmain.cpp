// zavlo-sim: the simulated board on a pseudo-terminal, for manual runs and for tests that
// start the tool as a separate process.

#include "sim/boardsimulator.h"
#include "sim/simargs.h"
#include "sim/simfiles.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMainPollMs = 100;

const char kIntro[] = R"(Usage: zavlo-sim [options]
Simulates the board on a pseudo-terminal. Prints "PTY <slave path>" as its first line and
runs until SIGTERM or SIGINT. SIGUSR1 power-cycles the board, SIGUSR2 writes a dump.
Commands on stdin: powercycle [boot|app|off], mode boot|app|off, gain N, dump, quit.
Numbers may be decimal or 0x hex; version words also as MAJOR.MINOR.

)";

constexpr int kHelpColumn = 28;

// "K:S" pairs of the fault options.
std::pair<long, uint8_t> parsePair(const char *text, const char *what)
{
    const char *colon = std::strchr(text, ':');
    if (!colon)
        usageError(std::string(what) + " needs K:S");
    const std::string first(text, colon);
    const long long status = parseNumber(colon + 1, what);
    if (status < 0 || status > 255)
        usageError(std::string("status out of range for ") + what);
    return {static_cast<long>(parseNumber(first.c_str(), what)), static_cast<uint8_t>(status)};
}

BoardMode parseMode(const std::string &text)
{
    return parseChoice<BoardMode>(
        text, {{"boot", BoardMode::Bootloader}, {"app", BoardMode::Application}, {"off", BoardMode::PoweredOff}},
        "bad mode: ");
}

PowerCycleTarget parseTarget(const std::string &text)
{
    return parseChoice<PowerCycleTarget>(text,
                                         {{"boot", PowerCycleTarget::Bootloader},
                                          {"app", PowerCycleTarget::Application},
                                          {"off", PowerCycleTarget::Off}},
                                         "bad power-cycle target: ");
}

void parseFodParams(const char *text, FodGenConfig &fod)
{
    const char *colon = std::strchr(text, ':');
    if (!colon)
        usageError("--fod-params needs G:gv,gi,desr,off,f1,f2");
    const std::string gain(text, colon);
    double v[6];
    if (std::sscanf(colon + 1, "%lf,%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        usageError(std::string("bad --fod-params: ") + text);
    const SimFodParams p{v[0], v[1], v[2], v[3], v[4], v[5]};
    if (gain == "all") {
        fod.params.fill(p);
        return;
    }
    const long long g = parseNumber(gain.c_str(), "--fod-params");
    if (g < 2 || g > 4)
        usageError("--fod-params gain must be 2, 3, 4 or all");
    fod.params[static_cast<size_t>(g - 2)] = p;
}

void setRegister(const char *a, SimConfig &c)
{
    const char *eq = std::strchr(a, '=');
    if (!eq)
        usageError("--register needs REG=VALUE");
    const std::string reg(a, eq);
    const uint16_t r = parseWord(reg.c_str(), "--register");
    if (r >= SimReg::INFO_COUNT)
        usageError("--register takes registers 0x0000..0x002F");
    c.extraRegisters[r] = parseWord(eq + 1, "--register");
}

SimFodBoard parseFodBoard(const char *a)
{
    return parseChoice<SimFodBoard>(a, {{"auto", SimFodBoard::Automotive}, {"xmc", SimFodBoard::Xmc}},
                                    "bad --fod-board: ");
}

std::vector<uint8_t> loadFile(const char *path)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!simReadFile(path, bytes, &error))
        usageError(error);
    return bytes;
}

std::vector<std::string> loadLines(const char *path)
{
    const std::vector<uint8_t> bytes = loadFile(path);
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t b : bytes) {
        if (b == '\n' || b == '\r') {
            if (!line.empty())
                lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(b));
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

struct Options {
    SimConfig config;
    std::string dumpDir;
    bool plainReplaced = false;
};

OptionSetter setFileBytes(std::vector<uint8_t> &target)
{
    return [&target](const char *path, const char *) { target = loadFile(path); };
}

template<typename Set> OptionSetter addNumber(Set &target)
{
    return [&target](const char *a, const char *what) { target.insert(static_cast<long>(parseNumber(a, what))); };
}

template<typename Map> OptionSetter addPair(Map &target)
{
    return [&target](const char *a, const char *what) { target.insert(parsePair(a, what)); };
}

// Every option of the program: its name, argument, help text and what it sets, in help order.
std::vector<ProgramOption> optionTable(Options &o)
{
    SimConfig &c = o.config;
    FaultConfig &f = c.faults;
    return {
        {nullptr, nullptr, "General:", nullptr},
        {"link", "PATH", "symlink PATH to the slave (removed at exit)", setText(c.linkPath)},
        {"log", "FILE", "request log, one line per request, flushed", setText(c.requestLogPath)},
        {"dump-dir", "DIR", "write the final state there at exit and on \"dump\"", setText(o.dumpDir)},
        {"mode", "boot|app|off", "mode at start (default boot)",
         [&c](const char *a, const char *) { c.startMode = parseMode(a); }},
        {nullptr, nullptr, "Registers:", nullptr},
        {"bl-version", "V", "REG_BL_VERSION (default 1.3)", setWord(c.blVersion)},
        {"bl-part", "N", "REG_BL_PART_NUMBER (default 1001)", setWord(c.blPartNumber)},
        {"page-size", "N", "REG_BL_PAGE_SIZE (default 64)", setWord(c.pageSize)},
        {"settings-page", "N", "REG_BL_SETTINGS_PAGE (default 120)", setWord(c.settingsPage)},
        {"cal-page", "N", "REG_BL_CAL_PAGE (default 121)", setWord(c.calPage)},
        {"fw-version", "V", "REG_APP_FW_VERSION (default 2.5)", setWord(c.appFwVersion)},
        {"app-part", "N", "REG_APP_PART_NUMBER (default 1001)", setWord(c.appPartNumber)},
        {"hw-descriptor", "N", "REG_APP_HW_DESCRIPTOR (default 0x0042)", setWord(c.hwDescriptor)},
        {"description", "TEXT", "REG_APP_DESCRIPTION, up to 42 bytes", setText(c.description)},
        {"register", "REG=VALUE", "any register 0x0000..0x002F (repeatable)",
         [&c](const char *a, const char *) { setRegister(a, c); }},
        {"app-boot-status", "V", "boot-status value in the application (default 0x0000)", setWord(c.appBootStatus)},
        {"answer-reset-in-app", nullptr, "answer the 0x55DD write in the application",
         setFlag(c.answerResetInApplication)},
        {nullptr, nullptr, "Memory:", nullptr},
        {"app-area-size", "N", "application area bytes (default 262144)", setNumber(c.applicationAreaSize)},
        {"settings-size", "N", "settings area bytes (default 4096)", setNumber(c.settingsAreaSize)},
        {"cal-size", "N", "calibration area bytes (default 4096)", setNumber(c.calibrationAreaSize)},
        {"application-file", "F", "initial application area contents", setFileBytes(c.application)},
        {"settings-file", "F", "initial settings area contents", setFileBytes(c.settings)},
        {"calibration-file", "F", "initial calibration area contents", setFileBytes(c.calibration)},
        {"settings-version", "V", "version in the default settings area (default 1.3)",
         setVersion(c.settingsMajor, c.settingsMinor)},
        {"cal-version", "V", "version in the default calibration area (default 2.1)",
         setVersion(c.calibrationMajor, c.calibrationMinor)},
        {"serial", "TEXT", "serial number at calibration offset 100 (default SIM-00001234)", setText(c.serialNumber)},
        {nullptr, nullptr, "Application text:", nullptr},
        {"text-rate", "N", "lines per second (default 10)",
         [&c](const char *a, const char *) { c.text.linesPerSecond = std::atof(a); }},
        {"plain-line", "TEXT", "plain line (repeatable; replaces the default)",
         [&o](const char *a, const char *) {
             if (!o.plainReplaced)
                 o.config.text.plainLines.clear();
             o.plainReplaced = true;
             o.config.text.plainLines.push_back(a);
         }},
        {"status-every", "N", "every Nth line is a \"Coil= ...\" line (default 10, 0 never)",
         setNumber(c.text.statusLineEvery)},
        {"plain-every", "N", "with FOD lines, every Nth line is plain (default 0)", setNumber(c.text.plainLineEvery)},
        {"zero-byte-every", "N", "every Nth line has a zero byte in its middle (default 0)",
         setNumber(c.text.zeroByteEvery)},
        {"bench-text", nullptr,
         "timestamped lines (\"BENCH seq= N t_us= T\", CLOCK_MONOTONIC)\nback to back at the full line rate",
         setFlag(c.text.benchmark)},
        {"app-start-ms", "N", "from leaving the bootloader to the first line (default 20)", setNumber(c.appStartMs)},
        {"fod-file", "F", "FOD lines from a file, cycled",
         [&c](const char *a, const char *) { c.text.fodLines = loadLines(a); }},
        {"fod-generate", nullptr, "generate FOD lines from the parameters", setFlag(c.text.generateFod)},
        {"fod-board", "auto|xmc", "model of the generated lines (default xmc)",
         [&c](const char *a, const char *) { c.text.fod.board = parseFodBoard(a); }},
        {"fod-params", "G:gv,gi,desr,off,f1,f2", "parameters for gain G (2, 3, 4 or all)",
         [&c](const char *a, const char *) { parseFodParams(a, c.text.fod); }},
        {"fod-noise", "S", "Gaussian noise of field 6, standard deviation",
         [&c](const char *a, const char *) { c.text.fod.noiseSigma = std::atof(a); }},
        {"fod-seed", "N", "noise seed (default 1)", setNumber(c.text.fod.seed)},
        {"gain", "N", "gain at start (default 2)", setNumber(c.initialGain)},
        {nullptr, nullptr, "Power cycle:", nullptr},
        {"pings-to-power-cycle", "N", "boot-status reads in the application before a power cycle",
         setNumber(c.pingsToPowerCycle)},
        {"power-cycle-to", "boot|app|off", "where a power cycle leaves the board (default boot)",
         [&c](const char *a, const char *) { c.powerCycleTarget = parseTarget(a); }},
        {"power-off-ms", "N", "time without power (default 100)", setNumber(c.powerOffMs)},
        {nullptr, nullptr,
         "Faults (requests numbered from 0 in arrival order; block writes from 0 among themselves):", nullptr},
        {"absent", nullptr, "never answer, print nothing", setFlag(f.absent)},
        {"silent-on", "K", "ignore request K (repeatable)", addNumber(f.silentOn)},
        {"error-on", "K:S", "answer request K with status S, not carried out (repeatable)", addPair(f.errorOn)},
        {"error-on-block", "K:S", "the same for block write number K (repeatable)", addPair(f.errorOnBlockWrite)},
        {"wrong-echo-on", "K", "answer request K with command ^ 0x40 (repeatable)", addNumber(f.wrongEchoOn)},
        {"garbage-all", nullptr, "garbage bytes before every response", setFlag(f.garbageBeforeAll)},
        {"garbage-on", "K", "garbage bytes before the response to request K (repeatable)", addNumber(f.garbageOn)},
        {"split-bytes", nullptr, "write every response byte on its own", setFlag(f.splitResponses)},
        {"split-gap-us", "N", "gap between split bytes (default 2000)", setNumber(f.splitGapUs)},
        {"turnaround-us", "N", "delay from request to response", setNumber(f.turnaroundUs)},
        {"pace", nullptr, "115200 baud pacing of both lines (86.8 us per byte)", setFlag(f.pace115200)},
        {"crc-fail", nullptr, "the CRC verdict always fails", setFlag(f.crcVerdictFail)},
        {"vanish-at", "K", "close the pty when request K arrives, then exit", setNumber(f.vanishAt)},
    };
}

Options parseOptions(int argc, char **argv)
{
    Options o;
    const std::vector<ProgramOption> table = optionTable(o);
    rejectOperands(argc, argv, parseProgramOptions(argc, argv, table, kIntro, kHelpColumn));
    return o;
}

void dump(const BoardSimulator &sim, const std::string &dir)
{
    if (dir.empty())
        return;
    std::string error;
    if (writeSnapshotFiles(dir, sim.snapshot(), &error))
        std::printf("DUMPED %s\n", dir.c_str());
    else
        std::fprintf(stderr, "zavlo-sim: dump failed: %s\n", error.c_str());
    std::fflush(stdout);
}

// Returns false when the command asks the program to end.
bool runCommand(BoardSimulator &sim, const std::string &line, const std::string &dumpDir)
{
    char word[32] = {}, arg[64] = {};
    const int n = std::sscanf(line.c_str(), "%31s %63s", word, arg);
    if (n < 1)
        return true;
    const std::string cmd = word;
    const std::string value = arg;
    const bool modeArg = value == "boot" || value == "app" || value == "off";
    if (cmd == "quit")
        return false;
    if (cmd == "dump") {
        dump(sim, dumpDir);
    } else if (cmd == "powercycle" && n == 1) {
        sim.powerCycle();
    } else if (cmd == "powercycle" && modeArg) {
        sim.powerCycle(parseTarget(arg));
    } else if (cmd == "mode" && modeArg) {
        sim.setMode(parseMode(arg));
    } else if (cmd == "gain" && n == 2) {
        sim.setGain(std::atoi(arg));
    } else {
        std::fprintf(stderr, "zavlo-sim: unknown command: %s\n", line.c_str());
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parseOptions(argc, argv);

    // Blocked before the simulator's thread exists, so that only the signalfd sees them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2})
        sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC);

    BoardSimulator sim(options.config);
    if (!sim.start()) {
        std::fprintf(stderr, "zavlo-sim: %s\n", sim.lastError().c_str());
        return 1;
    }
    std::printf("PTY %s\n", sim.slavePath().c_str());
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string pending;
    bool quit = false;
    while (!quit) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        ::poll(fds, 2, kMainPollMs);
        if (sim.hasVanished()) {
            std::fprintf(stderr, "zavlo-sim: board vanished\n");
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sigFd, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGUSR1)
                    sim.powerCycle();
                else if (info.ssi_signo == SIGUSR2)
                    dump(sim, options.dumpDir);
                else
                    quit = true;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false;
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                if (!runCommand(sim, pending.substr(0, eol), options.dumpDir))
                    quit = true;
                pending.erase(0, eol + 1);
            }
        }
    }
    sim.stop();
    dump(sim, options.dumpDir);
    return 0;
}
