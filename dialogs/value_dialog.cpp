#include "dialogs/value_dialog.h"

#include "dialogs/record_fields.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "platform/string_table.h"
#include "resources/app_icons.h"

namespace mistvale {

// Template 144.
// A line above the value says what the value goes to; the controls below it sit where they always did,
// moved down by its height.
static const ControlTemplate kValueControls[] = {
    {ValueDialog::kIdTarget, ControlKind::Label, 5, 5, 260, 14, nullptr, kStyleNone},
    {ValueDialog::kIdValueLabel, ControlKind::Label, 5, 23, 65, 14, "Value", kStyleNone},
    {ValueDialog::kIdValue, ControlKind::Edit, 75, 23, 190, 14, nullptr, kStyleNone},
    {ValueDialog::kIdOkButton, ControlKind::DefaultPushButton, 142, 48, 60, 14, "OK", kStyleNone},
    {ValueDialog::kIdCancelButton, ControlKind::PushButton, 205, 48, 60, 14, "Cancel", kStyleNone},
};

static const DialogTemplate kValueTemplate = {
    144,
    272,
    68,
    "Mistvale",
    kValueControls,
    static_cast<int>(sizeof kValueControls / sizeof kValueControls[0]),
    kDialogNone,
};

const DialogTemplate* ValueDialog::Template() {
    return &kValueTemplate;
}

int ValueDialog::Run(MonitorTree& tree, Source* source, QWidget* owner) {
    // The value text is copied while the source is known to be listed; a source the worker has
    // deleted is never read.
    if (CopyListedSourceValue(tree, source, value_, target_) == 0)
        return 0;
    tree_ = &tree;
    source_ = source;
    SetIcon(kIconApp);
    int result = DialogBase::Run(&kValueTemplate, owner);
    tree_ = nullptr;
    source_ = nullptr;
    return result;
}

int ValueDialog::OnInit() {
    // The caption names what the value goes to, so that a dialog opened on the wrong row is seen.
    SetTitle(QString::fromStdString(target_) + QStringLiteral(" - ") +
             FormatTitle(QStringLiteral("Mistvale")));
    SetItemText(kIdTarget, QString::fromStdString(target_));
    SetItemText(kIdValueLabel, Text(kStrValue));
    SetItemText(kIdOkButton, Text(kStrOk));
    SetItemText(kIdCancelButton, Text(kStrCancel));
    SetItemText(kIdValue, value_);
    return 1;
}

int ValueDialog::OnCommand(int id, int code) {
    if (EndByButton(id, kIdOkButton, kIdCancelButton))
        return 1;
    return DialogBase::OnCommand(id, code);
}

int ValueDialog::OnDestroy(int result) {
    if (result == 1 && tree_ != nullptr && source_ != nullptr) {
        // The text goes to the worker unchanged; the job checks that the source still exists and a
        // refused job (worker stopped) is dropped without a message.
        WideString text;
        GetItemText(kIdValue, text);
        tree_->QueueSetValue(source_, text);
    }
    return 1;
}

} // namespace mistvale
