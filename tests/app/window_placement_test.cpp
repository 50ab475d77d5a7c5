// The "Main" placement and the "Tree" layout through the settings, on real offscreen windows.
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "app/window_placement.h"

namespace mistvale {

namespace {

void OpenPrivate(SettingsStore& store, const char* application) {
    store.Open(SettingsForm::Registry, SettingsRoot::CurrentUser,
               QStringLiteral("Software\\VantorelTest\\") + QString::fromLatin1(application));
}

} // namespace

TEST(WindowPlacement, TextFormatAndParsing) {
    WindowPlacement placement{3, -10, 20, 810, 620};
    EXPECT_EQ(FormatPlacement(placement), QStringLiteral("3,-10,20,810,620"));
    WindowPlacement parsed;
    ASSERT_EQ(ParsePlacement(QStringLiteral("3,-10,20,810,620"), &parsed), 1);
    EXPECT_EQ(parsed.showState, 3);
    EXPECT_EQ(parsed.Rect(), QRect(-10, 20, 820, 600));
    EXPECT_EQ(ParsePlacement(QStringLiteral("1,2,3,4,5 and more"), &parsed), 1);
    EXPECT_EQ(ParsePlacement(QStringLiteral("1,2,3,4"), &parsed), 0);
    EXPECT_EQ(ParsePlacement(QStringLiteral("window"), &parsed), 0);
    EXPECT_EQ(ParsePlacement(QString(), &parsed), 0);
    EXPECT_EQ(parsed.bottom, 5);
}

TEST(WindowPlacement, NormalWindowRoundTrips) {
    SettingsStore store;
    OpenPrivate(store, "PlacementNormal");
    QWidget saved;
    saved.setGeometry(60, 70, 400, 300);
    saved.show();
    ASSERT_EQ(SaveWindowPlacement(store, &saved), 1);
    QString text;
    store.GetString(kSettingMain, text);
    EXPECT_EQ(text, QStringLiteral("1,60,70,460,370"));

    QWidget restored;
    restored.resize(100, 100);
    ASSERT_EQ(RestoreWindowPlacement(store, &restored), 1);
    restored.show();
    EXPECT_EQ(restored.geometry(), QRect(60, 70, 400, 300));
    EXPECT_FALSE(restored.isMaximized());
    EXPECT_FALSE(restored.isMinimized());
}

TEST(WindowPlacement, MinimisedComesBackNormalAndMaximisedKeepsItsNormalRectangle) {
    SettingsStore store;
    OpenPrivate(store, "PlacementStates");
    store.SetString(kSettingMain, QStringLiteral("2,30,40,330,240"));
    QWidget fromMinimised;
    ASSERT_EQ(RestoreWindowPlacement(store, &fromMinimised), 1);
    fromMinimised.show();
    EXPECT_FALSE(fromMinimised.isMinimized());
    EXPECT_EQ(fromMinimised.geometry(), QRect(30, 40, 300, 200));

    // A hidden window is stored with show state 0 and also comes back normal.
    QWidget hidden;
    hidden.setGeometry(50, 50, 200, 150);
    SaveWindowPlacement(store, &hidden);
    QString text;
    store.GetString(kSettingMain, text);
    EXPECT_TRUE(text.startsWith(QStringLiteral("0,")));

    QWidget maximised;
    maximised.setGeometry(30, 40, 300, 200);
    maximised.showMaximized();
    ASSERT_TRUE(maximised.isMaximized());
    SaveWindowPlacement(store, &maximised);
    store.GetString(kSettingMain, text);
    EXPECT_EQ(text, QStringLiteral("3,30,40,330,240"));

    QWidget restored;
    ASSERT_EQ(RestoreWindowPlacement(store, &restored), 1);
    restored.show();
    EXPECT_TRUE(restored.isMaximized());
    EXPECT_EQ(restored.normalGeometry(), QRect(30, 40, 300, 200));
    restored.showNormal();
    EXPECT_EQ(restored.geometry(), QRect(30, 40, 300, 200));
}

TEST(WindowPlacement, RectangleOnNoScreenMovesInsideTheNearestWorkArea) {
    SettingsStore store;
    OpenPrivate(store, "PlacementOffScreen");
    QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // Far right of every screen, as after a second monitor was removed.
    int left = area.right() + 5000;
    store.SetString(kSettingMain,
                    QStringLiteral("1,%1,%2,%3,%4").arg(left).arg(100).arg(left + 320).arg(340));
    QWidget window;
    ASSERT_EQ(RestoreWindowPlacement(store, &window), 1);
    EXPECT_EQ(window.geometry(), QRect(area.left() + 10, area.top() + 10, 320, 240));
}

TEST(WindowPlacement, UnparsableOrWrongTypeMainLeavesTheWindowAlone) {
    SettingsStore store;
    OpenPrivate(store, "PlacementBad");
    QWidget window;
    window.setGeometry(11, 12, 130, 140);
    EXPECT_EQ(RestoreWindowPlacement(store, &window), 0); // missing
    store.SetString(kSettingMain, QStringLiteral("1,2,3"));
    EXPECT_EQ(RestoreWindowPlacement(store, &window), 0);
    store.SetBinary(kSettingMain, QByteArray("1,100,100,500,400"));
    EXPECT_EQ(RestoreWindowPlacement(store, &window), 0);
    EXPECT_EQ(window.geometry(), QRect(11, 12, 130, 140));
}

TEST(WindowPlacement, ColumnLayoutOnlyOfTheRightLength) {
    SettingsStore store;
    OpenPrivate(store, "Columns");
    QByteArray sixteen(16, '\x01');
    sixteen[0] = '\x00';
    EXPECT_EQ(SaveColumnLayout(store, sixteen), 1);
    QByteArray out;
    EXPECT_EQ(LoadColumnLayout(store, 2, out), 1);
    EXPECT_EQ(out, sixteen);
    EXPECT_EQ(LoadColumnLayout(store, 3, out), 0);
    EXPECT_TRUE(out.isEmpty());

    // Twelve bytes (a layout of a different header) are ignored for two columns.
    store.SetBinary(kSettingTree, QByteArray(12, '\x02'));
    EXPECT_EQ(LoadColumnLayout(store, 2, out), 0);
    // A text where the bytes belong is ignored as well.
    store.SetString(kSettingTree, QStringLiteral("0123456789abcdef"));
    EXPECT_EQ(LoadColumnLayout(store, 2, out), 0);
    EXPECT_EQ(SaveColumnLayout(store, QByteArray()), 0);
}

} // namespace mistvale
