#include "app/termination_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace mistvale {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

// The self-pipe: the asynchronous handler writes the signal number into it, the event loop reads it.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[kSignalCount];
TerminationSignals* g_active = nullptr;

void OnSignal(int signal) {
    // Only async-signal-safe work here. A full pipe means a request is pending already; losing a
    // repetition of it does no harm.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (g_pipe[1] >= 0) {
        ssize_t written = write(g_pipe[1], &byte, 1);
        (void)written;
    }
    errno = saved;
}

void ClosePipe() {
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

} // namespace

TerminationSignals::~TerminationSignals() {
    Remove();
}

int TerminationSignals::Install(Handler handler, void* context) {
    if (g_active != nullptr || handler == nullptr)
        return 0;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return 0;
    }
    handler_ = handler;
    context_ = context;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { Deliver(); });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) {
        if (sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            for (int j = 0; j < i; ++j)
                sigaction(kSignals[j], &g_previous[j], nullptr);
            delete notifier_;
            notifier_ = nullptr;
            ClosePipe();
            return 0;
        }
    }
    g_active = this;
    return 1;
}

void TerminationSignals::Remove() {
    if (g_active != this)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    // The handler may remove this object from inside the notifier's own signal; the notifier must
    // outlive that emission.
    notifier_->setEnabled(false);
    if (delivering_)
        notifier_->deleteLater();
    else
        delete notifier_;
    notifier_ = nullptr;
    ClosePipe();
    g_active = nullptr;
    handler_ = nullptr;
    context_ = nullptr;
}

void TerminationSignals::Deliver() {
    unsigned char bytes[16];
    delivering_ = true;
    for (;;) {
        const ssize_t got = read(g_pipe[0], bytes, sizeof(bytes));
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            // The handler may end the program's window and Remove this object; stop then.
            if (handler_ == nullptr) {
                delivering_ = false;
                return;
            }
            handler_(context_, bytes[i]);
        }
    }
    delivering_ = false;
}

} // namespace mistvale
