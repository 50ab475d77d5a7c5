#include "update/update_checker.h"

#include "local_http_server.h"
#include "tests/support/shell_output.h"
#include "zip_maker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The stored settings, as the program's settings store would keep them.
struct MemorySettings {
    std::map<std::string, std::uint64_t> numbers;
    std::map<std::string, WideString> texts;
    UpdateSettingsAccess Access() {
        UpdateSettingsAccess access;
        access.context = this;
        access.getNumber = [](const char* name, std::uint64_t fallback, void* context) {
            auto& numbers = static_cast<MemorySettings*>(context)->numbers;
            return numbers.count(name) ? numbers[name] : fallback;
        };
        access.setNumber = [](const char* name, std::uint64_t value, void* context) {
            // One value a name, as in the settings file: a number written replaces a text.
            static_cast<MemorySettings*>(context)->numbers[name] = value;
            static_cast<MemorySettings*>(context)->texts.erase(name);
            return 1;
        };
        access.getString = [](const char* name, WideString& value, void* context) {
            auto& texts = static_cast<MemorySettings*>(context)->texts;
            if (!texts.count(name))
                return 0;
            value = texts[name];
            return 1;
        };
        access.setString = [](const char* name, const WideString& value, void* context) {
            static_cast<MemorySettings*>(context)->texts[name] = value;
            return 1;
        };
        return access;
    }
};

// Answers the question boxes as they appear: "yes", "no" or "help" (Help, after which the same box
// must still be there).
class Answerer {
public:
    explicit Answerer(std::vector<std::string> answers) : answers_(std::move(answers)) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    std::vector<std::string> texts;
    std::vector<QString> captions;
    std::vector<bool> hadHelp;

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || next_ >= answers_.size())
            return;
        texts.push_back(box->text().toStdString());
        captions.push_back(box->windowTitle());
        hadHelp.push_back(box->button(QMessageBox::Help) != nullptr);
        const std::string answer = answers_[next_++];
        QMessageBox::StandardButton which = answer == "yes"  ? QMessageBox::Yes
                                            : answer == "no" ? QMessageBox::No
                                            : answer == "ok" ? QMessageBox::Ok
                                                             : QMessageBox::Help;
        if (QAbstractButton* button = box->button(which))
            button->click();
    }
    std::vector<std::string> answers_;
    size_t next_ = 0;
    QTimer timer_;
};

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "mistvale-checker-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        program_ = root_ / "program";
        site_ = root_ / "site";
        build_ = root_ / "build";
        fs::create_directories(program_);
        fs::create_directories(build_);
        fs::create_directories(root_ / "tmp");
        WriteFile(program_ / "mistvale", "old program");
        WriteFile(build_ / "mistvale", "new program");
        key_ = (root_ / "maker.pem").string();
        ASSERT_EQ(Shell("openssl genpkey -algorithm ed25519 -out " + Quoted(key_) + " 2>&1"), "");
        publicKey_ = Shell(std::string("bash ") + MISTVALE_PUBLISH_SCRIPT + " --public-key " + Quoted(key_));
        while (!publicKey_.empty() && publicKey_.back() == '\n')
            publicKey_.pop_back();
        ASSERT_EQ(publicKey_.size(), 44u) << publicKey_;
        server_ = std::make_unique<LocalHttpServer>(site_.string());
        ASSERT_TRUE(server_->Start());
        window_.resize(300, 200);
        window_.show();
        settings_.numbers["LastCheck"] = static_cast<std::uint64_t>(std::time(nullptr)) - 8ULL * 86400;
    }
    void TearDown() override {
        checker_.Stop();
        server_.reset();
        std::error_code error;
        fs::permissions(program_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(root_, error);
    }

    // Publishes version `version` with the given extra arguments (entries and texts).
    void Publish(const std::string& version, const std::string& arguments) {
        const std::string output =
            Shell(std::string("bash ") + MISTVALE_PUBLISH_SCRIPT + " --key " + Quoted(key_) + " --version " +
                  version + " --base-url " + server_->BaseUrl() + " --out " + Quoted(site_.string()) +
                  " --caption Mistvale --info en 'Install the new version?' " + arguments + " 2>&1");
        ASSERT_EQ(output.rfind("published", 0), 0u) << output;
    }
    void EditManifest(const std::string& from, const std::string& to) {
        const fs::path manifest = site_ / "common/update.php";
        std::string text = ReadFile(manifest);
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        WriteFile(manifest, text);
        SignManifest(key_);
    }
    // Signs the manifest as it now is (the maker's key, or another).
    void SignManifest(const std::string& key) {
        const fs::path manifest = site_ / "common/update.php";
        ASSERT_EQ(Shell("openssl pkeyutl -sign -rawin -inkey " + Quoted(key) + " -in " +
                        Quoted(manifest.string()) + " | base64 -w0 > " + Quoted(manifest.string() + ".sig")),
                  "");
    }
    UpdateCheckSetup CheckSetup() {
        UpdateCheckSetup setup;
        setup.service = server_->BaseUrl() + "/common/update.php?p=mistvale";
        setup.programPath = (program_ / "mistvale").string();
        setup.tempFolder = (root_ / "tmp").string();
        setup.publicKey = publicKey_;
        setup.running.major = 1;
        setup.running.minor = 9;
        setup.language = WideString(u"en");
        setup.machineId = WideString(u"ABCD-0123-4567-89EF");
        return setup;
    }
    // Runs one check to its end with the given answers.
    bool Check(Answerer& answerer, const UpdateCheckSetup& setup) {
        (void)answerer;
        closed_ = 0;
        if (!checker_.Start(setup, &window_, settings_.Access(), "LastCheck", &OnClose, this))
            return false;
        const bool ended = QTest::qWaitFor([&] { return !checker_.IsRunning(); }, 20000);
        checker_.Stop();
        return ended;
    }
    bool Check(Answerer& answerer) { return Check(answerer, CheckSetup()); }
    static void OnClose(void* context) { ++static_cast<UpdateCheckerTest*>(context)->closed_; }
    std::vector<std::string> FileRequests() {
        std::vector<std::string> files;
        for (const std::string& request : server_->Requests())
            if (request.find("GET /files/") == 0)
                files.push_back(request.substr(0, request.find(' ', 4)));
        return files;
    }

    fs::path root_, program_, site_, build_;
    std::string key_, publicKey_;
    std::unique_ptr<LocalHttpServer> server_;
    QWidget window_;
    MemorySettings settings_;
    UpdateChecker checker_;
    std::atomic<int> closed_{0};
};

} // namespace

