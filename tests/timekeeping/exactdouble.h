#pragma once

#include <QString>
#include <QTest>

// QCOMPARE on doubles is fuzzy to about twelve digits, which for present-day NtpSeconds lets
// 3350992402.125 and 3350992402.126 pass as equal. These values must match to the bit.
#define OSTRELLE_COMPARE_EXACT(actual, expected)                                                             \
    do {                                                                                                     \
        const double actualValue = (actual);                                                                 \
        const double expectedValue = (expected);                                                             \
        QVERIFY2(actualValue == expectedValue, qPrintable(QStringLiteral("%1 is not exactly %2")             \
                                                              .arg(actualValue, 0, 'g', 17)                  \
                                                              .arg(expectedValue, 0, 'g', 17)));             \
    } while (false)
