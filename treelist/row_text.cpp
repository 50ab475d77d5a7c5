#include "treelist/row_text.h"

namespace mistvale {

int SplitRowText(const char16_t* text, int length, RowPiece* pieces, int maxPieces, bool& spanning) {
    spanning = false;
    if (!text)
        return 0;
    if (length < 0) {
        length = 0;
        while (text[length] != 0)
            ++length;
    }
    // The mark is looked for at the end of the whole text, so a long group name still spans its row.
    if (length > 0 && text[length - 1] == kSpanningMark) {
        spanning = true;
        --length;
    }
    if (length > kMaxPaintedText)
        length = kMaxPaintedText;
    int count = 0;
    int i = 0;
    while (i < length && count < maxPieces) {
        while (i < length && text[i] == kPieceSeparator)
            ++i;
        if (i >= length)
            break;
        const int start = i;
        while (i < length && text[i] != kPieceSeparator)
            ++i;
        pieces[count].start = start;
        pieces[count].length = i - start;
        ++count;
    }
    return count;
}

bool IsCellMarkerPiece(const char16_t* text, const RowPiece& piece) {
    return piece.length == 1 && text[piece.start] == kCellMarker;
}

} // namespace mistvale
