// zavlo-sim: the simulated board on a pseudo-terminal, for manual runs and for tests that
// start the tool as a separate process.

#include "sim/boardsimulator.h"
#include "sim/simargs.h"
#include "sim/simfiles.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMainPollMs = 100;

const char kHelp[] = R"(Usage: zavlo-sim [options]
Simulates the board on a pseudo-terminal. Prints "PTY <slave path>" as its first line and
runs until SIGTERM or SIGINT. SIGUSR1 power-cycles the board, SIGUSR2 writes a dump.
Commands on stdin: powercycle [boot|app|off], mode boot|app|off, gain N, dump, quit.
Numbers may be decimal or 0x hex; version words also as MAJOR.MINOR.

General:
  --link PATH               symlink PATH to the slave (removed at exit)
  --log FILE                request log, one line per request, flushed
  --dump-dir DIR            write the final state there at exit and on "dump"
  --mode boot|app|off       mode at start (default boot)
Registers:
  --bl-version V            REG_BL_VERSION (default 1.3)
  --bl-part N               REG_BL_PART_NUMBER (default 1001)
  --page-size N             REG_BL_PAGE_SIZE (default 64)
  --settings-page N         REG_BL_SETTINGS_PAGE (default 120)
  --cal-page N              REG_BL_CAL_PAGE (default 121)
  --fw-version V            REG_APP_FW_VERSION (default 2.5)
  --app-part N              REG_APP_PART_NUMBER (default 1001)
  --hw-descriptor N         REG_APP_HW_DESCRIPTOR (default 0x0042)
  --description TEXT        REG_APP_DESCRIPTION, up to 42 bytes
  --register REG=VALUE      any register 0x0000..0x002F (repeatable)
  --app-boot-status V       boot-status value in the application (default 0x0000)
  --answer-reset-in-app     answer the 0x55DD write in the application
Memory:
  --app-area-size N         application area bytes (default 262144)
  --settings-size N         settings area bytes (default 4096)
  --cal-size N              calibration area bytes (default 4096)
  --application-file F      initial application area contents
  --settings-file F         initial settings area contents
  --calibration-file F      initial calibration area contents
  --settings-version V      version in the default settings area (default 1.3)
  --cal-version V           version in the default calibration area (default 2.1)
  --serial TEXT             serial number at calibration offset 100 (default SIM-00001234)
Application text:
  --text-rate N             lines per second (default 10)
  --plain-line TEXT         plain line (repeatable; replaces the default)
  --status-every N          every Nth line is a "Coil= ..." line (default 10, 0 never)
  --plain-every N           with FOD lines, every Nth line is plain (default 0)
  --zero-byte-every N       every Nth line has a zero byte in its middle (default 0)
  --bench-text              timestamped lines ("BENCH seq= N t_us= T", CLOCK_MONOTONIC)
                            back to back at the full line rate
  --app-start-ms N          from leaving the bootloader to the first line (default 20)
  --fod-file F              FOD lines from a file, cycled
  --fod-generate            generate FOD lines from the parameters
  --fod-board auto|xmc      model of the generated lines (default xmc)
  --fod-params G:gv,gi,desr,off,f1,f2
                            parameters for gain G (2, 3, 4 or all)
  --fod-noise S             Gaussian noise of field 6, standard deviation
  --fod-seed N              noise seed (default 1)
  --gain N                  gain at start (default 2)
Power cycle:
  --pings-to-power-cycle N  boot-status reads in the application before a power cycle
  --power-cycle-to boot|app|off
                            where a power cycle leaves the board (default boot)
  --power-off-ms N          time without power (default 100)
