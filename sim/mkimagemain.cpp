// zavlo-mkimage: writes firmware images for tests and manual runs.

#include "sim/imagebuilder.h"
#include "sim/simargs.h"
#include "sim/simfiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kIntro[] = R"(Usage: zavlo-mkimage -o FILE [options]
Writes a firmware image: 256-byte header ("ZVLO", version, part number, hardware ID,
section sizes, header block = application size + CRC-32 + 8 zero bytes, description),
then the application, settings ("ZVLS") and calibration ("ZVLC") sections.
Numbers may be decimal or 0x hex; version words also as MAJOR.MINOR.

)";

constexpr int kHelpColumn = 29;

uint32_t parseSize(const char *text, const char *what)
{
    const long long v = parseCount(text, what);
    if (v > 0xFFFFFFFFLL)
        usageError(std::string("value out of range for ") + what);
    return static_cast<uint32_t>(v);
}

// A 32-bit size, kept in a wider field where the claims need room for "none".
template<typename T> OptionSetter setSize(T &target)
{
    return [&target](const char *a, const char *what) { target = parseSize(a, what); };
}

// Every option of the program: its name, argument, help text and what it sets, in help order.
std::vector<ProgramOption> optionTable(ImageSpec &spec, std::string &output)
{
    std::vector<ProgramOption> table = {
        {"output", "FILE", "image to write (required)", setText(output), 'o'},
        {"version", "V", "firmware version (default 2.5)", setWord(spec.version)},
        {"part", "N", "part number (default 1001)", setWord(spec.partNumber)},
        {"hwid", "N", "hardware ID (default 0x0042)", setWord(spec.hardwareId)},
        {"description", "TEXT", "description at offset 128", setText(spec.description)},
        {"app-size", "N", "application bytes, 0 for none (default 4096)", setSize(spec.applicationSize)},
        {"app-seed", "N", "seed of the application bytes (default 1)", setCount(spec.applicationSeed)},
        {"app-file", "F", "application bytes from a file (size from the file)",
         [&spec](const char *a, const char *) {
             std::string error;
             if (!simReadFile(a, spec.application, &error))
                 usageError(error);
             spec.applicationSize = static_cast<uint32_t>(spec.application.size());
         }},
        {"settings-size", "N", "settings bytes, 0 for none (default 256)", setSize(spec.settingsSize)},
        {"settings-version", "V", "settings version (default 1.4)", setVersion(spec.settingsMajor, spec.settingsMinor)},
        {"settings-seed", "N", "seed of the settings bytes (default 2)", setCount(spec.settingsSeed)},
        {"cal-size", "N", "calibration bytes, 0 for none (default 256)", setSize(spec.calibrationSize)},
        {"cal-version", "V", "calibration version (default 2.2)",
         setVersion(spec.calibrationMajor, spec.calibrationMinor)},
        {"cal-seed", "N", "seed of the calibration bytes (default 3)", setCount(spec.calibrationSeed)},
        {"serial", "TEXT", "serial number at calibration offset 100", setText(spec.serialNumber)},
        {nullptr, nullptr, "Defects:", nullptr},
        {"wrong-magic", nullptr, "header magic \"ZVLX\"", setFlag(spec.wrongMagic)},
        {"settings-no-magic", nullptr, "settings section without \"ZVLS\"", setFlag(spec.settingsWithoutMagic)},
        {"cal-no-magic", nullptr, "calibration section without \"ZVLC\"", setFlag(spec.calibrationWithoutMagic)},
        {"bad-crc", nullptr, "header block CRC does not match the application", setFlag(spec.badApplicationCrc)},
        {"description-unterminated", nullptr, "128 description bytes without a zero byte",
         setFlag(spec.unterminatedDescription)},
        {"truncate", "N", "cut the file to N bytes", setCount(spec.truncateTo)},
        {"app-size-claim", "N", "application size field says N", setSize(spec.applicationSizeClaim)},
        {"settings-size-claim", "N", "settings size field says N", setSize(spec.settingsSizeClaim)},
        {"cal-size-claim", "N", "calibration size field says N", setSize(spec.calibrationSizeClaim)},
    };
    return table;
}

} // namespace

int main(int argc, char **argv)
{
    setProgramName("zavlo-mkimage");
    ImageSpec spec;
    std::string output;
    const int firstOperand = parseProgramOptions(argc, argv, optionTable(spec, output), kIntro, kHelpColumn);
    if (output.empty())
        usageError("-o FILE is required");
    rejectOperands(argc, argv, firstOperand);
    std::string error;
    if (!writeFirmwareImage(output, spec, &error)) {
        std::fprintf(stderr, "zavlo-mkimage: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
