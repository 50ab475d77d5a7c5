#include "app/context_menu_rules.h"

#include "app/record_lookup.h"
#include "platform/wide_string.h"

namespace mistvale {

namespace {

// ASCII-only case folding: the path kinds are plain ASCII words.
bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char16_t a = *text;
        char16_t b = *prefix;
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= u'A' && b <= u'Z')
            b = static_cast<char16_t>(b - u'A' + u'a');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

int IsModbusConnectionPath(const char16_t* path) {
    if (path == nullptr)
        return 0;
    return StartsWithNoCase(path, u"ModbusSerial/") || StartsWithNoCase(path, u"ModbusTcpIp/") ? 1 : 0;
}

ContextMenuState ContextMenuStateFor(const RecordSnapshot* record) {
    ContextMenuState state;
    if (record == nullptr)
        return state;
    if (record->kind == RecordKind::Group) {
        state.addSource = true;
        state.addAllRegisters = IsModbusConnectionPath(record->parameter.Text()) != 0;
    }
    state.setValue = record->kind == RecordKind::Source;
    state.edit = true;
    state.remove = true;
    return state;
}

} // namespace mistvale