Faults (requests numbered from 0 in arrival order; block writes from 0 among themselves):
  --absent                  never answer, print nothing
  --silent-on K             ignore request K (repeatable)
  --error-on K:S            answer request K with status S, not carried out (repeatable)
  --error-on-block K:S      the same for block write number K (repeatable)
  --wrong-echo-on K         answer request K with command ^ 0x40 (repeatable)
  --garbage-all             garbage bytes before every response
  --garbage-on K            garbage bytes before the response to request K (repeatable)
  --split-bytes             write every response byte on its own
  --split-gap-us N          gap between split bytes (default 2000)
  --turnaround-us N         delay from request to response
  --pace                    115200 baud pacing of both lines (86.8 us per byte)
  --crc-fail                the CRC verdict always fails
  --vanish-at K             close the pty when request K arrives, then exit
  -h, --help                this text
)";

enum OptionId {
    OPT_LINK = 1000,
    OPT_LOG,
    OPT_DUMP_DIR,
    OPT_MODE,
    OPT_BL_VERSION,
    OPT_BL_PART,
    OPT_PAGE_SIZE,
    OPT_SETTINGS_PAGE,
    OPT_CAL_PAGE,
    OPT_FW_VERSION,
    OPT_APP_PART,
    OPT_HW_DESCRIPTOR,
    OPT_DESCRIPTION,
    OPT_REGISTER,
    OPT_APP_BOOT_STATUS,
    OPT_ANSWER_RESET,
    OPT_APP_AREA_SIZE,
    OPT_SETTINGS_SIZE,
    OPT_CAL_SIZE,
    OPT_APPLICATION_FILE,
    OPT_SETTINGS_FILE,
    OPT_CALIBRATION_FILE,
    OPT_SETTINGS_VERSION,
    OPT_CAL_VERSION,
    OPT_SERIAL,
    OPT_TEXT_RATE,
    OPT_PLAIN_LINE,
    OPT_STATUS_EVERY,
    OPT_PLAIN_EVERY,
    OPT_ZERO_BYTE_EVERY,
    OPT_BENCH_TEXT,
    OPT_APP_START_MS,
    OPT_FOD_FILE,
    OPT_FOD_GENERATE,
    OPT_FOD_BOARD,
    OPT_FOD_PARAMS,
    OPT_FOD_NOISE,
    OPT_FOD_SEED,
    OPT_GAIN,
    OPT_PINGS_TO_POWER_CYCLE,
    OPT_POWER_CYCLE_TO,
    OPT_POWER_OFF_MS,
    OPT_ABSENT,
    OPT_SILENT_ON,
    OPT_ERROR_ON,
    OPT_ERROR_ON_BLOCK,
    OPT_WRONG_ECHO_ON,
    OPT_GARBAGE_ALL,
    OPT_GARBAGE_ON,
    OPT_SPLIT_BYTES,
    OPT_SPLIT_GAP_US,
    OPT_TURNAROUND_US,
    OPT_PACE,
    OPT_CRC_FAIL,
    OPT_VANISH_AT,
};