TEST_F(UpdateCheckerTest, LastCheckRulesDecideWhetherTheServiceIsAsked) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    const std::uint64_t now = static_cast<std::uint64_t>(std::time(nullptr));
    Answerer none({});
    // Checked a day ago: nothing is asked.
    settings_.numbers["LastCheck"] = now - 86400;
    EXPECT_FALSE(Check(none));
    // Minus one: cleared, nothing asked at this start; the next start checks.
    settings_.numbers["LastCheck"] = 0xFFFFFFFFFFFFFFFFull;
    EXPECT_FALSE(Check(none));
    EXPECT_EQ(settings_.numbers["LastCheck"], 0u);
    // The same written by hand into the settings file, where it is text.
    settings_.numbers.erase("LastCheck");
    settings_.texts["LastCheck"] = WideString(u" -1");
    EXPECT_FALSE(Check(none));
    EXPECT_EQ(checker_.Outcome(), "skipped once");
    EXPECT_EQ(settings_.numbers["LastCheck"], 0u);
    EXPECT_EQ(settings_.texts.count("LastCheck"), 0u);
    EXPECT_TRUE(server_->Requests().empty());
    // No service: no request, and the time stays.
    UpdateCheckSetup noService = CheckSetup();
    noService.service.clear();
    EXPECT_FALSE(Check(none, noService));
    EXPECT_EQ(settings_.numbers["LastCheck"], 0u);

    Answerer no({"no"});
    EXPECT_TRUE(Check(no));
    EXPECT_GE(settings_.numbers["LastCheck"], now);
    // The manifest, then its signature beside it.
    const std::vector<std::string> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].rfind("GET /common/update.php.sig?p=mistvale ", 0), 0u) << requests[1];
    EXPECT_EQ(
        requests[0].rfind("GET /common/update.php?p=mistvale&v=1.09&id=ABCD-0123-4567-89EF HTTP/1.1", 0), 0u)
        << requests[0];
    EXPECT_NE(requests[0].find("User-Agent: AutoUpdate"), std::string::npos);
    EXPECT_NE(requests[0].find("Accept: */*"), std::string::npos);
    EXPECT_NE(requests[0].find("Cache-Control: no-cache"), std::string::npos);
}

