#include "treelist/value_cell_drawer.h"

#include "model/record.h"
#include "model/source.h"
#include "platform/wide_string.h"
#include "treelist/value_painters.h"

#include <vector>

namespace mistvale {

namespace {

// One "/"-token the way WideString::NextToken takes it without skipping separators: a token that starts
// with a quote runs to the first separator after the closing quote, and a quoted token loses its quotes.
// Returns false when nothing is left.
bool NextPathToken(const char16_t* text, int length, int& position, int& start, int& count) {
    if (position >= length)
        return false;
    const int end = WideTokenEnd(text, length, position, u"/");
    start = position;
    count = end - position;
    WideTokenUnquote(text, start, count);
    position = end < length ? end + 1 : end;
    return true;
}

bool EqualsNoCase(const char16_t* text, int count, const char* word) {
    int i = 0;
    for (; i < count; ++i) {
        if (word[i] == 0)
            return false;
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<char16_t>(word[i]))
            return false;
    }
    return word[i] == 0;
}

} // namespace

int ParseValueCellPath(const char16_t* path, int length, ValueCellSpec& layout) {
    layout = ValueCellSpec();
    if (!path)
        return 0;
    if (length < 0) {
        length = 0;
        while (path[length] != 0)
            ++length;
    }
    int position = 0;
    int start = 0;
    int count = 0;
    if (!NextPathToken(path, length, position, start, count)) // register
        return 0;
    if (!NextPathToken(path, length, position, start, count)) // format
        return 0;
    const int formatStart = start;
    const int formatCount = count;
    if (NextPathToken(path, length, position, start, count)) {
        ParseCellNumber(path + start, count, layout.min);
        if (NextPathToken(path, length, position, start, count))
            ParseCellNumber(path + start, count, layout.max);
    }
    if (layout.max == layout.min)
        return 0;
    if (EqualsNoCase(path + formatStart, formatCount, "graph"))
        layout.kind = kValueCellGraph;
    else if (EqualsNoCase(path + formatStart, formatCount, "range"))
        layout.kind = kValueCellRange;
    else if (EqualsNoCase(path + formatStart, formatCount, "color"))
        layout.kind = kValueCellColor;
    return layout.kind != kValueCellNone ? 1 : 0;
}

namespace {

// The texts are read in place under the source's lock: a paint of many cells copies nothing.
int ParseLayoutInPlace(const char16_t* text, int length, void* layout) {
    return ParseValueCellPath(text, length, *static_cast<ValueCellSpec*>(layout));
}

int ParseNumberInPlace(const char16_t* text, int length, void* number) {
    return ParseCellNumber(text, length, *static_cast<std::int32_t*>(number));
}

} // namespace

void DrawValueCell(TreeItem, void* data, int, const CellRect& rect, DrawingSurface& surface, void*) {
    Source* source = AsSource(static_cast<Record*>(data));
    if (!source || rect.right <= rect.left)
        return;
    ValueCellSpec layout;
    if (!source->WithParameter(&ParseLayoutInPlace, &layout))
        return;
    if (layout.kind == kValueCellGraph) {
        // From the first painting on, every successful read appends a sample. A failed creation leaves
        // the history empty and the graph flat at min.
        if (!source->HistoryCreated())
            source->CreateHistory();
        // Reused between paintings (user-interface thread only), so copying the samples allocates once.
        thread_local std::vector<std::int16_t> samples;
        if (samples.capacity() < SampleHistory::kCapacity)
            samples.reserve(SampleHistory::kCapacity);
        const std::uint32_t count = source->CopySamples(samples);
        PaintGraph(samples.data(), static_cast<int>(count), layout.min, layout.max, rect, surface);
        return;
    }
    std::int32_t number = 0;
    if (!source->WithValue(&ParseNumberInPlace, &number))
        number = 0;
    if (layout.kind == kValueCellRange)
        PaintRange(number, layout.min, layout.max, rect, surface);
    else
        PaintColor(number, layout.min, layout.max, rect, surface);
}

} // namespace mistvale
