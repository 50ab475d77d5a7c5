#pragma once
// The Options dialog (template 107): the refresh interval in seconds and the automatic update check
// (bit 0 of the option flags), and the MQTT broker values are published to. It works directly on the two
// values the application object holds; a confirmed interval takes effect at once through the re-arm handler
// of the main window.

#include "dialogs/dialog_base.h"

namespace mistvale {

// Re-arms the main window's refresh timer with the new interval (seconds; the main window bounds it).
// The next refresh comes when the new interval has passed.
typedef void (*RefreshTimerHandler)(void* context, unsigned refreshTime);

class OptionsDialog : public DialogBase {
public:
    enum : int {
        kIdCancelButton = 1010,
        kIdAutoUpdate = 1017,  // check box "Automatically check for updates"
        kIdRefreshTime = 1019, // edit: seconds
        kIdSecondsLabel = 1020,
        kIdRefreshLabel = 1021,
        kIdOkButton = 1022,
        kIdMqttLabel = 1023,
        kIdMqttUrl = 1024, // edit: the MQTT broker values are published to
    };
    // The bit of the flags that the check box shows.
    static constexpr unsigned kFlagAutoUpdate = 0x1;

    OptionsDialog() = default;

    // Runs the dialog over owner. On OK: bit 0 of flags follows the check box (the other bits stay),
    // refreshTime becomes the number in the edit (0 when it is not an unsigned decimal number that
    // fits in 32 bits) and rearm (when given) is called with it. Cancel, Escape and the close box
    // change nothing. Returns 1 for OK, 0 otherwise, -1 when the dialog could not run.
    int Run(unsigned& refreshTime, unsigned& flags, RefreshTimerHandler rearm, void* rearmContext,
            QWidget* owner);

    // The broker address the dialog shows and, on OK, stores back ("" for none); nullptr leaves the
    // field disabled. Set before Run.
    void SetMqttUrl(QString* url) { mqttUrl_ = url; }

    static const DialogTemplate* Template();

protected:
    int OnInit() override;
    int OnCommand(int id, int code) override;
    int OnDestroy(int result) override;

private:
    unsigned* refreshTime_ = nullptr;
    unsigned* flags_ = nullptr;
    RefreshTimerHandler rearm_ = nullptr;
    void* rearmContext_ = nullptr;
    QString* mqttUrl_ = nullptr;
};

} // namespace mistvale
