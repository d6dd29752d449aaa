#pragma once

#include "flash/flashreporter.h"
#include "target/rwtarget.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Records every report of the flash procedure in order, as short texts such as "progress 0",
// "bytes 1024", "status Successfully opened bin file.", "result 5" and "info". An optional hook
// sees each entry as it is recorded, so a test can act at an exact point (a cancel, for example).
class RecordingReporter : public FlashReporter
{
public:
    void updateProgress(int percent) override { record(QStringLiteral("progress %1").arg(percent)); }
    void updateBytesTransferred(int bytes) override { record(QStringLiteral("bytes %1").arg(bytes)); }
    void transferStatus(const QString &msg) override { record(QStringLiteral("status ") + msg); }
    void flashResult(RWTarget::RW_RESPONSE_T response) override
    {
        results.append(response);
        record(QStringLiteral("result %1").arg(int(response)));
    }
    void queryInfoBlock() override { record(QStringLiteral("info")); }

    QStringList entries;
    QList<RWTarget::RW_RESPONSE_T> results;
    std::function<void(const QString &)> hook;

    // Entries with the given prefix, prefix removed.
    QStringList only(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : entries)
            if (e.startsWith(prefix + QLatin1Char(' ')))
                out.append(e.mid(prefix.size() + 1));
        return out;
    }

private:
    void record(const QString &entry)
    {
        entries.append(entry);
        if (hook)
            hook(entry);
    }
};
