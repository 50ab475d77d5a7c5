#include "update/update_checker.h"

#include "mistvale_version.h"
#include "platform/machine_identifier.h"
#include "platform/thread_handoff.h"
#include "update/update_signature.h"
#include "update/update_steps.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace mistvale {

namespace {

constexpr std::uint64_t kCheckInterval = 604800; // 7 days in seconds

QString ToQ(const WideString& text) {
    return QString::fromUtf16(text.Text(), text.Length());
}

void OpenWithDesktop(const QString& address, void*) {
    QDesktopServices::openUrl(QUrl(address));
}

void PumpEvents(void*) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Runs `work` on the window's thread and waits for it. Qt orders the two threads with a semaphore of
// its own, which ThreadSanitizer cannot see; the hand-off marks make that order visible to it.
template <typename Work> void RunOnWindowThread(QObject* window, Work work) {
    int token = 0;
    HandOffRelease(&token);
    QMetaObject::invokeMethod(
        window,
        [&token, &work] {
            HandOffAcquire(&token);
            work();
            HandOffRelease(&token);
        },
        Qt::BlockingQueuedConnection);
    HandOffAcquire(&token);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

} // namespace

bool IsDistributionFolder(const std::string& folder) {
    // What the package manager installed lives under /usr (but /usr/local is the administrator's) or
    // /bin, /sbin; even a user allowed to write there must leave it to the package manager.
    for (const char* root : {"/usr/", "/bin/", "/sbin/", "/lib/"}) {
        const std::string prefix(root);
        if ((folder + "/").compare(0, prefix.size(), prefix) == 0)
            return (folder + "/").compare(0, 11, "/usr/local/") != 0;
    }
    return false;
}

bool MayUpdateInPlace(const std::string& folder) {
    return !IsDistributionFolder(folder) && access(folder.c_str(), W_OK) == 0;
}

std::string ManifestSignatureAddress(const std::string& service) {
    const size_t query = service.find('?');
    return query == std::string::npos ? service + ".sig"
                                      : service.substr(0, query) + ".sig" + service.substr(query);
}

UpdateCheckSetup ProgramUpdateSetup() {
    UpdateCheckSetup setup;
    const char* url = std::getenv("MISTVALE_UPDATE_URL");
    setup.service = url ? url : MISTVALE_UPDATE_URL_DEFAULT;
    const char* key = std::getenv("MISTVALE_UPDATE_KEY");
    setup.publicKey = key ? key : MISTVALE_UPDATE_KEY_DEFAULT;
    const char* nextKey = std::getenv("MISTVALE_UPDATE_NEXT_KEY");
    setup.nextPublicKey = nextKey ? nextKey : MISTVALE_UPDATE_NEXT_KEY_DEFAULT;
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0)
        setup.programPath.assign(exe, static_cast<size_t>(length));
    setup.tempFolder = QDir::tempPath().toStdString();
    setup.running.major = MISTVALE_VERSION_MAJOR;
    setup.running.minor = MISTVALE_VERSION_MINOR;
    const QString language = QLocale().name().left(2).toLower();
    const bool letters = language.size() == 2 && language[0].isLetter() && language[1].isLetter() &&
                         language != QStringLiteral("c");
    setup.language = WideString::FromUtf8(letters ? language.toUtf8().constData() : "en");
    setup.machineId = MachineIdentifier("mistvale");
    return setup;
}

UpdateChecker::~UpdateChecker() {
    cancel_ = true;
}

void UpdateChecker::SetUrlOpener(UrlOpener opener, void* context) {
    urlOpener_ = opener;
    urlContext_ = context;
}

std::string UpdateChecker::Outcome() const {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    return outcome_;
}

void UpdateChecker::SetOutcome(const std::string& text) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    outcome_ = text;
}