TEST_F(UpdateCheckerTest, AcceptedUpdateIsVerifiedSetAsideInstalledAndRestartAsked) {
    // Markup and quotes in a text reach the user as typed (the script escapes them for XML).
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()) +
                        " --restart en 'Restart <b>now</b> & \"then\"?'");
    Answerer yes({"yes", "yes"});
    ASSERT_TRUE(Check(yes));
    EXPECT_EQ(checker_.Outcome(), "restarting");
    EXPECT_EQ(yes.texts,
              (std::vector<std::string>{"Install the new version?", "Restart <b>now</b> & \"then\"?"}));
    EXPECT_EQ(yes.captions[0], QStringLiteral("Mistvale"));
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "new program");
    EXPECT_EQ(ReadFile(program_ / "mistvale_old"), "old program");
    EXPECT_FALSE(fs::exists(program_ / "mistvale_new"));
    EXPECT_EQ(closed_, 1);
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"GET /files/mistvale"}));
}

TEST_F(UpdateCheckerTest, WithoutRestartTextFilesAreReplacedButNothingRestarts) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    Answerer yes({"yes"});
    ASSERT_TRUE(Check(yes));
    EXPECT_EQ(checker_.Outcome(), "installed");
    EXPECT_EQ(yes.texts.size(), 1u);
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "new program");
    EXPECT_EQ(closed_, 0);
    EXPECT_EQ(checker_.LaunchPending(), -1);
}

TEST_F(UpdateCheckerTest, DeclinedVersionIsNotOfferedAgainButTheNextOneIs) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    Answerer no({"no"});
    ASSERT_TRUE(Check(no));
    EXPECT_EQ(settings_.texts["LastCheckVersion"], WideString(u"1.10"));
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program");
    settings_.numbers["LastCheck"] = 0;
    Answerer again({}); // an answer left here would answer the next test's box
    ASSERT_TRUE(Check(again));
    EXPECT_TRUE(again.texts.empty());
    EXPECT_EQ(checker_.Outcome(), "declined before");
    Publish("1.11", "--file " + Quoted((build_ / "mistvale").string()));
    settings_.numbers["LastCheck"] = 0;
    Answerer newer({"no"});
    ASSERT_TRUE(Check(newer));
    EXPECT_EQ(newer.texts.size(), 1u);
    EXPECT_EQ(settings_.texts["LastCheckVersion"], WideString(u"1.11"));
    EXPECT_TRUE(FileRequests().empty());
}

namespace {
std::vector<QString> opened;
void RecordOpen(const QString& address, void*) {
    opened.push_back(address);
}
} // namespace

TEST_F(UpdateCheckerTest, HelpOpensTheAddressAndTheQuestionStays) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()) + " --help https://example.com/news");
    opened.clear();
    checker_.SetUrlOpener(&RecordOpen, nullptr);
    Answerer helpThenNo({"help", "no"});
    ASSERT_TRUE(Check(helpThenNo));
    EXPECT_EQ(opened, (std::vector<QString>{QStringLiteral("https://example.com/news")}));
    ASSERT_EQ(helpThenNo.texts.size(), 2u);
    EXPECT_EQ(helpThenNo.texts[1], "Install the new version?"); // the same question, still open
    EXPECT_TRUE(helpThenNo.hadHelp[0]);
    EXPECT_EQ(checker_.Outcome(), "declined");
}

// A download that is unsigned, signed by someone else, signed for another version or larger than
// announced is deleted; nothing is set aside, installed or started.
TEST_F(UpdateCheckerTest, UnverifiedDownloadsChangeNothing) {
    struct Case {
        const char* what;
        std::function<void()> spoil;
        std::string key;
    };
    const std::vector<Case> cases = {
        {"unsigned", [&] { EditManifest(" signature=\"", " signaturx=\""); }, publicKey_},
        {"another version", [&] { EditManifest("<version>1.10</version>", "<version>1.11</version>"); },
         publicKey_},
        {"larger than announced", [&] { EditManifest(" size=\"11\"", " size=\"5\""); }, publicKey_},
    };
    for (const Case& c : cases) {
        Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()) + " --restart en 'Restart now?'");
        c.spoil();
        settings_.numbers["LastCheck"] = 0;
        settings_.texts.clear();
        UpdateCheckSetup setup = CheckSetup();
        setup.publicKey = c.key;
        Answerer yes({"yes", "ok"});
        ASSERT_TRUE(Check(yes, setup)) << c.what;
        // No restart question: the user is told that the update could not be installed.
        ASSERT_EQ(yes.texts.size(), 2u) << c.what;
        EXPECT_NE(yes.texts[1].find("could not be installed"), std::string::npos) << yes.texts[1];
        EXPECT_EQ(checker_.Outcome().rfind("failed", 0), 0u) << c.what << ": " << checker_.Outcome();
        EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program") << c.what;
        EXPECT_FALSE(fs::exists(program_ / "mistvale_new")) << c.what;
        EXPECT_FALSE(fs::exists(program_ / "mistvale_old")) << c.what;
        EXPECT_EQ(closed_, 0) << c.what;
    }
}

