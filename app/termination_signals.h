#pragma once

class QSocketNotifier;

namespace mistvale {

// Turns the requests to quit that a desktop session, a terminal or a service manager sends the program
// (SIGTERM, SIGINT and SIGHUP on Linux) into a call of a handler on the user-interface thread, so that the
// program can end through its normal shutdown, exactly as when the user closes the window.
//
// The operating system delivers such a request at an arbitrary point of any thread, where almost nothing
// may be done; the request is therefore only recorded there and handed on later, from the event loop of
// the thread that called Install. One object per process is active at a time.
class TerminationSignals {
public:
    // signal: the number of the request that arrived (SIGTERM etc.).
    using Handler = void (*)(void* context, int signal);

    TerminationSignals() = default;
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Starts listening; the handler is called from the event loop for each request. Returns 1 on success,
    // 0 when the requests cannot be caught (another object is active, or the system refused).
    int Install(Handler handler, void* context);
    // Stops listening and gives the requests their previous treatment back. Harmless when not installed.
    void Remove();

private:
    void Deliver();

    Handler handler_ = nullptr;
    void* context_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    bool delivering_ = false;
};

} // namespace mistvale
