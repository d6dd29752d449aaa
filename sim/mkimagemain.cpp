// zavlo-mkimage: writes firmware images for tests and manual runs.

#include "sim/imagebuilder.h"
#include "sim/simargs.h"
#include "sim/simfiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

const char kHelp[] = R"(Usage: zavlo-mkimage -o FILE [options]
Writes a firmware image: 256-byte header ("ZVLO", version, part number, hardware ID,
section sizes, header block = application size + CRC-32 + 8 zero bytes, description),
then the application, settings ("ZVLS") and calibration ("ZVLC") sections.
Numbers may be decimal or 0x hex; version words also as MAJOR.MINOR.

  -o, --output FILE          image to write (required)
  --version V                firmware version (default 2.5)
  --part N                   part number (default 1001)
  --hwid N                   hardware ID (default 0x0042)
  --description TEXT         description at offset 128
  --app-size N               application bytes, 0 for none (default 4096)
  --app-seed N               seed of the application bytes (default 1)
  --app-file F               application bytes from a file (size from the file)
  --settings-size N          settings bytes, 0 for none (default 256)
  --settings-version V       settings version (default 1.4)
  --settings-seed N          seed of the settings bytes (default 2)
  --cal-size N               calibration bytes, 0 for none (default 256)
  --cal-version V            calibration version (default 2.2)
  --cal-seed N               seed of the calibration bytes (default 3)
  --serial TEXT              serial number at calibration offset 100
Defects:
  --wrong-magic              header magic "ZVLX"
  --settings-no-magic        settings section without "ZVLS"
  --cal-no-magic             calibration section without "ZVLC"
  --bad-crc                  header block CRC does not match the application
  --description-unterminated 128 description bytes without a zero byte
  --truncate N               cut the file to N bytes
  --app-size-claim N         application size field says N
  --settings-size-claim N    settings size field says N
  --cal-size-claim N         calibration size field says N
  -h, --help                 this text
)";

enum OptionId {
    OPT_VERSION = 1000,
    OPT_PART,
    OPT_HWID,
    OPT_DESCRIPTION,
    OPT_APP_SIZE,
    OPT_APP_SEED,
    OPT_APP_FILE,
    OPT_SETTINGS_SIZE,
    OPT_SETTINGS_VERSION,
    OPT_SETTINGS_SEED,
    OPT_CAL_SIZE,
    OPT_CAL_VERSION,
    OPT_CAL_SEED,
    OPT_SERIAL,
    OPT_WRONG_MAGIC,
    OPT_SETTINGS_NO_MAGIC,
    OPT_CAL_NO_MAGIC,
    OPT_BAD_CRC,
    OPT_DESC_UNTERMINATED,
    OPT_TRUNCATE,
    OPT_APP_SIZE_CLAIM,
    OPT_SETTINGS_SIZE_CLAIM,
    OPT_CAL_SIZE_CLAIM,
};

const option kOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"version", required_argument, nullptr, OPT_VERSION},
    {"part", required_argument, nullptr, OPT_PART},
    {"hwid", required_argument, nullptr, OPT_HWID},
    {"description", required_argument, nullptr, OPT_DESCRIPTION},
    {"app-size", required_argument, nullptr, OPT_APP_SIZE},
    {"app-seed", required_argument, nullptr, OPT_APP_SEED},
    {"app-file", required_argument, nullptr, OPT_APP_FILE},
    {"settings-size", required_argument, nullptr, OPT_SETTINGS_SIZE},
    {"settings-version", required_argument, nullptr, OPT_SETTINGS_VERSION},
    {"settings-seed", required_argument, nullptr, OPT_SETTINGS_SEED},
    {"cal-size", required_argument, nullptr, OPT_CAL_SIZE},
    {"cal-version", required_argument, nullptr, OPT_CAL_VERSION},
    {"cal-seed", required_argument, nullptr, OPT_CAL_SEED},
    {"serial", required_argument, nullptr, OPT_SERIAL},
    {"wrong-magic", no_argument, nullptr, OPT_WRONG_MAGIC},
    {"settings-no-magic", no_argument, nullptr, OPT_SETTINGS_NO_MAGIC},
    {"cal-no-magic", no_argument, nullptr, OPT_CAL_NO_MAGIC},
    {"bad-crc", no_argument, nullptr, OPT_BAD_CRC},
    {"description-unterminated", no_argument, nullptr, OPT_DESC_UNTERMINATED},
    {"truncate", required_argument, nullptr, OPT_TRUNCATE},
    {"app-size-claim", required_argument, nullptr, OPT_APP_SIZE_CLAIM},
    {"settings-size-claim", required_argument, nullptr, OPT_SETTINGS_SIZE_CLAIM},
    {"cal-size-claim", required_argument, nullptr, OPT_CAL_SIZE_CLAIM},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