// Only the maker's current manifest is offered: unsigned, signed with another key, changed after
// signing or expired, nothing is asked and nothing downloaded. A build that carries the maker's next
// key takes manifests and files signed with it.
TEST_F(UpdateCheckerTest, ManifestsThatAreNotTheMakersCurrentOneAskNothing) {
    const std::string other = (root_ / "other.pem").string();
    Shell("openssl genpkey -algorithm ed25519 -out " + Quoted(other));
    const struct {
        const char* what;
        std::string arguments;
        std::function<void()> spoil;
        const char* outcome;
    } cases[] = {
        {"unsigned", "", [&] { fs::remove(site_ / "common/update.php.sig"); },
         "refused: the manifest is not signed"},
        {"another key", "", [&] { SignManifest(other); }, "refused: the manifest is not signed"},
        {"changed after signing", "",
         [&] {
             const fs::path manifest = site_ / "common/update.php";
             std::string text = ReadFile(manifest);
             text.replace(text.find("<version>"), 9, "<version> ");
             WriteFile(manifest, text);
         },
         "refused: the manifest is not signed"},
        {"expired", " --expires-days -1", [] {}, "refused: the manifest has expired"},
    };
    for (const auto& c : cases) {
        Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()) + c.arguments);
        c.spoil();
        settings_.numbers["LastCheck"] = 0;
        Answerer yes({"yes"});
        ASSERT_TRUE(Check(yes)) << c.what;
        EXPECT_TRUE(yes.texts.empty()) << c.what;
        EXPECT_EQ(checker_.Outcome().rfind(c.outcome, 0), 0u) << c.what << ": " << checker_.Outcome();
        EXPECT_TRUE(FileRequests().empty()) << c.what;
        EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program") << c.what;
    }
    // A key change: published with the next key, taken by a build that knows it as its next one.
    const std::string savedKey = key_;
    key_ = other;
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    key_ = savedKey;
    settings_.numbers["LastCheck"] = 0;
    UpdateCheckSetup rotating = CheckSetup();
    rotating.nextPublicKey =
        Shell(std::string("bash ") + MISTVALE_PUBLISH_SCRIPT + " --public-key " + Quoted(other));
    rotating.nextPublicKey.pop_back();
    Answerer yes({"yes"});
    ASSERT_TRUE(Check(yes, rotating));
    EXPECT_EQ(checker_.Outcome(), "installed") << checker_.Outcome();
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "new program");
}

TEST_F(UpdateCheckerTest, ManifestNamesThatArePathsStopTheUpdateBeforeAnyDownload) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    EditManifest("name=\"mistvale\"", "name=\"../mistvale\"");
    Answerer yes({"yes"});
    ASSERT_TRUE(Check(yes));
    EXPECT_TRUE(yes.texts.empty());
    EXPECT_EQ(checker_.Outcome(), "refused: a file name is a path");
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_FALSE(fs::exists(root_ / "mistvale_new"));
}

