#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/string_table.h"

namespace mistvale {

static std::u16string Str(const WideString& s) {
    return std::u16string(s.View());
}

TEST(StringTable, TextsAsStored) {
    EXPECT_EQ(std::u16string(Text(1)), u"Create");
    EXPECT_EQ(std::u16string(Text(kStrCantGetValue)), u"Can't get value.");
    EXPECT_EQ(std::u16string(Text(27)), u"Do you want to delete the group '%1' and all of it's sources?");
    EXPECT_EQ(std::u16string(Text(30)), u"Device at address 0x%02X");
    EXPECT_EQ(std::u16string(Text(39)), u"Can't set value.");
    EXPECT_EQ(std::u16string(Text(40)), u"?");
    EXPECT_EQ(std::u16string(Text(0)), u"?");
    for (int id = 1; id <= 39; ++id)
        EXPECT_NE(std::u16string(Text(id)), u"?") << id;
    WideString out;
    EXPECT_EQ(Text(26, out), 1);
    EXPECT_EQ(Str(out), u"Source");
    EXPECT_EQ(Text(-3, out), 0);
    EXPECT_EQ(Str(out), u"?");
}

TEST(StringTableFormat, InsertsAreNeverScannedAgain) {
    WideString out;
    ASSERT_EQ(FormatText(out, 28, {u"Pump"}), 1);
    EXPECT_EQ(Str(out), u"Do you want to delete the source 'Pump'?");
    ASSERT_EQ(FormatText(out, 28, {u"100%"}), 1);
    EXPECT_EQ(Str(out), u"Do you want to delete the source '100%'?");
    ASSERT_EQ(FormatText(out, 28, {u"%1"}), 1);
    EXPECT_EQ(Str(out), u"Do you want to delete the source '%1'?");
    ASSERT_EQ(FormatText(out, 27, {u"%0 %n !s!"}), 1);
    EXPECT_EQ(Str(out), u"Do you want to delete the group '%0 %n !s!' and all of it's sources?");
    WideString name(u"Tank \u00C4");
    ASSERT_EQ(FormatText(name, 28, {name}), 1);
    EXPECT_EQ(Str(name), u"Do you want to delete the source 'Tank \u00C4'?");
}

TEST(StringTableFormat, EscapesAndTheEndInsert) {
    WideString out;
    ASSERT_EQ(FormatInserts(out, u"a%0b", {}), 1);
    EXPECT_EQ(Str(out), u"a");
    ASSERT_EQ(FormatInserts(out, u"100%% %. %! x%ty%nz %q end%", {}), 1);
    EXPECT_EQ(Str(out), u"100% . ! x\ty\nz q end");
    // "0x%02X" holds "%0": the text ends there, as with the desktop's formatter.
    ASSERT_EQ(FormatText(out, 30, {5}), 1);
    EXPECT_EQ(Str(out), u"Device at address 0x");
}

TEST(StringTableFormat, NumberedInsertsWidthAndType) {
    WideString out;
    ASSERT_EQ(FormatInserts(out, u"%2-%1-%2", {u"a", u"b"}), 1);
    EXPECT_EQ(Str(out), u"b-a-b");
    ASSERT_EQ(FormatInserts(out, u"[%1!04X!][%2!-6s!][%3!.3f!][%4!5d!][%5!u!]", {0xab, u"ab", 2.5, -7, 42u}),
              1);
    EXPECT_EQ(Str(out), u"[00AB][ab    ][2.500][   -7][42]");
    // Length modifiers name other sizes; the argument's own type is what is read.
    ASSERT_EQ(FormatInserts(out, u"%1!I64u! %2!hd! %3!ld!", {7u, 70000, 5}), 1);
    EXPECT_EQ(Str(out), u"7 70000 5");
    // A number shown with the default "s" directive, and text given to a number directive.
    ASSERT_EQ(FormatInserts(out, u"%1 %2!d!", {12, u"x"}), 1);
    EXPECT_EQ(Str(out), u"12 x");
    ASSERT_EQ(FormatInserts(out, u"%10", {1, 2, 3, 4, 5, 6, 7, 8, 9, u"ten"}), 1);
    EXPECT_EQ(Str(out), u"ten");
    ASSERT_EQ(FormatInserts(out, u"%100", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 1);
    EXPECT_EQ(Str(out), u"100");
}

TEST(StringTableFormat, MissingArgumentsAndBadDirectivesFail) {
    WideString out;
    EXPECT_EQ(FormatText(out, 28, {}), 0);
    EXPECT_EQ(Str(out), u"Do you want to delete the source '%1'?");
    EXPECT_EQ(FormatInserts(out, u"a %1!*d! b", {3}), 0);
    EXPECT_EQ(Str(out), u"a %1!*d! b");
    EXPECT_EQ(FormatInserts(out, u"a %1!d b", {3}), 0);
    EXPECT_EQ(Str(out), u"a %1!d b");
    EXPECT_EQ(FormatText(out, 99, {u"x"}), 0);
    EXPECT_EQ(Str(out), u"?");
}

TEST(StringTableFormat, ResultIsCutTo599UnitsWithoutSplittingAPair) {
    std::u16string longName(700, u'n');
    WideString out;
    ASSERT_EQ(FormatText(out, 28, {longName.c_str()}), 1);
    EXPECT_EQ(out.Length(), 599);
    EXPECT_EQ(std::u16string(out.View().substr(0, 34)), u"Do you want to delete the source '");
    std::u16string pairs;
    for (int i = 0; i < 400; ++i)
        pairs += u"\U0001F600";
    ASSERT_EQ(FormatInserts(out, u"x%1", {pairs.c_str()}), 1);
    EXPECT_EQ(out.Length(), 599);
    EXPECT_EQ(out.At(598), u'\xDE00');
    ASSERT_EQ(FormatInserts(out, u"%1", {pairs.c_str()}), 1);
    EXPECT_EQ(out.Length(), 598);
}

TEST(StringTableFormat, CallsFromTwoThreadsDoNotInterfere) {
    auto work = [](const char16_t* name, const char16_t* expected, int* failures) {
        WideString out;
        for (int i = 0; i < 2000; ++i) {
            FormatText(out, 28, {name});
            if (out.View() != std::u16string_view(expected) ||
                std::u16string(Text(37)) != u"Can't get value.")
                ++*failures;
        }
    };
    int failuresA = 0;
    int failuresB = 0;
    std::thread a(work, u"A", u"Do you want to delete the source 'A'?", &failuresA);
    std::thread b(work, u"Bb", u"Do you want to delete the source 'Bb'?", &failuresB);
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
}

} // namespace mistvale