uint32_t parseSize(const char *text, const char *what)
{
    const long long v = parseCount(text, what);
    if (v > 0xFFFFFFFFLL)
        usageError(std::string("value out of range for ") + what);
    return static_cast<uint32_t>(v);
}

} // namespace

int main(int argc, char **argv)
{
    setProgramName("zavlo-mkimage");
    ImageSpec spec;
    std::string output;
    int opt;
    while ((opt = getopt_long(argc, argv, "o:h", kOptions, nullptr)) != -1) {
        const char *a = optarg;
        switch (opt) {
        case 'h':
            std::fputs(kHelp, stdout);
            return 0;
        case 'o':
            output = a;
            break;
        case OPT_VERSION:
            spec.version = parseWord(a, "--version");
            break;
        case OPT_PART:
            spec.partNumber = parseWord(a, "--part");
            break;
        case OPT_HWID:
            spec.hardwareId = parseWord(a, "--hwid");
            break;
        case OPT_DESCRIPTION:
            spec.description = a;
            break;
        case OPT_APP_SIZE:
            spec.applicationSize = parseSize(a, "--app-size");
            break;
        case OPT_APP_SEED:
            spec.applicationSeed = static_cast<uint64_t>(parseCount(a, "--app-seed"));
            break;
        case OPT_APP_FILE: {
            std::string error;
            if (!simReadFile(a, spec.application, &error))
                usageError(error);
            spec.applicationSize = static_cast<uint32_t>(spec.application.size());
            break;
        }
        case OPT_SETTINGS_SIZE:
            spec.settingsSize = parseSize(a, "--settings-size");
            break;
        case OPT_SETTINGS_VERSION: {
            const uint16_t v = parseWord(a, "--settings-version");
            spec.settingsMajor = v >> 8;
            spec.settingsMinor = v & 0xFF;
            break;
        }
        case OPT_SETTINGS_SEED:
            spec.settingsSeed = static_cast<uint64_t>(parseCount(a, "--settings-seed"));
            break;
        case OPT_CAL_SIZE:
            spec.calibrationSize = parseSize(a, "--cal-size");
            break;
        case OPT_CAL_VERSION: {
            const uint16_t v = parseWord(a, "--cal-version");
            spec.calibrationMajor = v >> 8;
            spec.calibrationMinor = v & 0xFF;
            break;
        }
        case OPT_CAL_SEED:
            spec.calibrationSeed = static_cast<uint64_t>(parseCount(a, "--cal-seed"));
            break;
        case OPT_SERIAL:
            spec.serialNumber = a;
            break;
        case OPT_WRONG_MAGIC:
            spec.wrongMagic = true;
            break;
        case OPT_SETTINGS_NO_MAGIC:
            spec.settingsWithoutMagic = true;
            break;
        case OPT_CAL_NO_MAGIC:
            spec.calibrationWithoutMagic = true;
            break;
        case OPT_BAD_CRC:
            spec.badApplicationCrc = true;
            break;
        case OPT_DESC_UNTERMINATED:
            spec.unterminatedDescription = true;
            break;
        case OPT_TRUNCATE:
            spec.truncateTo = static_cast<long>(parseCount(a, "--truncate"));
            break;
        case OPT_APP_SIZE_CLAIM:
            spec.applicationSizeClaim = parseSize(a, "--app-size-claim");
            break;
        case OPT_SETTINGS_SIZE_CLAIM:
            spec.settingsSizeClaim = parseSize(a, "--settings-size-claim");
            break;
        case OPT_CAL_SIZE_CLAIM:
            spec.calibrationSizeClaim = parseSize(a, "--cal-size-claim");
            break;
        default:
            usageError("unknown option");
        }
    }
    if (output.empty())
        usageError("-o FILE is required");
    if (optind < argc)
        usageError(std::string("unexpected argument: ") + argv[optind]);
    std::string error;
    if (!writeFirmwareImage(output, spec, &error)) {
        std::fprintf(stderr, "zavlo-mkimage: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
