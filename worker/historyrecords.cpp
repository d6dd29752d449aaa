#include "worker/historyrecords.h"

#include "flash/flashresult.h"
#include "target/boardinfo.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QSysInfo>

#include <array>
#include <charconv>

namespace {

QString recordVersionText(const BoardInfo::RecordVersion &version)
{
    return QStringLiteral("%1.%2").arg(version.major).arg(version.minor);
}

// A single-precision value in the shortest decimal form that reads back as the same float, so
// that 0.95f shows as 0.95 and not as the double nearest to it.
double shortestDecimal(float value)
{
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return QByteArray(text.data(), int(end - text.data())).toDouble();
}

QJsonValue orNull(bool present, const QJsonValue &value)
{
    return present ? value : QJsonValue(QJsonValue::Null);
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QJsonValue boardJson(const std::optional<RWTarget::APP_BL_REG_RO_T> &record)
{
    if (!record)
        return QJsonValue::Null;
    const BoardInfo board(*record);
    const bool settings = board.hasSettingsRecord();
    const bool calibration = board.hasCalibrationRecord();
    return QJsonObject{
        {"bootloaderVersion", FirmwareImage::versionText(board.bootloaderVersion())},
        {"partNumber", board.bootloaderPartNumber()},
        {"firmwareVersion", FirmwareImage::versionText(board.appFirmwareVersion())},
        {"firmwarePartNumber", board.appPartNumber()},
        {"hardwareId", board.hardwareId()},
        {"description", board.appDescription()},
        {"settingsVersion", orNull(settings, recordVersionText(board.settingsVersion()))},
        {"calibrationVersion", orNull(calibration, recordVersionText(board.calibrationVersion()))},
        {"serialNumber", orNull(calibration, board.serialNumber())},
    };
}

// The calibration area as a write found it: null before the page size was read.
QJsonValue areaJson(const CalWriteFacts &facts)
{
    if (facts.pageSize == 0)
        return QJsonValue::Null;
    QJsonObject area{{"pageSize", facts.pageSize}};
    if (!facts.areaRead.isEmpty()) {
        const bool calibration = BoardInfo::areaHasCalibrationRecord(facts.areaRead);
        area.insert("bytes", facts.areaRead.size());
        area.insert("sha256", sha256(facts.areaRead));
        area.insert("calibrationVersion",
                    orNull(calibration, recordVersionText(BoardInfo::areaCalibrationVersion(facts.areaRead))));
        area.insert("serialNumber", BoardInfo::areaSerialNumber(facts.areaRead));
    }
    return area;
}

QString writeStateName(CalWriteState state)
{
    switch (state) {
    case CalWriteState::Completed:
        return QStringLiteral("completed");
    case CalWriteState::Cancelled:
        return QStringLiteral("cancelled");
    case CalWriteState::Interrupted:
        return QStringLiteral("interrupted");
    case CalWriteState::NotWritten:
        return QStringLiteral("not written");
    default:
        return QStringLiteral("unfinished");
    }
}

QJsonObject basicsJson(const char *kind, const RecordBasics &basics)
{
    QDateTime started = basics.started;
    // With its offset, so that records of stations in other zones sort and compare.
    started.setOffsetFromUtc(started.offsetFromUtc());
    return QJsonObject{
        {"schema", HISTORY_RECORD_SCHEMA},
        {"kind", QString::fromLatin1(kind)},
        {"time", started.toString(Qt::ISODateWithMs)},
        {"tool", QStringLiteral("Zavlo GUI")},
        {"toolVersion", QStringLiteral(ZAVLO_VERSION_TEXT)},
        {"host", QSysInfo::machineHostName()},
        {"port", QJsonObject{{"given", basics.portGiven}, {"resolved", resolvedPortPath(basics.portGiven)}}},
        {"board", boardJson(basics.board)},
        {"messages", QJsonArray::fromStringList(basics.messages)},
        {"durationMs", basics.durationMs},
        {"bytesWritten", double(basics.bytesWritten)},
    };
}

QJsonArray sectionsJson(const FlashSelection &selection, const std::optional<FirmwareImage> &image)
{
    QJsonArray sections;
    const auto add = [&](bool chosen, const char *name, quint32 size) {
        if (!chosen)
            return;
        QJsonObject section{{"name", QString::fromLatin1(name)}};
        if (image)
            section.insert("bytes", double(size));
        sections.append(section);
    };
    add(selection.app, "application", image ? image->applicationSize() : 0);
    add(selection.settings, "settings", image ? image->settingsSize() : 0);
    add(selection.calibration, "calibration", image ? image->calibrationSize() : 0);
    return sections;
}

QJsonObject parametersJson(const FodParameterSet &set)
{
    return QJsonObject{
        {"gv", shortestDecimal(set.gv)},
        {"gi", shortestDecimal(set.gi)},
        {"delta_esr", shortestDecimal(set.delta_esr)},
        {"fod_offset", shortestDecimal(set.fod_offset)},
        {"factor1", shortestDecimal(set.factor1)},
        {"factor2", shortestDecimal(set.factor2)},
    };
}

} // namespace

QString resolvedPortPath(const QString &portName)
{
    // QSerialPort's own rule on Unix: a name that is not a path lives in /dev.
    const bool path = portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./")) ||
                      portName.startsWith(QLatin1String("../"));
    const QString device = path ? portName : QStringLiteral("/dev/") + portName;
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? portName : canonical;
}

QJsonObject historyRecord(const FlashRecord &record)
{
    QJsonObject json = basicsJson("flash", record.basics);
    QJsonObject image{{"path", record.imagePath}};
    if (record.image) {
        const FirmwareImage &file = *record.image;
        image.insert("size", double(file.fileSize()));
        image.insert("sha256", sha256(file.bytes()));
        image.insert("version", FirmwareImage::versionText(file.version()));
        image.insert("partNumber", file.partNumber());
        image.insert("hardwareId", file.hardwareId());
        image.insert("description", file.description());
    }
    json.insert("image", image);
    json.insert("sections", sectionsJson(record.selection, record.image));
    json.insert("ignoreHardwareId", record.selection.ignoreHardwareId);
    json.insert("boardAfter", boardJson(record.boardAfter));
    json.insert("result", QJsonObject{{"code", int(record.result)},
                                      {"name", FlashResult::name(record.result)},
                                      {"text", FlashResult::text(record.result)}});
    return json;
}

QJsonObject historyRecord(const CalibrationRecord &record)
{
    QJsonObject json = basicsJson("calibration", record.basics);
    json.insert("boardType", record.fit.board == FOD_BOARD_XMC ? QStringLiteral("XMC") : QStringLiteral("Automotive"));
    QJsonArray sets;
    for (const FodSetReport &set : record.fit.sets)
        sets.append(QJsonObject{
            {"gain", set.gain},
            {"fitted", set.fitted},
            {"rowsUsed", set.rowsUsed()},
            {"bestCost", set.bestCost},
            {"rmsResidual", set.rmsResidual},
            {"parameters", parametersJson(set.parameters)},
        });
    json.insert("sets", sets);
    json.insert("area", areaJson(record.write));
    json.insert("backup", orNull(!record.backupPath.isEmpty(), record.backupPath));
    json.insert("capture", orNull(!record.capturePath.isEmpty(), record.capturePath));
    json.insert("result", QJsonObject{{"state", writeStateName(record.write.outcome)},
                                      {"text", QString::fromLatin1(calWriteOutcomeText(record.write.outcome))}});
    return json;
}

QJsonObject historyRecord(const RestoreRecord &record)
{
    QJsonObject json = basicsJson("restore", record.basics);
    QJsonObject backup{{"path", record.backupPath}};
    if (!record.backup.isEmpty()) {
        backup.insert("bytes", record.backup.size());
        backup.insert("sha256", sha256(record.backup));
        backup.insert("serialNumber", BoardInfo::areaSerialNumber(record.backup));
    }
    json.insert("backup", backup);
    json.insert("force", record.force);
    json.insert("area", areaJson(record.write));
    json.insert("areaBackup", orNull(!record.areaBackupPath.isEmpty(), record.areaBackupPath));
    json.insert("result", QJsonObject{{"code", int(record.result)},
                                      {"name", QString::fromLatin1(calRestoreResultName(record.result))},
                                      {"text", QString::fromLatin1(calRestoreResultText(record.result))}});
    return json;
}