const option kOptions[] = {
    {"link", required_argument, nullptr, OPT_LINK},
    {"log", required_argument, nullptr, OPT_LOG},
    {"dump-dir", required_argument, nullptr, OPT_DUMP_DIR},
    {"mode", required_argument, nullptr, OPT_MODE},
    {"bl-version", required_argument, nullptr, OPT_BL_VERSION},
    {"bl-part", required_argument, nullptr, OPT_BL_PART},
    {"page-size", required_argument, nullptr, OPT_PAGE_SIZE},
    {"settings-page", required_argument, nullptr, OPT_SETTINGS_PAGE},
    {"cal-page", required_argument, nullptr, OPT_CAL_PAGE},
    {"fw-version", required_argument, nullptr, OPT_FW_VERSION},
    {"app-part", required_argument, nullptr, OPT_APP_PART},
    {"hw-descriptor", required_argument, nullptr, OPT_HW_DESCRIPTOR},
    {"description", required_argument, nullptr, OPT_DESCRIPTION},
    {"register", required_argument, nullptr, OPT_REGISTER},
    {"app-boot-status", required_argument, nullptr, OPT_APP_BOOT_STATUS},
    {"answer-reset-in-app", no_argument, nullptr, OPT_ANSWER_RESET},
    {"app-area-size", required_argument, nullptr, OPT_APP_AREA_SIZE},
    {"settings-size", required_argument, nullptr, OPT_SETTINGS_SIZE},
    {"cal-size", required_argument, nullptr, OPT_CAL_SIZE},
    {"application-file", required_argument, nullptr, OPT_APPLICATION_FILE},
    {"settings-file", required_argument, nullptr, OPT_SETTINGS_FILE},
    {"calibration-file", required_argument, nullptr, OPT_CALIBRATION_FILE},
    {"settings-version", required_argument, nullptr, OPT_SETTINGS_VERSION},
    {"cal-version", required_argument, nullptr, OPT_CAL_VERSION},
    {"serial", required_argument, nullptr, OPT_SERIAL},
    {"text-rate", required_argument, nullptr, OPT_TEXT_RATE},
    {"plain-line", required_argument, nullptr, OPT_PLAIN_LINE},
    {"status-every", required_argument, nullptr, OPT_STATUS_EVERY},
    {"plain-every", required_argument, nullptr, OPT_PLAIN_EVERY},
    {"zero-byte-every", required_argument, nullptr, OPT_ZERO_BYTE_EVERY},
    {"bench-text", no_argument, nullptr, OPT_BENCH_TEXT},
    {"app-start-ms", required_argument, nullptr, OPT_APP_START_MS},
    {"fod-file", required_argument, nullptr, OPT_FOD_FILE},
    {"fod-generate", no_argument, nullptr, OPT_FOD_GENERATE},
    {"fod-board", required_argument, nullptr, OPT_FOD_BOARD},
    {"fod-params", required_argument, nullptr, OPT_FOD_PARAMS},
    {"fod-noise", required_argument, nullptr, OPT_FOD_NOISE},
    {"fod-seed", required_argument, nullptr, OPT_FOD_SEED},
    {"gain", required_argument, nullptr, OPT_GAIN},
    {"pings-to-power-cycle", required_argument, nullptr, OPT_PINGS_TO_POWER_CYCLE},
    {"power-cycle-to", required_argument, nullptr, OPT_POWER_CYCLE_TO},
    {"power-off-ms", required_argument, nullptr, OPT_POWER_OFF_MS},
    {"absent", no_argument, nullptr, OPT_ABSENT},
    {"silent-on", required_argument, nullptr, OPT_SILENT_ON},
    {"error-on", required_argument, nullptr, OPT_ERROR_ON},
    {"error-on-block", required_argument, nullptr, OPT_ERROR_ON_BLOCK},
    {"wrong-echo-on", required_argument, nullptr, OPT_WRONG_ECHO_ON},
    {"garbage-all", no_argument, nullptr, OPT_GARBAGE_ALL},
    {"garbage-on", required_argument, nullptr, OPT_GARBAGE_ON},
    {"split-bytes", no_argument, nullptr, OPT_SPLIT_BYTES},
    {"split-gap-us", required_argument, nullptr, OPT_SPLIT_GAP_US},
    {"turnaround-us", required_argument, nullptr, OPT_TURNAROUND_US},
    {"pace", no_argument, nullptr, OPT_PACE},
    {"crc-fail", no_argument, nullptr, OPT_CRC_FAIL},
    {"vanish-at", required_argument, nullptr, OPT_VANISH_AT},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

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
    if (text == "boot")
        return BoardMode::Bootloader;
    if (text == "app")
        return BoardMode::Application;
    if (text == "off")
        return BoardMode::PoweredOff;
    usageError("bad mode: " + text);
}

PowerCycleTarget parseTarget(const std::string &text)
{
    if (text == "boot")
        return PowerCycleTarget::Bootloader;
    if (text == "app")
        return PowerCycleTarget::Application;
    if (text == "off")
        return PowerCycleTarget::Off;
    usageError("bad power-cycle target: " + text);
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
};

