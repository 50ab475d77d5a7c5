#pragma once
// The automatic update check. At most once every 7 days ("LastCheck"), on a thread of its own, the
// checker asks the maker's service whether a newer version exists. A newer one is offered to the user
// on the main window; on Yes its files are downloaded and verified, the current files set aside and the
// new ones installed, and after the restart question the main window is closed. The new program (or a
// downloaded file to run) is started only once the old one has written its tree and settings: the owner
// calls LaunchPending at the very end of its shutdown.
//
// Threads: Start, Stop and LaunchPending run on the user-interface thread; the check runs on its own
// WorkerThread and reaches the user-interface thread only through blocking calls for the questions.
// Every failure ends the check silently, except an accepted update that could not be installed: that
// is told, and the folder is as it was.
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "model/worker_thread.h"
#include "platform/wide_string.h"
#include "update/http_fetch.h"
#include "update/update_manifest.h"
#include "update/update_version.h"

namespace mistvale {

// The program's stored settings, as the checker reads and writes them (any thread).
struct UpdateSettingsAccess {
    std::uint64_t (*getNumber)(const char* name, std::uint64_t fallback, void* context) = nullptr;
    int (*setNumber)(const char* name, std::uint64_t value, void* context) = nullptr;
    int (*getString)(const char* name, WideString& value, void* context) = nullptr;
    int (*setString)(const char* name, const WideString& value, void* context) = nullptr;
    void* context = nullptr;
};

struct UpdateCheckSetup {
    std::string service;       // the service address; empty: no service, no check
    std::string programPath;   // the running program's file; its folder is the program's folder
    std::string tempFolder;    // where a file to run is downloaded
    std::string publicKey;     // base64 of the maker's raw Ed25519 public key
    std::string nextPublicKey; // the key the maker moves to next, accepted too (empty: none)
    UpdateVersion running;
    WideString language; // the user interface's two-letter code
    WideString machineId;
};

// The setup of the program itself: the build's service address and key (MISTVALE_UPDATE_URL and
// MISTVALE_UPDATE_KEY in the environment override them), /proc/self/exe, the system's temporary folder,
// the build's version and the user interface language.
UpdateCheckSetup ProgramUpdateSetup();

// Where the manifest's detached signature is served: the service's address with ".sig" added to its
// path ("https://h/common/update.php.sig").
std::string ManifestSignatureAddress(const std::string& service);
// A folder the package manager owns (/usr but not /usr/local, /bin, ...): never updated in place.
bool IsDistributionFolder(const std::string& folder);
// The program's files may be replaced: not a distribution folder, and writable by this user.
bool MayUpdateInPlace(const std::string& folder);

class UpdateChecker {
public:
    enum Question { kUpdateQuestion = 0, kRestartQuestion = 1 };
    // Opens an address (the Help button); the default hands it to the desktop.
    typedef void (*UrlOpener)(const QString& address, void* context);
    // Asks the main window to close the normal way; called on the checker's thread.
    typedef void (*CloseHandler)(void* context);

    UpdateChecker() = default;
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Applies the LastCheck rules to the settings under `valueName` and starts the check when one is
    // due. 1 when the thread was started.
    int Start(const UpdateCheckSetup& setup, QWidget* mainWindow, const UpdateSettingsAccess& settings,
              const char* valueName, CloseHandler close, void* closeContext);
    // Ends a running check (a transfer within about a second) and waits for it while dispatching
    // events. A question still open is closed unanswered: a program told to end (a logout, a
    // terminal's Ctrl+C) must not wait for a click, and nothing is remembered as declined.
    void Stop();
    bool IsRunning() const { return thread_.IsRunning() != 0; }

    // Starts what a finished update asked to start: the downloaded run file with the desktop's handler,
    // or the program (or the manifest's execute file) with the program's folder as working folder.
    // Returns the started process id (0 for a run file handed to the desktop, -1 for nothing).
    long long LaunchPending();

    // The process LaunchPending started last; 0 when none.
    long long LaunchedProcess() const { return launched_; }

    void SetUrlOpener(UrlOpener opener, void* context);
    // For tests and the log: how the last check ended.
    std::string Outcome() const;

private:
    static void ThreadMain(void* argument);
    void Check();
    // 1 for Yes, 0 for No, -1 when the question went without an answer.
    int Ask(Question which);
    // Shows a warning on the main window and waits until it is closed (nothing when cancelled).
    void Tell(const QString& text);
    static int ProxyCredentials(const std::string& proxy, std::string& user, std::string& password,
                                void* context);
    void SetOutcome(const std::string& text);

    UpdateCheckSetup setup_;
    QPointer<QWidget> window_;
    QPointer<QDialog> openDialog_; // the question or the proxy dialog on screen (user-interface thread)
    UpdateSettingsAccess settings_;
    std::string valueName_;
    CloseHandler close_ = nullptr;
    void* closeContext_ = nullptr;
    UrlOpener urlOpener_ = nullptr;
    void* urlContext_ = nullptr;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> asking_{false};
    // Texts the questions show; written by the checker's thread before it asks and read by the
    // user-interface thread only during the blocking call.
    WideString caption_, info_, help_, restart_;
    // Set by the checker's thread before it asks the window to close; read after the thread ended.
    std::string launchProgram_, launchFolder_, runFile_;
    long long launched_ = 0;
    mutable std::mutex outcomeMutex_;
    std::string outcome_;
    WorkerThread thread_;
};

} // namespace mistvale
