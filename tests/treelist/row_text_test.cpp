#include "treelist/row_layout.h"
#include "treelist/row_text.h"

#include <gtest/gtest.h>

#include <string>

namespace mistvale {

namespace {

std::u16string PieceText(const char16_t* text, const RowPiece& piece) {
    return std::u16string(text + piece.start, static_cast<size_t>(piece.length));
}

} // namespace

TEST(RowText, PiecesAreTakenLikeTokens) {
    RowPiece pieces[8];
    bool spanning = true;
    const char16_t* twoTabs = u"Name\t\tValue";
    ASSERT_EQ(SplitRowText(twoTabs, -1, pieces, 8, spanning), 2);
    EXPECT_FALSE(spanning);
    EXPECT_EQ(PieceText(twoTabs, pieces[0]), u"Name");
    EXPECT_EQ(PieceText(twoTabs, pieces[1]), u"Value"); // the next column, not the one after

    const char16_t* leading = u"\tSecond\t";
    ASSERT_EQ(SplitRowText(leading, -1, pieces, 8, spanning), 1);
    EXPECT_EQ(PieceText(leading, pieces[0]), u"Second"); // an empty first piece does not exist

    EXPECT_EQ(SplitRowText(u"\t\t\t", -1, pieces, 8, spanning), 0);
    EXPECT_EQ(SplitRowText(u"", -1, pieces, 8, spanning), 0);
}

TEST(RowText, MorePiecesThanRoomStopAtTheLimit) {
    RowPiece pieces[2];
    bool spanning = false;
    const char16_t* text = u"a\tb\tc\td";
    ASSERT_EQ(SplitRowText(text, -1, pieces, 2, spanning), 2);
    EXPECT_EQ(PieceText(text, pieces[1]), u"b");
}

TEST(RowText, SpanningMarkAndCellMarker) {
    RowPiece pieces[4];
    bool spanning = false;
    const char16_t* group = u"Boiler room\v";
    ASSERT_EQ(SplitRowText(group, -1, pieces, 4, spanning), 1);
    EXPECT_TRUE(spanning);
    EXPECT_EQ(PieceText(group, pieces[0]), u"Boiler room");

    const char16_t* source = u"Pressure\t\f";
    ASSERT_EQ(SplitRowText(source, -1, pieces, 4, spanning), 2);
    EXPECT_FALSE(spanning);
    EXPECT_FALSE(IsCellMarkerPiece(source, pieces[0]));
    EXPECT_TRUE(IsCellMarkerPiece(source, pieces[1]));
    // A piece that merely contains U+000C is text.
    const char16_t* mixed = u"x\t\fy";
    ASSERT_EQ(SplitRowText(mixed, -1, pieces, 4, spanning), 2);
    EXPECT_FALSE(IsCellMarkerPiece(mixed, pieces[1]));
}

TEST(RowText, OnlyTheFirst259UnitsArePainted) {
    std::u16string text(300, u'x');
    text[270] = u'\t';
    text += u'\v';
    RowPiece pieces[4];
    bool spanning = false;
    ASSERT_EQ(SplitRowText(text.c_str(), -1, pieces, 4, spanning), 1);
    EXPECT_EQ(pieces[0].length, kMaxPaintedText);
    EXPECT_TRUE(spanning); // a long group name still spans its row
}

TEST(RowLayout, CellRectangles) {
    RowFrame frame;
    frame.textLeft = 40;
    frame.textTop = 18;
    frame.textBottom = 36;
    frame.rowEnd = 700;
    const CellRect first = CellRectFor(frame, 0, 0, 300);
    EXPECT_EQ(first.left, 41);
    EXPECT_EQ(first.right, 295);
    EXPECT_EQ(first.top, 19);
    EXPECT_EQ(first.bottom, 35);
    const CellRect second = CellRectFor(frame, 1, 300, 400);
    EXPECT_EQ(second.left, 304);
    EXPECT_EQ(second.right, 695);
    frame.spanning = true;
    EXPECT_EQ(CellRectFor(frame, 0, 0, 300).right, 695); // runs to 5 pixels before the last column's end
}

TEST(RowLayout, ThemeStates) {
    EXPECT_EQ(RowStateFor(false, false, false, true), kRowNormal);
    EXPECT_EQ(RowStateFor(false, true, false, true), kRowHot);
    EXPECT_EQ(RowStateFor(false, false, true, true), kRowHot);
    EXPECT_EQ(RowStateFor(false, true, true, true), kRowHot);
    EXPECT_EQ(RowStateFor(true, false, false, true), kRowSelected);
    EXPECT_EQ(RowStateFor(true, true, false, true), kRowSelected);
    EXPECT_EQ(RowStateFor(true, false, true, true), kRowHotSelected);
    EXPECT_EQ(RowStateFor(true, true, false, false), kRowSelectedNotFocused);
    EXPECT_EQ(RowStateFor(true, false, true, false), kRowHotSelected);
}

} // namespace mistvale
