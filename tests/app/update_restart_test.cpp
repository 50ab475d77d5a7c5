// The whole update path in the real main window: an offered update is downloaded from a local service
// made by scripts/publish-update.sh, verified, installed over a copy of the program, and the new
// program starts only after the old one has saved its tree, so it shows the change made just before.
#include "app/main_window.h"
#include "app/settings_store.h"
#include "model/group.h"
#include "tests/support/blackhole_listener.h"
#include "tests/support/local_http_server.h"
#include "tests/support/shell_output.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mistvale {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool Alive(long long pid) {
    return pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0;
}

} // namespace

TEST(UpdateRestart, NewProgramStartsAfterTheOldOneSavedAndShowsItsTree) {
    std::string pattern = (fs::temp_directory_path() / "mistvale-restart-XXXXXX").string();
    const fs::path root = mkdtemp(pattern.data());
    const fs::path program = root / "program";
    const fs::path site = root / "site";
    fs::create_directories(program);
    fs::copy_file(MISTVALE_BINARY, program / "mistvale");
    const std::string key = (root / "maker.pem").string();
    ASSERT_EQ(Shell("openssl genpkey -algorithm ed25519 -out '" + key + "' 2>&1"), "");
    std::string publicKey =
        Shell(std::string("bash ") + MISTVALE_PUBLISH_SCRIPT + " --public-key '" + key + "'");
    publicKey.erase(publicKey.find_last_not_of('\n') + 1);
    // The new version: a program that first notes the tree as it finds it at its start, then runs the
    // real one in its place.
    fs::create_directories(root / "new");
    {
        std::ofstream script(root / "new" / "mistvale");
        script << "#!/bin/sh\n"
               << "stat -c %i \"$XDG_DATA_HOME/Mistvale.xml\" \"$XDG_CONFIG_HOME/Vantorel/Mistvale.conf\" > "
               << "\"$(dirname \"$0\")/inodes-at-start\"\n"
               << "cp \"$XDG_DATA_HOME/Mistvale.xml\" \"$(dirname \"$0\")/tree-at-start.xml\"\n"
               << "exec '" << MISTVALE_BINARY << "' \"$@\"\n";
    }
    LocalHttpServer server(site.string());
    ASSERT_TRUE(server.Start());
    const std::string published = Shell(
        std::string("bash ") + MISTVALE_PUBLISH_SCRIPT + " --key '" + key + "' --version 1.10 --base-url " +
        server.BaseUrl() + " --out '" + site.string() + "' --caption Mistvale --info en 'Update?' " +
        "--restart en 'Restart?' --file '" + (root / "new" / "mistvale").string() + "' 2>&1");
    ASSERT_EQ(published.rfind("published", 0), 0u) << published;

    BlackholeListener silentHost;
    ASSERT_TRUE(silentHost.Open());
    // The tree lives where a started program looks for it (the test's private data folder).
    const QString treePath = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             QStringLiteral("/Mistvale.xml");
    QFile::remove(treePath);
    {
        QFile file(treePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Devices that never answer keep the worker busy, so the old program's shutdown takes a while
        // after the window closes: a new program started too early would find the old files.
        QByteArray xml = "<Mistvale><Groups><Group Name=\"Before\" Parameter=\"Clock\"/>";
        for (int i = 0; i < 3; ++i)
            xml += "<Group Name=\"Silent\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
                   QByteArray::number(silentHost.Port()) +
                   "\"><Sources><Source Name=\"R\" Parameter=\"0\"/></Sources></Group>";
        file.write(xml + "</Groups></Mistvale>");
    }
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1); // for the started program, built like this test

    MainWindow window;
    window.SetConfigPath(treePath.toStdString());
    UpdateCheckSetup setup;
    setup.service = server.BaseUrl() + "/common/update.php?p=mistvale";
    setup.programPath = (program / "mistvale").string();
    setup.tempFolder = root.string();
    setup.publicKey = publicKey;
    setup.running.major = 1;
    setup.running.minor = 9;
    setup.language = WideString(u"en");
    setup.machineId = WideString(u"0000-0000-0000-0000");
    window.SetUpdateSetup(setup);

    int questions = 0;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (++questions == 1) {
            // A change made while the update is offered, just before the program ends.
            auto* group = new Group();
            group->SetNameAndParameter(WideString(u"AddedBeforeRestart"), WideString(u"Clock"));
            window.Tree().AddGroup(group);
        }
        box->button(QMessageBox::Yes)->click();
    });
    answer.start();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the update did not close the window within 30 s";
        window.PostDialogMessage(kMsgClose);
    });
    watchdog.start(30000);
    window.RunMain();
    answer.stop();
    EXPECT_EQ(questions, 2);
    EXPECT_EQ(window.Updates().Outcome(), "restarting");
    EXPECT_EQ(ReadFile(program / "mistvale"), ReadFile(root / "new" / "mistvale"));
    EXPECT_TRUE(fs::exists(program / "mistvale_old"));
    struct stat info;
    ASSERT_EQ(stat((program / "mistvale").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR) << "the installed program must stay executable";

    // The new program runs, from the program's folder.
    const long long pid = window.Updates().LaunchedProcess();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Alive(pid); }, 5000));
    // Every save replaces the file, so the file the new program found at its start must be the one the
    // old program wrote last (the new one writes only when it ends, below).
    struct stat oldTree, oldSettings;
    ASSERT_EQ(stat(treePath.toLocal8Bit().constData(), &oldTree), 0);
    SettingsStore store;
    store.Open(SettingsForm::Registry);
    ASSERT_EQ(stat(store.Location().toLocal8Bit().constData(), &oldSettings), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(program / "tree-at-start.xml"); }, 5000));
    EXPECT_EQ(ReadFile(program / "inodes-at-start"),
              std::to_string(oldTree.st_ino) + "\n" + std::to_string(oldSettings.st_ino) + "\n")
        << "the new program started before the old one had saved its tree and settings";
    EXPECT_NE(ReadFile(program / "tree-at-start.xml").find("AddedBeforeRestart"), std::string::npos)
        << "the new program started before the old one had saved its tree";
    char cwd[4096] = {};
    const ssize_t cwdLength =
        readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
    ASSERT_GT(cwdLength, 0);
    EXPECT_EQ(fs::path(std::string(cwd, static_cast<size_t>(cwdLength))), fs::canonical(program));
    // Let it load, then end it the normal way: it writes the tree it has.
    struct stat before;
    ASSERT_EQ(stat(treePath.toLocal8Bit().constData(), &before), 0);
    QTest::qWait(1500);
    ASSERT_TRUE(Alive(pid)) << "the new program ended by itself";
    kill(static_cast<pid_t>(pid), SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Alive(pid); }, 15000));
    struct stat after;
    ASSERT_EQ(stat(treePath.toLocal8Bit().constData(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "the new program did not write its tree";
    QFile saved(treePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray tree = saved.readAll();
    EXPECT_TRUE(tree.contains("AddedBeforeRestart")) << tree.constData();
    EXPECT_TRUE(tree.contains("Before"));
    std::error_code error;
    fs::remove_all(root, error);
}

} // namespace mistvale
