#pragma once

// Runs the fast search with several thread counts and checks it against the reference.

#include "fod/fodsearch.h"

#include <QtTest>

namespace fodtest {

inline QString describe(const FodSearchResult &r)
{
    QStringList parts;
    for (int i : r.index)
        parts << QString::number(i);
    return QStringLiteral("found %1 at [%2] cost %3 second %4")
        .arg(r.found)
        .arg(parts.join(','))
        .arg(r.cost, 0, 'g', 17)
        .arg(r.secondCost, 0, 'g', 17);
}

inline void compareWithReference(const std::vector<FodRow> &rows, const FodGrids &grids, const QString &what,
                                 FodSearchStats *stats = nullptr)
{
    const FodSearchResult reference = fodSearchReference(rows, grids);
    for (unsigned threads : {1u, 2u, 3u}) {
        const FodSearchResult fast = fodSearchFast(rows, grids, threads, stats);
        const QString message =
            what +
            QStringLiteral(" threads %1: reference %2, fast %3").arg(threads).arg(describe(reference), describe(fast));
        QVERIFY2(fast.found == reference.found, qPrintable(message));
        if (reference.found) {
            QVERIFY2(fast.index == reference.index, qPrintable(message));
            QVERIFY2(fast.cost == reference.cost, qPrintable(message));
        }
        QVERIFY2(fast.secondCost == reference.secondCost, qPrintable(message));
    }
}

} // namespace fodtest