Options parseOptions(int argc, char **argv)
{
    Options o;
    SimConfig &c = o.config;
    bool plainReplaced = false;
    int opt;
    while ((opt = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1) {
        const char *a = optarg;
        switch (opt) {
        case 'h':
            std::fputs(kHelp, stdout);
            std::exit(0);
        case OPT_LINK:
            c.linkPath = a;
            break;
        case OPT_LOG:
            c.requestLogPath = a;
            break;
        case OPT_DUMP_DIR:
            o.dumpDir = a;
            break;
        case OPT_MODE:
            c.startMode = parseMode(a);
            break;
        case OPT_BL_VERSION:
            c.blVersion = parseWord(a, "--bl-version");
            break;
        case OPT_BL_PART:
            c.blPartNumber = parseWord(a, "--bl-part");
            break;
        case OPT_PAGE_SIZE:
            c.pageSize = parseWord(a, "--page-size");
            break;
        case OPT_SETTINGS_PAGE:
            c.settingsPage = parseWord(a, "--settings-page");
            break;
        case OPT_CAL_PAGE:
            c.calPage = parseWord(a, "--cal-page");
            break;
        case OPT_FW_VERSION:
            c.appFwVersion = parseWord(a, "--fw-version");
            break;
        case OPT_APP_PART:
            c.appPartNumber = parseWord(a, "--app-part");
            break;
        case OPT_HW_DESCRIPTOR:
            c.hwDescriptor = parseWord(a, "--hw-descriptor");
            break;
        case OPT_DESCRIPTION:
            c.description = a;
            break;
        case OPT_REGISTER: {
            const char *eq = std::strchr(a, '=');
            if (!eq)
                usageError("--register needs REG=VALUE");
            const std::string reg(a, eq);
            const uint16_t r = parseWord(reg.c_str(), "--register");
            if (r >= SimReg::INFO_COUNT)
                usageError("--register takes registers 0x0000..0x002F");
            c.extraRegisters[r] = parseWord(eq + 1, "--register");
            break;
        }
        case OPT_APP_BOOT_STATUS:
            c.appBootStatus = parseWord(a, "--app-boot-status");
            break;
        case OPT_ANSWER_RESET:
            c.answerResetInApplication = true;
            break;
        case OPT_APP_AREA_SIZE:
            c.applicationAreaSize = static_cast<size_t>(parseNumber(a, "--app-area-size"));
            break;
        case OPT_SETTINGS_SIZE:
            c.settingsAreaSize = static_cast<size_t>(parseNumber(a, "--settings-size"));
            break;
        case OPT_CAL_SIZE:
            c.calibrationAreaSize = static_cast<size_t>(parseNumber(a, "--cal-size"));
            break;
        case OPT_APPLICATION_FILE:
            c.application = loadFile(a);
            break;
        case OPT_SETTINGS_FILE:
            c.settings = loadFile(a);
            break;
        case OPT_CALIBRATION_FILE:
            c.calibration = loadFile(a);
            break;
        case OPT_SETTINGS_VERSION: {
            const uint16_t v = parseWord(a, "--settings-version");
            c.settingsMajor = v >> 8;
            c.settingsMinor = v & 0xFF;
            break;
        }
        case OPT_CAL_VERSION: {
            const uint16_t v = parseWord(a, "--cal-version");
            c.calibrationMajor = v >> 8;
            c.calibrationMinor = v & 0xFF;
            break;
        }
        case OPT_SERIAL:
            c.serialNumber = a;
            break;
        case OPT_TEXT_RATE:
            c.text.linesPerSecond = std::atof(a);
            break;
        case OPT_PLAIN_LINE:
            if (!plainReplaced)
                c.text.plainLines.clear();
            plainReplaced = true;
            c.text.plainLines.push_back(a);
            break;
        case OPT_STATUS_EVERY:
            c.text.statusLineEvery = static_cast<int>(parseNumber(a, "--status-every"));
            break;
        case OPT_PLAIN_EVERY:
            c.text.plainLineEvery = static_cast<int>(parseNumber(a, "--plain-every"));
            break;
        case OPT_ZERO_BYTE_EVERY:
            c.text.zeroByteEvery = static_cast<int>(parseNumber(a, "--zero-byte-every"));
            break;
        case OPT_BENCH_TEXT:
            c.text.benchmark = true;
            break;
        case OPT_APP_START_MS:
            c.appStartMs = static_cast<int>(parseNumber(a, "--app-start-ms"));
            break;
        case OPT_FOD_FILE:
            c.text.fodLines = loadLines(a);
            break;
        case OPT_FOD_GENERATE:
            c.text.generateFod = true;
            break;
        case OPT_FOD_BOARD:
            if (std::strcmp(a, "auto") == 0)
                c.text.fod.board = SimFodBoard::Automotive;
            else if (std::strcmp(a, "xmc") == 0)
                c.text.fod.board = SimFodBoard::Xmc;
            else
                usageError(std::string("bad --fod-board: ") + a);
            break;
        case OPT_FOD_PARAMS:
            parseFodParams(a, c.text.fod);
            break;
        case OPT_FOD_NOISE:
            c.text.fod.noiseSigma = std::atof(a);
            break;
        case OPT_FOD_SEED:
            c.text.fod.seed = static_cast<uint64_t>(parseNumber(a, "--fod-seed"));
            break;
        case OPT_GAIN:
            c.initialGain = static_cast<int>(parseNumber(a, "--gain"));
            break;
        case OPT_PINGS_TO_POWER_CYCLE:
            c.pingsToPowerCycle = static_cast<long>(parseNumber(a, "--pings-to-power-cycle"));
            break;
        case OPT_POWER_CYCLE_TO:
            c.powerCycleTarget = parseTarget(a);
            break;
        case OPT_POWER_OFF_MS:
            c.powerOffMs = static_cast<int>(parseNumber(a, "--power-off-ms"));
            break;
        case OPT_ABSENT:
            c.faults.absent = true;
            break;
        case OPT_SILENT_ON:
            c.faults.silentOn.insert(static_cast<long>(parseNumber(a, "--silent-on")));
            break;
        case OPT_ERROR_ON:
            c.faults.errorOn.insert(parsePair(a, "--error-on"));
            break;
        case OPT_ERROR_ON_BLOCK:
            c.faults.errorOnBlockWrite.insert(parsePair(a, "--error-on-block"));
            break;
        case OPT_WRONG_ECHO_ON:
            c.faults.wrongEchoOn.insert(static_cast<long>(parseNumber(a, "--wrong-echo-on")));
            break;
        case OPT_GARBAGE_ALL:
            c.faults.garbageBeforeAll = true;
            break;
        case OPT_GARBAGE_ON:
            c.faults.garbageOn.insert(static_cast<long>(parseNumber(a, "--garbage-on")));
            break;
        case OPT_SPLIT_BYTES:
            c.faults.splitResponses = true;
            break;
        case OPT_SPLIT_GAP_US:
            c.faults.splitGapUs = static_cast<int>(parseNumber(a, "--split-gap-us"));
            break;
        case OPT_TURNAROUND_US:
            c.faults.turnaroundUs = static_cast<int>(parseNumber(a, "--turnaround-us"));
            break;
        case OPT_PACE:
            c.faults.pace115200 = true;
            break;
        case OPT_CRC_FAIL:
            c.faults.crcVerdictFail = true;
            break;
        case OPT_VANISH_AT:
            c.faults.vanishAt = static_cast<long>(parseNumber(a, "--vanish-at"));
            break;
        default:
            usageError("unknown option");
        }
    }
    if (optind < argc)
        usageError(std::string("unexpected argument: ") + argv[optind]);
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
