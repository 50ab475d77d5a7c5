#pragma once

#include <string>
// The Value dialog (template 144): shows a source's current value text and, on OK, hands the edited
// text to the refresh worker as a SetValue job. The outcome shows in the tree-list afterwards.

#include "dialogs/dialog_base.h"

namespace mistvale {

class MonitorTree;
class Source;

class ValueDialog : public DialogBase {
public:
    enum : int {
        kIdCancelButton = 1010,
        kIdOkButton = 1022,
        kIdValueLabel = 1041,
        kIdValue = 1042,  // edit: the value text
        kIdTarget = 1043, // label: what the value goes to
    };

    ValueDialog() = default;

    // Runs the dialog over owner for a source of tree. A source that tree does not list (any more)
    // is never touched: the dialog does not open and the result is 0. On OK the edit's text, exactly as
    // typed, is queued with tree.QueueSetValue (a refused job is dropped silently). Returns 1 for OK,
    // 0 otherwise, -1 when the dialog could not run.
    int Run(MonitorTree& tree, Source* source, QWidget* owner);

    static const DialogTemplate* Template();

protected:
    int OnInit() override;
    int OnCommand(int id, int code) override;
    int OnDestroy(int result) override;

private:
    MonitorTree* tree_ = nullptr;
    Source* source_ = nullptr;
    WideString value_;   // the value text when the dialog opened
    std::string target_; // what the value goes to, in words
};

} // namespace mistvale
