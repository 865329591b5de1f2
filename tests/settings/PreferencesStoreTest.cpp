#include "PreferencesStore.h"

#include <gtest/gtest.h>

TEST(StrictReads, DoubleAcceptsOnlyCompleteFiniteNumbers) {
    EXPECT_EQ(readDouble(QVariant(QStringLiteral("0.25"))), 0.25);
    EXPECT_EQ(readDouble(QVariant(QStringLiteral("-1e308"))), -1e308);
    EXPECT_EQ(readDouble(QVariant(qint64(7))), 7.0);
    EXPECT_EQ(readDouble(QVariant(2.5)), 2.5);
    for (const char* bad : {"abc", "", "1.5x", "1,5", "true", "nan", "inf", "-inf", "1e400"})
        EXPECT_FALSE(readDouble(QVariant(QString::fromLatin1(bad)))) << bad;
    EXPECT_FALSE(readDouble(QVariant(QString(400, QLatin1Char('9')))));
    EXPECT_FALSE(readDouble(QVariant(true)));
    EXPECT_FALSE(readDouble(QVariant(QStringList{"1", "2"})));
    EXPECT_FALSE(readDouble(QVariant()));
}

TEST(StrictReads, IntegerAcceptsOnlyWholeNumbers) {
    EXPECT_EQ(readInteger(QVariant(QStringLiteral("9"))), 9);
    EXPECT_EQ(readInteger(QVariant(QStringLiteral("-3"))), -3);
    EXPECT_EQ(readInteger(QVariant(QStringLiteral("4.0"))), 4);
    EXPECT_EQ(readInteger(QVariant(5.0)), 5);
    for (const char* bad : {"2.5", "abc", "", "1e30", "true", "inf"})
        EXPECT_FALSE(readInteger(QVariant(QString::fromLatin1(bad)))) << bad;
    EXPECT_FALSE(readInteger(QVariant(2.5)));
    EXPECT_FALSE(readInteger(QVariant(false)));
}

TEST(StrictReads, BoolAcceptsOnlyTrueAndFalse) {
    EXPECT_EQ(readBool(QVariant(QStringLiteral("true"))), true);
    EXPECT_EQ(readBool(QVariant(QStringLiteral("false"))), false);
    EXPECT_EQ(readBool(QVariant(true)), true);
    for (const char* bad : {"1", "0", "yes", "TRUE", "", "abc"})
        EXPECT_FALSE(readBool(QVariant(QString::fromLatin1(bad)))) << bad;
    EXPECT_FALSE(readBool(QVariant(1)));
}
