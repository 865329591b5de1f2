#include "PreferencesStore.h"
#include "IniDocument.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

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

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

struct stat statOf(const QString& path, bool followLink) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return st;
}

} // namespace

TEST(IniDocument, WritesOnlyTheLinesOfTheKeysItSets) {
    const QByteArray before(";; kept as written\n"
                            "[General]\n"
                            "maxPatchSize=64\n"
                            "a%20b = \"x;y\" ; a comment\n"
                            "junk line without equals \x01\xff\n"
                            "odd=@ByteArray(\\0\\xff)\n"
                            "long=one\\\n"
                            "  two\n"
                            "maxPatchSize = 32\n"
                            "\n"
                            "[Window]\n"
                            "theirs=1, 2\n");
    IniDocument document(before);
    document.setValue(QStringLiteral("maxPatchSize"), 128.0); // both duplicates
    document.setValue(QStringLiteral("isColorMode"), true);
    document.setValue(QStringLiteral("Window/mainWindowGeometry"), QStringLiteral("AdnQywAD"));
    document.setValue(QStringLiteral("Panel/open"), true);
    EXPECT_EQ(document.text(),
              QByteArray(before)
                  .replace("maxPatchSize=64\n", "maxPatchSize=128\n")
                  .replace("maxPatchSize = 32\n", "maxPatchSize = 128\nisColorMode=true\n")
                  .append("mainWindowGeometry=AdnQywAD\n\n[Panel]\nopen=true\n"));
    // Read as QSettings reads them.
    QTemporaryDir dir;
    writeFile(dir.filePath("a.conf"), document.text());
    QSettings settings(dir.filePath("a.conf"), QSettings::IniFormat);
    const QHash<QString, QVariant> values = document.values();
    for (const char* key : {"a b", "long", "Window/theirs", "maxPatchSize", "isColorMode"})
        EXPECT_EQ(values.value(key), settings.value(key)) << key;

    // An added key goes after the whole last line of its group, comment and
    // all; a byte order mark is skipped, as QSettings skips it.
    const std::pair<QByteArray, QByteArray> added[] = {
        {"[General]\nzzC=1 ; note\n[Window]\nx=1\n",
         "[General]\nzzC=1 ; note\nrenderingMode=Metal\n[Window]\nx=1\n"},
        {"zzC=1 ; note", "zzC=1 ; note\nrenderingMode=Metal"},
        {"\xef\xbb\xbf[Window]\nx=1\n",
         "\xef\xbb\xbf[General]\nrenderingMode=Metal\n\n[Window]\nx=1\n"}};
    for (const auto& [before, after] : added) {
        IniDocument edited(before);
        edited.setValue("renderingMode", QStringLiteral("Metal"));
        EXPECT_EQ(edited.text(), after) << before.constData();
    }
}

