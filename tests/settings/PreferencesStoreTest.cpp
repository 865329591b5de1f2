#include "PreferencesStore.h"

#include <gtest/gtest.h>

TEST(StrictReads, AcceptOnlyCompleteWellFormedValues) {
    const std::pair<QVariant, double> doubles[] = {
        {"0.25", 0.25}, {"-1e308", -1e308}, {qint64(7), 7.0}, {2.5, 2.5}};
    for (const auto& [raw, value] : doubles)
        EXPECT_EQ(readDouble(raw), value) << raw.toString().toStdString();
    for (const char* bad : {"abc", "", "1.5x", "1,5", "true", "nan", "inf", "-inf", "1e400"})
        EXPECT_FALSE(readDouble(QVariant(bad))) << bad;
    for (const QVariant& bad : {QVariant(QString(400, QLatin1Char('9'))), QVariant(true),
                                QVariant(QStringList{"1", "2"}), QVariant()})
        EXPECT_FALSE(readDouble(bad)) << bad.typeName();

    const std::pair<QVariant, qint64> integers[] = {{"9", 9}, {"-3", -3}, {"4.0", 4}, {5.0, 5}};
    for (const auto& [raw, value] : integers)
        EXPECT_EQ(readInteger(raw), value) << raw.toString().toStdString();
    for (const QVariant& bad : {QVariant("2.5"), QVariant("abc"), QVariant(""), QVariant("1e30"),
                                QVariant("true"), QVariant("inf"), QVariant(2.5), QVariant(false)})
        EXPECT_FALSE(readInteger(bad)) << bad.toString().toStdString();

    EXPECT_EQ(readBool(QVariant("true")), true);
    EXPECT_EQ(readBool(QVariant("false")), false);
    EXPECT_EQ(readBool(QVariant(true)), true);
    for (const QVariant& bad : {QVariant("1"), QVariant("0"), QVariant("yes"), QVariant("TRUE"),
                                QVariant(""), QVariant(1)})
        EXPECT_FALSE(readBool(bad)) << bad.toString().toStdString();
}