int UpdateChecker::Start(const UpdateCheckSetup& setup, QWidget* mainWindow,
                         const UpdateSettingsAccess& settings, const char* valueName, CloseHandler close,
                         void* closeContext) {
    if (thread_.IsRunning() || !settings.getNumber || !settings.setNumber || !settings.getString ||
        !settings.setString || valueName == nullptr)
        return 0;
    const std::uint64_t last = settings.getNumber(valueName, 0, settings.context);
    // "-1" written by hand into the settings file is text there, not a number; it skips the same way.
    WideString lastText;
    const bool minusOne = settings.getString(valueName, lastText, settings.context) &&
                          QString::fromStdString(lastText.ToUtf8()).trimmed() == QStringLiteral("-1");
    // All low bits set: the maker's way to skip one start (and check at the next).
    if (minusOne || (last & 0xFFFFFFFFull) == 0xFFFFFFFFull) {
        settings.setNumber(valueName, 0, settings.context);
        SetOutcome("skipped once");
        return 0;
    }
    const std::uint64_t now = static_cast<std::uint64_t>(std::time(nullptr));
    if (last + kCheckInterval >= now) {
        SetOutcome("checked within the last 7 days");
        return 0;
    }
    // Without a service there is nothing to ask, and the time is left alone so that a build with one
    // checks at once.
    if (setup.service.empty()) {
        SetOutcome("no service");
        return 0;
    }
    settings.setNumber(valueName, now, settings.context);
    setup_ = setup;
    window_ = mainWindow;
    settings_ = settings;
    valueName_ = valueName;
    close_ = close;
    closeContext_ = closeContext;
    cancel_ = false;
    launchProgram_.clear();
    launchFolder_.clear();
    runFile_.clear();
    SetOutcome("checking");
    return thread_.Start(&UpdateChecker::ThreadMain, this);
}

void UpdateChecker::Stop() {
    if (!thread_.IsRunning() && !thread_.StopRequested())
        return;
    cancel_ = true;
    thread_.RequestStop();
    if (openDialog_) {
        // Called from inside the question's own event loop (a close request that arrived while it was
        // open): the box can only return once this call has, and the thread ends right after it.
        openDialog_->reject();
        return;
    }
    thread_.WaitForEnd(&PumpEvents, nullptr);
}

void UpdateChecker::ThreadMain(void* argument) {
    static_cast<UpdateChecker*>(argument)->Check();
}

int UpdateChecker::Ask(Question which) {
    if (cancel_ || !window_)
        return -1;
    int answer = -1;
    QWidget* window = window_;
    // The question is asked on the user-interface thread; this thread waits for the answer.
    RunOnWindowThread(window, [this, which, window, &answer] {
        // On the heap and watched: the window that owns it may go while it is open (the program
        // ending under it), taking the box along.
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, ToQ(caption_),
                                                    ToQ(which == kUpdateQuestion ? info_ : restart_),
                                                    QMessageBox::Yes | QMessageBox::No, window);
        // The service's words are shown as written: no markup of theirs is interpreted.
        box->setTextFormat(Qt::PlainText);
        QPointer<QAbstractButton> help;
        if (which == kUpdateQuestion && !help_.IsEmpty())
            help = box->addButton(QMessageBox::Help);
        // What the user clicked; a box closed under the question (the program ending) answers nothing.
        QAbstractButton* chosen = nullptr;
        QObject::connect(box.data(), &QMessageBox::buttonClicked,
                         [&chosen](QAbstractButton* button) { chosen = button; });
        asking_ = true;
        openDialog_ = box.data();
        for (;;) {
            if (cancel_ || !box)
                break;
            box->exec();
            if (!box || !help || chosen != help)
                break;
            chosen = nullptr;
            // Help opens the address and the question stays.
            (urlOpener_ ? urlOpener_ : &OpenWithDesktop)(ToQ(help_), urlContext_);
        }
        asking_ = false;
        openDialog_ = nullptr;
        if (box && !cancel_ && chosen != nullptr)
            answer = chosen == box->button(QMessageBox::Yes) ? 1 : 0;
        delete box.data();
    });
    return answer;
}

