// SettingsStore on the user's native store (a private XDG_CONFIG_HOME) and on an INI file.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/settings_store.h"

namespace mistvale {

namespace {

// A store of its own per test, so that no test sees another's values.
void OpenPrivate(SettingsStore& store, const char* application) {
    store.Open(SettingsForm::Registry, SettingsRoot::CurrentUser,
               QStringLiteral("Software\\VantorelTest\\") + QString::fromLatin1(application));
}

} // namespace

TEST(SettingsStore, ProgramStoreLivesInTheUsersConfigFolder) {
    SettingsStore store;
    EXPECT_EQ(store.Open(SettingsForm::Registry), 1);
    QString expected =
        QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/Vantorel/Mistvale.conf");
    EXPECT_EQ(store.Location(), expected);
}

TEST(SettingsStore, MissingValuesGiveTheDefaults) {
    SettingsStore store;
    OpenPrivate(store, "Missing");
    EXPECT_EQ(store.GetNumber(kSettingRefreshTime, kDefaultRefreshTime), 2u);
    EXPECT_EQ(store.GetNumber(kSettingFlags, kDefaultFlags), 1u);
    QString text = QStringLiteral("junk");
    EXPECT_EQ(store.GetString(kSettingMain, text, QStringLiteral("fallback")), 0);
    EXPECT_EQ(text, QStringLiteral("fallback"));
    QByteArray bytes("junk");
    EXPECT_EQ(store.GetBinary(kSettingTree, bytes), 0);
    EXPECT_TRUE(bytes.isEmpty());
}

TEST(SettingsStore, NumbersStringsAndBytesRoundTripInSections) {
    SettingsStore store;
    OpenPrivate(store, "RoundTrip");
    EXPECT_EQ(store.SetNumber(kSettingRefreshTime, 10), 1);
    EXPECT_EQ(store.SetNumber(kSettingLastCheck, 0xFFFFFFFFFFFFFFFFull), 1);
    EXPECT_EQ(store.SetNumber(kSettingFlags, 7, "Other"), 1);
    EXPECT_EQ(store.SetString(kSettingLastCheckVersion, WideString(u"1.2 \u00e4%1,x")), 1);
    QByteArray bytes("\x00\x01\xff\x7f", 4);
    EXPECT_EQ(store.SetBinary(kSettingTree, bytes), 1);

    SettingsStore again;
    OpenPrivate(again, "RoundTrip");
    EXPECT_EQ(again.GetNumber(kSettingRefreshTime, 2), 10u);
    EXPECT_EQ(again.GetNumber(kSettingLastCheck, 0), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(again.GetNumber(kSettingFlags, 1), 1u);
    EXPECT_EQ(again.GetNumber(kSettingFlags, 1, "Other"), 7u);
    WideString version;
    EXPECT_EQ(again.GetString(kSettingLastCheckVersion, version), 1);
    EXPECT_TRUE(version == WideString(u"1.2 \u00e4%1,x"));
    QByteArray read;
    EXPECT_EQ(again.GetBinary(kSettingTree, read), 1);
    EXPECT_EQ(read, bytes);
}

TEST(SettingsStore, ValuesOfTheWrongTypeAreIgnored) {
    SettingsStore store;
    OpenPrivate(store, "WrongType");
    store.SetBinary(kSettingRefreshTime, QByteArray("\x05\x00\x00\x00", 4));
    store.SetString(kSettingFlags, QStringLiteral("abc"));
    store.SetString(kSettingLastCheck, QStringLiteral("-5"));
    store.SetString("Big", QStringLiteral("18446744073709551616"));
    store.SetBinary(kSettingMain, QByteArray("1,2,3,4,5"));
    store.SetString(kSettingTree, QStringLiteral("sixteen bytes..."));
    EXPECT_EQ(store.GetNumber(kSettingRefreshTime, 2), 2u);
    EXPECT_EQ(store.GetNumber(kSettingFlags, 1), 1u);
    EXPECT_EQ(store.GetNumber(kSettingLastCheck, 0), 0u);
    EXPECT_EQ(store.GetNumber("Big", 3), 3u);
    QString text;
    EXPECT_EQ(store.GetString(kSettingMain, text, QStringLiteral("default")), 0);
    EXPECT_EQ(text, QStringLiteral("default"));
    QByteArray bytes;
    EXPECT_EQ(store.GetBinary(kSettingTree, bytes), 0);
}

TEST(SettingsStore, NumberWrittenAsTextByAnotherToolIsRead) {
    // Another program (or the user) wrote the file by hand.
    SettingsStore store;
    OpenPrivate(store, "ByHand");
    QString path = store.Location();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nRefreshTime=5\nFlags=3\nMain=1,10,20,810,620\n");
    file.close();
    EXPECT_EQ(store.GetNumber(kSettingRefreshTime, 2), 5u);
    EXPECT_EQ(store.GetNumber(kSettingFlags, 1), 3u);
    QString main;
    EXPECT_EQ(store.GetString(kSettingMain, main), 1);
    EXPECT_EQ(main, QStringLiteral("1,10,20,810,620"));
    // Written back, it stays a plain number.
    EXPECT_EQ(store.SetNumber(kSettingRefreshTime, 5), 1);
    EXPECT_EQ(QSettings(path, QSettings::NativeFormat).value(QStringLiteral("RefreshTime")).toString(),
              QStringLiteral("5"));
}

TEST(SettingsStore, FileFormUsesItsSectionAndLeadingDigits) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QString path = folder.filePath(QStringLiteral("update.ini"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nLastCheck=1700000000 seconds\nFlags=x1\n[Update]\nLastCheck=42\n");
    }
    SettingsStore store;
    store.Open(SettingsForm::File, SettingsRoot::CurrentUser, QString(), path);
    EXPECT_EQ(store.Location(), path);
    EXPECT_EQ(store.GetNumber(kSettingLastCheck, 0), 1700000000u);
    EXPECT_EQ(store.GetNumber(kSettingFlags, 9), 9u);
    EXPECT_EQ(store.GetNumber(kSettingLastCheck, 0, "Update"), 42u);
    EXPECT_EQ(store.SetNumber(kSettingRefreshTime, 12345678901234ull), 1);
    EXPECT_EQ(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Settings/RefreshTime")).toString(),
              QStringLiteral("12345678901234"));
}

TEST(SettingsStore, ClosedStoreGivesDefaultsAndWritesNothing) {
    SettingsStore store;
    OpenPrivate(store, "Closed");
    store.Close();
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.SetNumber(kSettingFlags, 4), 0);
    EXPECT_EQ(store.GetNumber(kSettingFlags, 1), 1u);
    OpenPrivate(store, "Closed");
    EXPECT_EQ(store.GetNumber(kSettingFlags, 1), 1u);
}

} // namespace mistvale
