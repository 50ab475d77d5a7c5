// The test program's main: an offscreen QApplication and private XDG folders, so that no test reads
// or writes the settings or the configuration of the person running them.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs the program outside ctest's environment too.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/mistvale-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    QDir(home.path()).mkpath(QStringLiteral("config"));
    QDir(home.path()).mkpath(QStringLiteral("data"));
    setenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral("config")).toLocal8Bit().constData(),
           1);
    setenv("XDG_DATA_HOME", QDir(home.path()).filePath(QStringLiteral("data")).toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