TEST_F(UpdateCheckerTest, ZipEntriesAreUnpackedAndABadArchiveLeavesTheSetAsideState) {
    const fs::path archive = build_ / "bundle.zip";
    ASSERT_TRUE(MakeZip(archive, {{"mistvale", "new program", 0100755}, {"share/readme.txt", "hello"}}));
    Publish("1.10", "--zip " + Quoted(archive.string()) + " mistvale");
    Answerer yes({"yes"});
    ASSERT_TRUE(Check(yes));
    EXPECT_EQ(checker_.Outcome(), "installed");
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "new program");
    EXPECT_EQ(ReadFile(program_ / "share/readme.txt"), "hello");
    EXPECT_FALSE(fs::exists(program_ / "bundle_new.zip"));

    // Signed by the maker, but it would write outside the folder or through a link, or it lacks the
    // program it promises: refused whole, the folder byte for byte as it was and the program in place.
    for (const std::vector<ZipEntry>& bad :
         {std::vector<ZipEntry>{{"mistvale", "evil program"}, {"../escaped", "x"}},
          std::vector<ZipEntry>{{"mistvale", "evil program"}, {"link", "/etc/passwd", 0120777}},
          std::vector<ZipEntry>{{"other", "no program here"}}}) {
        WriteFile(program_ / "mistvale", "old program");
        fs::remove(program_ / "mistvale_old");
        const std::string before = Shell("cd " + Quoted(program_.string()) +
                                         " && find . -print0 | sort -z | "
                                         "xargs -0 ls -ld --time-style=+ | sed 's/ [0-9]* / /' ; "
                                         "find . -type f -exec sha256sum {} + | sort");
        ASSERT_TRUE(MakeZip(archive, bad));
        Publish("1.10", "--zip " + Quoted(archive.string()) + " mistvale");
        settings_.numbers["LastCheck"] = 0;
        Answerer again({"yes", "ok"});
        ASSERT_TRUE(Check(again));
        EXPECT_EQ(checker_.Outcome().rfind("failed: ", 0), 0u) << checker_.Outcome();
        ASSERT_EQ(again.texts.size(), 2u);
        EXPECT_NE(again.texts[1].find("Mistvale is unchanged"), std::string::npos) << again.texts[1];
        EXPECT_EQ(Shell("cd " + Quoted(program_.string()) +
                        " && find . -print0 | sort -z | "
                        "xargs -0 ls -ld --time-style=+ | sed 's/ [0-9]* / /' ; "
                        "find . -type f -exec sha256sum {} + | sort"),
                  before);
        EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program");
        EXPECT_FALSE(fs::exists(root_ / "escaped"));
    }
}

TEST_F(UpdateCheckerTest, AFolderTheUserCannotWriteIsNeverUpdatedInPlace) {
    EXPECT_TRUE(IsDistributionFolder("/usr/bin"));
    EXPECT_TRUE(IsDistributionFolder("/usr/lib/mistvale"));
    EXPECT_FALSE(IsDistributionFolder("/usr/local/bin"));
    EXPECT_FALSE(IsDistributionFolder("/opt/mistvale"));
    EXPECT_FALSE(IsDistributionFolder("/home/op/mistvale"));
    EXPECT_FALSE(IsDistributionFolder("/usrx/bin"));
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes any folder; the rule above covers the package manager's";
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    fs::permissions(program_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    {
        Answerer none({});
        ASSERT_TRUE(Check(none));
        EXPECT_TRUE(none.texts.empty());
        EXPECT_EQ(checker_.Outcome(), "the program's folder is not writable");
    }
    // A file that only runs (a package for the package manager) may still be offered.
    Publish("1.11", "--run " + Quoted((build_ / "mistvale").string()));
    settings_.numbers["LastCheck"] = 0;
    Answerer no({"no"});
    ASSERT_TRUE(Check(no));
    EXPECT_EQ(no.texts.size(), 1u);
}

// A service that never answers costs the user nothing: stopping the check takes well under 2 s.
TEST_F(UpdateCheckerTest, SilentServiceDoesNotHoldUpShutdown) {
    server_->SetSilent(true);
    ASSERT_TRUE(checker_.Start(CheckSetup(), &window_, settings_.Access(), "LastCheck", &OnClose, this));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server_->Requests().empty(); }, 5000));
    const auto start = std::chrono::steady_clock::now();
    checker_.Stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(checker_.IsRunning());
    EXPECT_LT(seconds, 2.0);
    server_->SetSilent(false);
}

// A program told to end while the question is open (its close request runs inside the box's own
// event loop) does not wait for a click, and remembers nothing.
TEST_F(UpdateCheckerTest, StoppingClosesAnOpenQuestionUnanswered) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    double stopSeconds = -1;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) || stopSeconds >= 0)
            return;
        const auto start = std::chrono::steady_clock::now();
        checker_.Stop();
        stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    poll.start();
    ASSERT_TRUE(checker_.Start(CheckSetup(), &window_, settings_.Access(), "LastCheck", &OnClose, this));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopSeconds >= 0 && !checker_.IsRunning(); }, 10000));
    EXPECT_LT(stopSeconds, 1.0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(settings_.texts.count("LastCheckVersion"), 0u);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program");
}

// Closed without a click (its window went away): not a No, so the version is offered again.
TEST_F(UpdateCheckerTest, QuestionClosedWithoutAClickDeclinesNothing) {
    Publish("1.10", "--file " + Quoted((build_ / "mistvale").string()));
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->close();
    });
    poll.start();
    Answerer none({});
    ASSERT_TRUE(Check(none));
    EXPECT_EQ(settings_.texts.count("LastCheckVersion"), 0u);
    EXPECT_EQ(ReadFile(program_ / "mistvale"), "old program");
}

} // namespace mistvale
