#pragma once
// The Source dialog (template 104): edits the name and the register path of one source. Both texts are
// stored exactly as typed; a hint line reminds the user of the format suffixes.

#include "dialogs/dialog_base.h"
#include "platform/wide_string.h"

namespace mistvale {

class MonitorTree;
class Source;

class SourceDialog : public DialogBase {
public:
    enum : int {
        kIdParameter = 1007, // edit: the register path
        kIdName = 1009,      // edit: the name
        kIdCancelButton = 1010,
        kIdOkButton = 1022,
        kIdNameLabel = 1036,
        kIdParameterLabel = 1037,
        kIdHint = 1043,
    };

    SourceDialog() = default;

    // Runs the dialog over owner on source; 1 for OK, 0 otherwise (-1 when it could not run). A source
    // that tree lists is changed in place while it is still listed (0 when the worker deleted it
    // meanwhile); a new source that is not listed yet belongs to the caller and is changed on OK.
    int Run(MonitorTree& tree, Source* source, QWidget* owner);

    static const DialogTemplate* Template();

protected:
    int OnInit() override;
    int OnCommand(int id, int code) override;
    int OnDestroy(int result) override;

private:
    MonitorTree* tree_ = nullptr;
    Source* source_ = nullptr;
    bool listed_ = false;
    bool vanished_ = false;
    WideString name_;
    WideString path_;
};

} // namespace mistvale