void UpdateChecker::Tell(const QString& text) {
    if (cancel_ || !window_)
        return;
    QWidget* window = window_;
    RunOnWindowThread(window, [this, window, text] {
        QPointer<QMessageBox> box =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Mistvale"), text, QMessageBox::Ok, window);
        box->setTextFormat(Qt::PlainText);
        openDialog_ = box.data();
        if (!cancel_)
            box->exec();
        openDialog_ = nullptr;
        delete box.data();
    });
}

int UpdateChecker::ProxyCredentials(const std::string& proxy, std::string& user, std::string& password,
                                    void* context) {
    auto* self = static_cast<UpdateChecker*>(context);
    if (self->cancel_ || !self->window_)
        return 0;
    int accepted = 0;
    QWidget* window = self->window_;
    RunOnWindowThread(window, [&] {
        QPointer<QDialog> dialog = new QDialog(window);
        dialog->setWindowTitle(QCoreApplication::translate("UpdateChecker", "Proxy Authentication"));
        auto* form = new QFormLayout(dialog);
        auto* name = new QLineEdit(dialog);
        auto* secret = new QLineEdit(dialog);
        secret->setEchoMode(QLineEdit::Password);
        form->addRow(new QLabel(QString::fromStdString(proxy), dialog));
        form->addRow(QCoreApplication::translate("UpdateChecker", "User name:"), name);
        form->addRow(QCoreApplication::translate("UpdateChecker", "Password:"), secret);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.data(), &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.data(), &QDialog::reject);
        form->addRow(buttons);
        self->openDialog_ = dialog.data();
        const int result = self->cancel_ ? QDialog::Rejected : dialog->exec();
        self->openDialog_ = nullptr;
        if (dialog && result == QDialog::Accepted && !self->cancel_) {
            user = name->text().toStdString();
            password = secret->text().toStdString();
            accepted = 1;
        }
        delete dialog.data();
    });
    return accepted;
}

