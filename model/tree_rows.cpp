#include "model/tree_rows.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"

#include <string_view>

namespace {
constexpr char16_t kSpanMark = u'\v'; // the group row spans both columns
constexpr char16_t kCellMark = u'\f'; // the cell drawer paints this column
constexpr char16_t kColumnSeparator = u'\t';
} // namespace

namespace {

// End of the "/"-token starting at start, by the rules of WideString::NextToken: a token opening with
// '"' runs to its closing quote (one not preceded by a backslash) and then on to the next separator.
int TokenEnd(const char16_t* text, int length, int start) {
    int end = start;
    if (text[start] == u'"') {
        int close = -1;
        for (int i = start + 1; i < length; ++i) {
            if (text[i] == u'"' && text[i - 1] != u'\\') {
                close = i;
                break;
            }
        }
        end = close < 0 ? length : close;
    }
    while (end < length && text[end] != u'/') {
        ++end;
    }
    return end;
}

// Whether the units equal word (lower-case ASCII) when A..Z are folded to lower case.
bool EqualsNoCase(const char16_t* units, int count, std::u16string_view word) {
    if (count != static_cast<int>(word.size())) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        char16_t c = units[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + 32);
        }
        if (c != word[static_cast<size_t>(i)]) {
            return false;
        }
    }
    return true;
}

int VisitDrawnPath(const char16_t* text, int length, void*) {
    return IsDrawnSourcePath(text, length);
}

} // namespace

int IsDrawnSourcePath(const char16_t* text, int length) {
    if (text == nullptr) {
        return 0;
    }
    // A copied WideString ends at the first zero unit, so the tokens never reach past one.
    int n = 0;
    while (n < length && text[n] != 0) {
        ++n;
    }
    if (n == 0) {
        return 0;
    }
    const int first_end = TokenEnd(text, n, 0);
    const int second = first_end < n ? first_end + 1 : first_end;
    if (second >= n) {
        return 0;
    }
    int token_start = second;
    int token_length = TokenEnd(text, n, second) - second;
    if (token_length > 0 && text[token_start] == u'"' && text[token_start + token_length - 1] == u'"') {
        if (token_length == 1) {
            token_length = 0;
        } else {
            ++token_start;
            token_length -= 2;
        }
    }
    const char16_t* token = text + token_start;
    return EqualsNoCase(token, token_length, u"graph") || EqualsNoCase(token, token_length, u"range") ||
                   EqualsNoCase(token, token_length, u"color")
               ? 1
               : 0;
}

int IsDrawnSourcePath(const WideString& parameter) {
    return IsDrawnSourcePath(parameter.Text(), parameter.Length());
}

void AppendGroupRowText(const Group& group, WideString& text) {
    // Built by appending rather than formatting, so a name holding '%' stays as typed.
    group.AppendName(text);
    text.AppendChar(kSpanMark);
}

void AppendSourceRowText(const Source& source, WideString& text) {
    source.AppendName(text);
    text.AppendChar(kColumnSeparator);
    // The parameter is examined in place under the source's lock instead of being copied out. A drawn
    // source whose last read failed shows its failure text: a picture would pass for a value.
    if (source.WithParameter(&VisitDrawnPath, nullptr) && !source.HasFailed()) {
        text.AppendChar(kCellMark);
    } else {
        source.AppendValue(text);
    }
}

WideString GroupRowText(const Group& group) {
    WideString text;
    AppendGroupRowText(group, text);
    return text;
}

WideString SourceRowText(const Source& source) {
    WideString text;
    AppendSourceRowText(source, text);
    return text;
}

void FillTreeRows(LockedList& groups, const TreeSink& sink) {
    void* context = sink.context;
    if (sink.set_redraw != nullptr) {
        sink.set_redraw(context, 0);
    }
    Record* selected =
        sink.get_selected_item_data != nullptr ? sink.get_selected_item_data(context) : nullptr;
    if (sink.delete_all_items != nullptr) {
        sink.delete_all_items(context);
    }
    if (sink.insert_item != nullptr) {
        // One row-text buffer for the whole rebuild: the sink copies the text it is handed.
        WideString text;
        SharedLock groups_lock(groups);
        for (ListItem* group_item = groups.First(); group_item != nullptr; group_item = group_item->Next()) {
            Group* group = static_cast<Group*>(group_item);
            LockedList& sources = group->Sources();
            // The source list gets its own shared lock: another thread may append to it meanwhile.
            SharedLock sources_lock(sources);
            int has_children = sources.First() != nullptr ? 1 : 0;
            text.Clear();
            AppendGroupRowText(*group, text);
            void* group_row = sink.insert_item(context, nullptr, text, kGroupIcon, has_children,
                                               static_cast<Record*>(group));
            if (group_row == nullptr) {
                continue; // this group with its sources is left out of this rebuild
            }
            for (ListItem* source_item = sources.First(); source_item != nullptr;
                 source_item = source_item->Next()) {
                Source* source = static_cast<Source*>(source_item);
                text.Clear();
                AppendSourceRowText(*source, text);
                sink.insert_item(context, group_row, text, kSourceIcon, 0, static_cast<Record*>(source));
            }
            if (sink.expand_item != nullptr) {
                sink.expand_item(context, group_row);
            }
        }
    }
    void* item = nullptr;
    if (selected != nullptr && sink.find_item_by_data != nullptr) {
        item = sink.find_item_by_data(context, selected);
    }
    if (sink.select_item != nullptr) {
        sink.select_item(context, item);
    }
    if (item != nullptr && sink.scroll_item_to_top != nullptr) {
        sink.scroll_item_to_top(context, item);
    }
    if (sink.set_redraw != nullptr) {
        sink.set_redraw(context, 1);
    }
}
