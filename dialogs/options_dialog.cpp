#include "dialogs/options_dialog.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "platform/string_table.h"
#include "resources/app_icons.h"

namespace mistvale {

// Template 107.
static const ControlTemplate kOptionsControls[] = {
    {OptionsDialog::kIdRefreshLabel, ControlKind::Label, 5, 5, 50, 14, "Refresh Rate", kStyleNone},
    {OptionsDialog::kIdRefreshTime, ControlKind::Edit, 60, 5, 60, 14, nullptr, kStyleNone},
    {OptionsDialog::kIdSecondsLabel, ControlKind::Label, 123, 6, 60, 14, "Seconds", kStyleNone},
    {OptionsDialog::kIdAutoUpdate, ControlKind::CheckBox, 5, 25, 250, 14, "Automatically check for updates",
     kStyleNone},
    {OptionsDialog::kIdMqttLabel, ControlKind::Label, 5, 45, 50, 14, "MQTT broker", kStyleNone},
    {OptionsDialog::kIdMqttUrl, ControlKind::Edit, 60, 45, 205, 14, nullptr, kStyleNone},
    {OptionsDialog::kIdOkButton, ControlKind::DefaultPushButton, 140, 65, 60, 14, "OK", kStyleNone},
    {OptionsDialog::kIdCancelButton, ControlKind::PushButton, 205, 65, 60, 14, "Cancel", kStyleNone},
};

static const DialogTemplate kOptionsTemplate = {
    107,
    271,
    84,
    "Mistvale",
    kOptionsControls,
    static_cast<int>(sizeof kOptionsControls / sizeof kOptionsControls[0]),
    kDialogNone,
};

const DialogTemplate* OptionsDialog::Template() {
    return &kOptionsTemplate;
}

int OptionsDialog::Run(unsigned& refreshTime, unsigned& flags, RefreshTimerHandler rearm, void* rearmContext,
                       QWidget* owner) {
    refreshTime_ = &refreshTime;
    flags_ = &flags;
    rearm_ = rearm;
    rearmContext_ = rearmContext;
    SetIcon(kIconApp);
    int result = DialogBase::Run(&kOptionsTemplate, owner);
    refreshTime_ = nullptr;
    flags_ = nullptr;
    rearm_ = nullptr;
    rearmContext_ = nullptr;
    return result;
}

int OptionsDialog::OnInit() {
    SetTitle(FormatTitle(WideString(u"Mistvale")));
    SetItemText(kIdRefreshLabel, Text(kStrRefreshRate));
    SetItemText(kIdSecondsLabel, Text(kStrSeconds));
    SetItemText(kIdAutoUpdate, Text(kStrAutoUpdate));
    SetItemText(kIdOkButton, Text(kStrOk));
    SetItemText(kIdCancelButton, Text(kStrCancel));
    SetItemNumber(kIdRefreshTime, *refreshTime_);
    // Whole seconds only: a '.', a sign or a letter is not taken as typed, so what the field shows is
    // what the program refreshes by ("0.5" would have been stored as 0).
    if (auto* edit = Item<QLineEdit>(kIdRefreshTime))
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[ \\t]*[0-9]{0,10}")), edit));
    CheckItem(kIdAutoUpdate, (*flags_ & kFlagAutoUpdate) != 0 ? 1 : 0);
    if (auto* edit = Item<QLineEdit>(kIdMqttUrl)) {
        edit->setPlaceholderText(QStringLiteral("mqtt://host:1883 (empty: none)"));
        edit->setText(mqttUrl_ != nullptr ? *mqttUrl_ : QString());
    }
    EnableItem(kIdMqttUrl, mqttUrl_ != nullptr ? 1 : 0);
    return 1;
}

int OptionsDialog::OnCommand(int id, int code) {
    if (EndByButton(id, kIdOkButton, kIdCancelButton))
        return 1;
    return DialogBase::OnCommand(id, code);
}

int OptionsDialog::OnDestroy(int result) {
    if (result == 1 && refreshTime_ != nullptr && flags_ != nullptr) {
        if (IsItemChecked(kIdAutoUpdate) != 0)
            *flags_ |= kFlagAutoUpdate;
        else
            *flags_ &= ~kFlagAutoUpdate;
        // Not a number (empty, "abc", "-3", too large) reads as 0; the timer bounds it from below.
        unsigned seconds = 0;
        GetItemNumber(kIdRefreshTime, &seconds);
        *refreshTime_ = seconds;
        if (auto* edit = Item<QLineEdit>(kIdMqttUrl); edit != nullptr && mqttUrl_ != nullptr)
            *mqttUrl_ = edit->text().trimmed();
        if (rearm_ != nullptr)
            rearm_(rearmContext_, seconds);
    }
    return 1;
}

} // namespace mistvale