void UpdateChecker::Check() {
    const WideString versionText = UpdateVersionText(setup_.running);
    const WideString address =
        UpdateRequestAddress(WideString::FromUtf8(setup_.service.c_str()), versionText, setup_.machineId);
    FetchOptions fetch;
    fetch.cancel = &cancel_;
    fetch.credentials = &UpdateChecker::ProxyCredentials;
    fetch.context = this;
    // Asked once for the whole check: the manifest, its signature and every file.
    ProxyLogin login;
    fetch.login = &login;
    fetch.maxBytes = 1 << 20; // a manifest is a few hundred bytes
    std::string reply;
    if (FetchToString(address.ToUtf8(), reply, fetch) != FetchResult::Ok) {
        SetOutcome("no reply from the service");
        return;
    }
    // The manifest is the maker's only with the maker's signature over its exact bytes, served beside
    // it: whoever controls the web server cannot choose what is offered, started or opened.
    std::string signature;
    FetchOptions small = fetch;
    small.maxBytes = 4096;
    if (FetchToString(ManifestSignatureAddress(setup_.service), signature, small) != FetchResult::Ok ||
        (!VerifyUpdateBytes(reply, signature, setup_.publicKey) &&
         (setup_.nextPublicKey.empty() || !VerifyUpdateBytes(reply, signature, setup_.nextPublicKey)))) {
        SetOutcome("refused: the manifest is not signed by the maker");
        return;
    }
    UpdateManifest manifest;
    const ManifestResult parsed = ParseUpdateManifest(reply, setup_.language, manifest);
    if (parsed != ManifestResult::Ok) {
        SetOutcome(parsed == ManifestResult::UnsafeName ? "refused: a file name is a path"
                   : parsed == ManifestResult::NoSize   ? "refused: a file without its size"
                                                        : "nothing offered");
        return;
    }
    // An old manifest served again for ever would keep installs from newer fixes.
    if (manifest.expires == 0 || manifest.expires < static_cast<long long>(std::time(nullptr))) {
        SetOutcome("refused: the manifest has expired");
        return;
    }
    if (!IsNewerVersion(manifest.version, setup_.running)) {
        SetOutcome("up to date");
        return;
    }
    const std::string declinedName = valueName_ + "Version";
    WideString declined;
    if (settings_.getString(declinedName.c_str(), declined, settings_.context) &&
        declined == manifest.versionText) {
        SetOutcome("declined before");
        return;
    }
    // A folder the user cannot write belongs to the package manager, which updates it.
    const std::string folder = FolderOf(setup_.programPath);
    bool replacesFiles = false;
    for (const UpdateFileEntry& entry : manifest.files)
        replacesFiles = replacesFiles || !entry.name.IsEmpty();
    if (replacesFiles && !MayUpdateInPlace(folder)) {
        SetOutcome("the program's folder is not writable");
        return;
    }
    caption_ = manifest.caption;
    info_ = manifest.info;
    help_ = manifest.help;
    const int answer = Ask(kUpdateQuestion);
    if (answer != 1) {
        // Only a No remembers the version; a question closed unanswered asks again next time.
        if (answer == 0 && !cancel_) {
            settings_.setString(declinedName.c_str(), manifest.versionText, settings_.context);
            SetOutcome("declined");
        }
        return;
    }
    UpdateStepContext steps;
    steps.folder = folder;
    steps.tempFolder = setup_.tempFolder;
    steps.versionText = manifest.versionText.ToUtf8();
    steps.publicKey = setup_.publicKey;
    steps.nextPublicKey = setup_.nextPublicKey;
    steps.fetch = fetch;
    steps.fetch.maxBytes = -1;
    if (!InstallUpdate(manifest.files, steps)) {
        SetOutcome(cancel_ ? "stopped" : "failed: " + steps.failure);
        // The user said Yes: a failure is told, and that nothing changed.
        if (!cancel_)
            Tell(QStringLiteral(
                     "The update to version %1 could not be installed: %2.\n\nMistvale is unchanged.")
                     .arg(ToQ(manifest.versionText), QString::fromStdString(steps.failure)));
        return;
    }
    if (!manifest.hasRestart) {
        SetOutcome("installed");
        return;
    }
    restart_ = manifest.restart;
    if (!manifest.restart.IsEmpty() && Ask(kRestartQuestion) != 1) {
        SetOutcome("installed, no restart");
        return;
    }
    if (!steps.runFile.empty()) {
        runFile_ = steps.runFile;
    } else {
        // Only a file this update installed may be started in the program's place.
        const std::string execute = manifest.execute.ToUtf8();
        if (!execute.empty() &&
            std::find(steps.installed.begin(), steps.installed.end(), execute) == steps.installed.end()) {
            SetOutcome("installed; the file to start is not one the update installed");
            return;
        }
        launchProgram_ =
            execute.empty() ? setup_.programPath : (std::filesystem::path(folder) / execute).string();
        launchFolder_ = folder;
    }
    SetOutcome("restarting");
    if (close_)
        close_(closeContext_);
}

long long UpdateChecker::LaunchPending() {
    if (thread_.IsRunning())
        return -1;
    if (!runFile_.empty()) {
        const QString file = QString::fromStdString(runFile_);
        runFile_.clear();
        QDesktopServices::openUrl(QUrl::fromLocalFile(file));
        return 0;
    }
    if (launchProgram_.empty())
        return -1;
    qint64 pid = 0;
    const bool started = QProcess::startDetached(QString::fromStdString(launchProgram_), {},
                                                 QString::fromStdString(launchFolder_), &pid);
    launchProgram_.clear();
    if (!started)
        return -1;
    launched_ = pid;
    return pid;
}

} // namespace mistvale