TEST(IniDocument, ReadsAndWritesValuesAsQSettingsDoes) {
    const QList<QVariant> written = {
        true,
        false,
        0.1 + 0.2,
        1e308,
        5e-324,
        qint64(-9223372036854775807LL - 1),
        QStringLiteral("Metal"),
        QStringLiteral("a,b"),
        QStringLiteral(" padded "),
        QStringLiteral("quote\" back\\slash"),
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("a.conf");
    IniDocument document;
    for (int i = 0; i < written.size(); ++i)
        document.setValue(QStringLiteral("G/k%1").arg(i), written[i]);
    writeFile(path, document.text());
    const QHash<QString, QVariant> ours = IniDocument(contents(path)).values();
    QSettings theirs(path, QSettings::IniFormat);
    for (int i = 0; i < written.size(); ++i) {
        const QString key = QStringLiteral("G/k%1").arg(i);
        SCOPED_TRACE(key.toStdString());
        EXPECT_EQ(ours.value(key).toString(), written[i].toString());
        EXPECT_EQ(theirs.value(key).toString(), written[i].toString());
    }

    // And what QSettings writes reads back the same here.
    const QString theirPath = dir.filePath("b.conf");
    {
        QSettings writer(theirPath, QSettings::IniFormat);
        for (int i = 0; i < written.size(); ++i)
            writer.setValue(QStringLiteral("k%1").arg(i), written[i]);
    }
    const QHash<QString, QVariant> read = IniDocument(contents(theirPath)).values();
    for (int i = 0; i < written.size(); ++i)
        EXPECT_EQ(read.value(QStringLiteral("k%1").arg(i)).toString(), written[i].toString()) << i;
}

TEST(FilePreferencesStore, WritesLaterOnlyWhatTheFileDoesNotHoldAndKeepsItThroughAFailedWrite) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Lumenweave/Lumenweave.conf");
    {
        FilePreferencesStore store(path);
        store.setDouble("maxPatchSize", 64);
        store.setObject("Window/mainWindowGeometry", "AdnQywAD");
        EXPECT_FALSE(QFile::exists(path)) << "not at once";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !store.hasPendingChanges(); }, 5000));
        EXPECT_EQ(contents(path),
                  "[General]\nmaxPatchSize=64\n\n[Window]\nmainWindowGeometry=AdnQywAD\n");
        store.setBool("isColorMode", true);
    } // the rest is written on the way out
    EXPECT_TRUE(contents(path).contains("isColorMode=true"));

    const ino_t inode = statOf(path, false).st_ino;
    FilePreferencesStore again(path);
    EXPECT_EQ(again.objectForKey("Window/mainWindowGeometry"), QVariant("AdnQywAD"));
    again.setDouble("maxPatchSize", 64.0);
    again.setBool("isColorMode", true);
    EXPECT_FALSE(again.hasPendingChanges());
    // A value set and set back before the write leaves nothing to write either.
    again.setDouble("maxPatchSize", 192);
    again.setDouble("maxPatchSize", 64);
    again.flush();
    EXPECT_EQ(statOf(path, false).st_ino, inode) << "not rewritten";
    // Another program wrote the value meanwhile, and a line of its own: the
    // text would not change.
    writeFile(path, contents(path).replace("maxPatchSize=64", "maxPatchSize=128") +
                        "other=" + QByteArray(200, 'x') + '\n');
    again.setDouble("maxPatchSize", 128);
    ASSERT_TRUE(again.hasPendingChanges());
    again.flush();
    EXPECT_EQ(statOf(path, false).st_ino, inode) << "an unchanged text is not rewritten";

    // Room for less than the new file, as on a full disk: the file stays, and
    // the write is tried again.
    const QByteArray before = contents(path);
    again.setBool("isColorMode", false);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    const rlimit small{100, oldLimit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    again.flush();
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(contents(path), before);
    EXPECT_EQ(QDir(dir.path() + "/Lumenweave").entryList(QDir::Files | QDir::Hidden),
              QStringList{"Lumenweave.conf"});
    EXPECT_TRUE(again.hasPendingChanges());
    again.flush();
    EXPECT_EQ(contents(path), QByteArray(before).replace("isColorMode=true", "isColorMode=false"));
}

TEST(FilePreferencesStore, WritesThroughSymlinksOnlyToRegularFiles) {
    QTemporaryDir dir;
    const QString target = dir.filePath("dotfiles/lumenweave.conf");
    ASSERT_TRUE(QDir(dir.path()).mkpath("dotfiles"));
    writeFile(target, "[General]\nfromDotfiles=1\n");
    ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    const QString link = dir.filePath("regular.conf");
    ASSERT_TRUE(QFile::link(target, link));
    {
        FilePreferencesStore store(link);
        store.setBool("isColorMode", true);
    }
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(target), "[General]\nfromDotfiles=1\nisColorMode=true\n");
    EXPECT_EQ(QFile::permissions(target),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    // Anything else is neither read nor written; the values live in memory.
    QList<QString> paths;
    const auto add = [&](const char* name) { return paths << dir.filePath(name), paths.last(); };
    ASSERT_EQ(::mkfifo(QFile::encodeName(add("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(add("directory")));
    ASSERT_TRUE(QFile::link(dir.filePath("fifo"), add("fifo-link")));
    ASSERT_TRUE(QFile::link(dir.filePath("directory"), add("directory-link")));
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), add("dangling-link")));
    // A link to a device node: PresenterOnScreen.TheFrameLog… links the real
    // program's settings to one.
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        const struct stat link = statOf(path, false), target = statOf(path, true);
        {
            FilePreferencesStore store(path);
            store.setDouble("maxPatchSize", 192);
            store.flush();
            EXPECT_EQ(store.objectForKey("maxPatchSize"), QVariant(192.0));
        }
        EXPECT_EQ(statOf(path, false).st_ino, link.st_ino);
        EXPECT_EQ(statOf(path, false).st_mode, link.st_mode);
        EXPECT_EQ(statOf(path, true).st_ino, target.st_ino);
        EXPECT_EQ(statOf(path, true).st_mode, target.st_mode);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("nowhere")));
}

