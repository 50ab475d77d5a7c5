#include "model/tree_rows.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"

#include <string_view>
#include <unordered_map>

namespace mistvale {

namespace {
constexpr char16_t kSpanMark = u'\v'; // the group row spans both columns
constexpr char16_t kCellMark = u'\f'; // the cell drawer paints this column
constexpr char16_t kColumnSeparator = u'\t';
} // namespace

namespace {

// End of the "/"-token starting at start, by the rules of WideString::NextToken.
int TokenEnd(const char16_t* text, int length, int start) {
    return WideTokenEnd(text, length, start, u"/");
}

// Whether the units equal word (lower-case ASCII) when A..Z are folded to lower case.
bool EqualsNoCase(const char16_t* units, int count, std::u16string_view word) {
    if (count != static_cast<int>(word.size()))
        return false;
    for (int i = 0; i < count; ++i) {
        char16_t c = units[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
        if (c != word[static_cast<size_t>(i)])
            return false;
    }
    return true;
}

int VisitDrawnPath(const char16_t* text, int length, void*) {
    return IsDrawnSourcePath(text, length);
}

} // namespace

int IsDrawnSourcePath(const char16_t* text, int length) {
    if (text == nullptr)
        return 0;
    // A copied WideString ends at the first zero unit, so the tokens never reach past one.
    int n = 0;
    while (n < length && text[n] != 0)
        ++n;
    if (n == 0)
        return 0;
    const int firstEnd = TokenEnd(text, n, 0);
    const int second = firstEnd < n ? firstEnd + 1 : firstEnd;
    if (second >= n)
        return 0;
    int tokenStart = second;
    int tokenLength = TokenEnd(text, n, second) - second;
    if (tokenLength > 0 && text[tokenStart] == u'"' && text[tokenStart + tokenLength - 1] == u'"') {
        if (tokenLength == 1) {
            tokenLength = 0;
        } else {
            ++tokenStart;
            tokenLength -= 2;
        }
    }
    const char16_t* token = text + tokenStart;
    return EqualsNoCase(token, tokenLength, u"graph") || EqualsNoCase(token, tokenLength, u"range") ||
                   EqualsNoCase(token, tokenLength, u"color")
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
    if (source.WithParameter(&VisitDrawnPath, nullptr) && !source.HasFailed())
        text.AppendChar(kCellMark);
    else
        source.AppendValue(text);
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
    if (sink.setRedraw != nullptr)
        sink.setRedraw(context, 0);
    Record* selected = sink.getSelectedItemData != nullptr ? sink.getSelectedItemData(context) : nullptr;
    const bool keepView =
        sink.expandedRows != nullptr && sink.scrollPosition != nullptr && sink.setScrollPosition != nullptr;
    // Groups not listed yet are new: they open.
    std::unordered_map<const Record*, int> expanded;
    int scroll = 0;
    if (keepView) {
        sink.expandedRows(
            context,
            [](const Record* data, int open, void* map) {
                (*static_cast<std::unordered_map<const Record*, int>*>(map))[data] = open;
            },
            &expanded);
        scroll = sink.scrollPosition(context);
    }
    if (sink.deleteAllItems != nullptr)
        sink.deleteAllItems(context);
    if (sink.insertItem != nullptr) {
        // One row-text buffer for the whole rebuild: the sink copies the text it is handed.
        WideString text;
        SharedLock groupsLock(groups);
        for (ListItem* groupItem = groups.First(); groupItem != nullptr; groupItem = groupItem->Next()) {
            Group* group = static_cast<Group*>(groupItem);
            LockedList& sources = group->Sources();
            // The source list gets its own shared lock: another thread may append to it meanwhile.
            SharedLock sourcesLock(sources);
            int hasChildren = sources.First() != nullptr ? 1 : 0;
            text.Clear();
            AppendGroupRowText(*group, text);
            void* groupRow =
                sink.insertItem(context, nullptr, text, kGroupIcon, hasChildren, static_cast<Record*>(group));
            if (groupRow == nullptr)
                continue; // this group with its sources is left out of this rebuild
            for (ListItem* sourceItem = sources.First(); sourceItem != nullptr;
                 sourceItem = sourceItem->Next()) {
                Source* source = static_cast<Source*>(sourceItem);
                text.Clear();
                AppendSourceRowText(*source, text);
                sink.insertItem(context, groupRow, text, kSourceIcon, 0, static_cast<Record*>(source));
            }
            const auto state = expanded.find(static_cast<Record*>(group));
            const bool open = !keepView || state == expanded.end() || state->second != 0;
            if (open && sink.expandItem != nullptr)
                sink.expandItem(context, groupRow);
        }
    }
    void* item = nullptr;
    if (selected != nullptr && sink.findItemByData != nullptr)
        item = sink.findItemByData(context, selected);
    if (sink.selectItem != nullptr)
        sink.selectItem(context, item);
    if (keepView)
        sink.setScrollPosition(context, scroll);
    else if (item != nullptr && sink.scrollItemToTop != nullptr)
        sink.scrollItemToTop(context, item);
    if (sink.setRedraw != nullptr)
        sink.setRedraw(context, 1);
}

} // namespace mistvale
