#include "dialogs/source_dialog.h"

#include "dialogs/record_fields.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "platform/string_table.h"
#include "resources/app_icons.h"

#include <QWidget>

namespace mistvale {

// Template 104. The hint keeps the template's own text; it has room for a second line where the
// desktop font is wider than the one the layout was drawn for.
static const ControlTemplate kSourceControls[] = {
    {SourceDialog::kIdNameLabel, ControlKind::Label, 5, 5, 65, 14, "Name", kStyleNone},
    {SourceDialog::kIdName, ControlKind::Edit, 75, 5, 190, 14, nullptr, kStyleNone},
    {SourceDialog::kIdParameterLabel, ControlKind::Label, 5, 30, 65, 14, "Parameter", kStyleNone},
    {SourceDialog::kIdParameter, ControlKind::Edit, 75, 30, 190, 14, nullptr, kStyleNone},
    {SourceDialog::kIdHint, ControlKind::Label, 5, 52, 260, 20,
     "Add /Format: hex, string, uint16, [u]int32, [u]int64, float, double, bcd, graph, range, "
     "color[/min/max]; orders: int32:abcd, cdab, badc, dcba",
     kStyleNoPrefix},
    {SourceDialog::kIdOkButton, ControlKind::DefaultPushButton, 142, 75, 60, 14, "OK", kStyleNone},
    {SourceDialog::kIdCancelButton, ControlKind::PushButton, 205, 75, 60, 14, "Cancel", kStyleNone},
};

static const DialogTemplate kSourceTemplate = {
    104,
    272,
    96,
    "Mistvale",
    kSourceControls,
    static_cast<int>(sizeof kSourceControls / sizeof kSourceControls[0]),
    kDialogNone,
};

const DialogTemplate* SourceDialog::Template() {
    return &kSourceTemplate;
}

int SourceDialog::Run(MonitorTree& tree, Source* source, QWidget* owner) {
    if (source == nullptr)
        return -1;
    tree_ = &tree;
    source_ = source;
    vanished_ = false;
    listed_ = CopyListedSourceFields(tree, source, name_, path_) != 0;
    if (!listed_) {
        // A new source, not in any list yet: it belongs to the caller.
        name_ = source->Name();
        path_ = source->Parameter();
    }
    SetIcon(kIconApp);
    int result = DialogBase::Run(&kSourceTemplate, owner);
    tree_ = nullptr;
    source_ = nullptr;
    if (result == 1 && vanished_)
        return 0;
    return result;
}

int SourceDialog::OnInit() {
    SetTitle(FormatTitle(WideString(u"Mistvale")));
    SetItemText(kIdNameLabel, Text(kStrName));
    SetItemText(kIdParameterLabel, Text(kStrParameter));
    SetItemText(kIdOkButton, Text(kStrOk));
    SetItemText(kIdCancelButton, Text(kStrCancel));
    SetItemText(kIdName, name_);
    SetItemText(kIdParameter, path_);
    if (QWidget* hint = ItemWindow(kIdHint))
        hint->setToolTip(
            QStringLiteral("The order of a number's bytes in its registers, A being the most significant:\n"
                           "abcd \u2014 most significant register first (every type's default but float's)\n"
                           "cdab \u2014 registers reversed (a float without an order, low word first)\n"
                           "badc \u2014 the two bytes of every register swapped\n"
                           "dcba \u2014 both"));
    return 1;
}

int SourceDialog::OnCommand(int id, int code) {
    if (EndByButton(id, kIdOkButton, kIdCancelButton))
        return 1;
    return DialogBase::OnCommand(id, code);
}

int SourceDialog::OnDestroy(int result) {
    if (result == 1 && source_ != nullptr) {
        // Stored exactly as typed: spaces, an empty path or one that cannot be read included.
        WideString name;
        WideString path;
        GetItemText(kIdName, name);
        GetItemText(kIdParameter, path);
        if (listed_)
            vanished_ = StoreListedSourceFields(*tree_, source_, name, path) == 0;
        else
            source_->SetNameAndParameter(name, path);
    }
    return 1;
}

} // namespace mistvale
