#pragma once

namespace mistvale {

// The text convention of tree-list rows, without any toolkit:
// - TAB separates the pieces; piece n belongs to header column n. Pieces are taken like tokens: leading
//   TABs and runs of TABs count as one separator, so there are no empty pieces.
// - A piece that is exactly U+000C is not text: the owner's cell drawer paints that cell.
// - A last character U+000B marks a spanning row; it is not part of any piece.

constexpr char16_t kPieceSeparator = u'\t';
constexpr char16_t kCellMarker = u'\f';
constexpr char16_t kSpanningMark = u'\v';

// At most this many characters of an item's text are used for painting (a 260-character buffer).
constexpr int kMaxPaintedText = 259;

struct RowPiece {
    int start = 0;
    int length = 0;
};

// Splits `text` (of `length` characters, or up to its zero terminator when `length` < 0) into at most
// `maxPieces` pieces. `spanning` tells whether the whole text ends in U+000B. Only the first
// kMaxPaintedText characters are split. Returns the number of pieces stored.
int SplitRowText(const char16_t* text, int length, RowPiece* pieces, int maxPieces, bool& spanning);

// Whether a piece is the owner-drawn cell marker.
bool IsCellMarkerPiece(const char16_t* text, const RowPiece& piece);

} // namespace mistvale