TEST(FilePreferencesStore, TwoInstancesWritingAtOnceKeepBothKeys) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Lumenweave.conf");
    // A large file, so that each read-merge-write takes long enough to overlap.
    QByteArray text = "[General]\n";
    for (int i = 0; i < 20000; ++i)
        text += "foreign" + QByteArray::number(i) + "=" + QByteArray(20, 'x') + '\n';
    writeFile(path, text);
    QStringList keys;
    for (int round = 0; round < 2; ++round) {
        // Both write at one moment, once both have started and read the file.
        const QByteArray at = QByteArray::number(QDateTime::currentMSecsSinceEpoch() + 800);
        QProcess instances[2];
        for (QProcess& instance : instances) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            keys << QStringLiteral("key%1").arg(keys.size());
            env.insert("LW_SETTINGS", path);
            env.insert("LW_KEY", keys.last());
            env.insert("LW_AT", QString::fromLatin1(at));
            instance.setProcessEnvironment(env);
            instance.start(QCoreApplication::applicationFilePath(),
                           {"--gtest_also_run_disabled_tests",
                            "--gtest_filter=ProcessHelper.DISABLED_WritesOneKeyAtAMoment"});
        }
        for (QProcess& instance : instances)
            ASSERT_TRUE(instance.waitForFinished(60000) && instance.exitCode() == 0);
    }
    const QHash<QString, QVariant> values = IniDocument(contents(path)).values();
    EXPECT_EQ(values.size(), 20000 + keys.size());
    for (const QString& key : keys)
        EXPECT_EQ(values.value(key).toString(), "true") << key.toStdString();
}

TEST(FilePreferencesStore, ConfigHomeFollowsTheXdgRules) {
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME"), home = qgetenv("HOME");
    const QString fromUserDatabase =
        QDir::cleanPath(QFile::decodeName(::getpwuid(::getuid())->pw_dir) + "/.config");
    // A relative XDG_CONFIG_HOME is ignored; without a usable HOME the user database says.
    for (const auto& [x, h, expected] : {std::tuple{"/xdg/here/", "/home/a", QString("/xdg/here")},
                                         {"relative", "/home/a", QString("/home/a/.config")},
                                         {"", "", fromUserDatabase},
                                         {"", "relative", fromUserDatabase}}) {
        qputenv("XDG_CONFIG_HOME", x);
        qputenv("HOME", h);
        EXPECT_EQ(FilePreferencesStore::configHome(), expected) << x << ' ' << h;
    }
    qputenv("XDG_CONFIG_HOME", xdg);
    qputenv("HOME", home);
}

// --- run only in a process of its own ---

TEST(ProcessHelper, DISABLED_WritesOneKeyAtAMoment) {
    FilePreferencesStore store(qEnvironmentVariable("LW_SETTINGS"));
    store.setBool(qEnvironmentVariable("LW_KEY"), true);
    const qint64 at = qEnvironmentVariable("LW_AT").toLongLong();
    while (QDateTime::currentMSecsSinceEpoch() < at)
        QThread::msleep(1);
    // A write held up past one flush's bounded wait (a loaded machine, the
    // other instance holding the lock) is tried again by the next flush.
    for (int tries = 0; tries < 12 && store.hasPendingChanges(); ++tries)
        store.flush();
    EXPECT_FALSE(store.hasPendingChanges());
}
