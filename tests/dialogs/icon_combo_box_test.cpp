// IconComboBox over the combo boxes of a real dialog: sorting, finding, values and selection.
#include <QComboBox>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "dialogs/dialog_base.h"
#include "dialogs/icon_combo_box.h"
#include "resources/app_icons.h"

namespace mistvale {

namespace {

enum : int { kSorted = 1015, kPlain = 1029, kEditable = 1030, kLabel = 1031 };

const ControlTemplate kControls[] = {
    {kSorted, ControlKind::DropDownList, 75, 75, 225, 144, nullptr, kStyleSorted},
    {kPlain, ControlKind::DropDownList, 75, 115, 60, 109, nullptr, kStyleNone},
    {kEditable, ControlKind::DropDownCombo, 75, 95, 59, 124, nullptr, kStyleNone},
    {kLabel, ControlKind::Label, 5, 5, 50, 14, "Port", kStyleNone},
};
const DialogTemplate kTemplate = {105, 307, 245, nullptr, kControls, int(std::size(kControls)), kDialogNone};

// Runs the dialog once with body acting inside the modal loop.
class ComboDialog : public DialogBase {
public:
    std::function<void(ComboDialog&)> body;
    IconComboBox sorted, plain, editable;
    int RunBody() { return Run(&kTemplate, nullptr); }

protected:
    int OnInit() override {
        QTimer::singleShot(0, Window(), [this] {
            body(*this);
            End(0);
        });
        return 1;
    }
};

QStringList Texts(const IconComboBox& box) {
    QStringList texts;
    for (int i = 0; i < box.Count(); ++i)
        texts << box.Control()->itemText(i);
    return texts;
}

} // namespace

TEST(IconComboBox, SortedBoxKeepsOrderWithoutRegardToCaseAndValuesTravelWithEntries) {
    ComboDialog dialog;
    QStringList order;
    std::vector<std::uint32_t> values;
    int lastIndex = -1;
    bool iconsSet = true;
    dialog.body = [&](ComboDialog& d) {
        ASSERT_EQ(d.sorted.Attach(d.ItemWindow(kSorted)), 1);
        d.sorted.Add(QStringLiteral("ttyUSB0"), 10, kIconSerialPort);
        d.sorted.Add(QStringLiteral("Use last device from list"), 20, kIconSerialPort);
        d.sorted.Add(QStringLiteral("ttyACM1"), 30, kIconSerialPort);
        d.sorted.Add(QStringLiteral("ACME (ttyS0)"), 40, kIconSerialPort, &lastIndex);
        order = Texts(d.sorted);
        for (int i = 0; i < d.sorted.Count(); ++i) {
            values.push_back(d.sorted.ValueAt(i));
            iconsSet = iconsSet && !d.sorted.Control()->itemIcon(i).isNull();
        }
    };
    dialog.RunBody();
    EXPECT_EQ(order, (QStringList{"ACME (ttyS0)", "ttyACM1", "ttyUSB0", "Use last device from list"}));
    EXPECT_EQ(values, (std::vector<std::uint32_t>{40, 30, 10, 20}));
    EXPECT_EQ(lastIndex, 0);
    EXPECT_TRUE(iconsSet);
}

TEST(IconComboBox, UnsortedBoxAppendsAndAddingSelectsNothing) {
    ComboDialog dialog;
    QStringList order;
    int selectedBefore = -1, selectedAfter = 0, index = -1;
    std::uint32_t value = 0;
    dialog.body = [&](ComboDialog& d) {
        d.plain.Attach(d.ItemWindow(kPlain));
        d.plain.Add(QStringLiteral("None"), 'N', kIconParityNone);
        d.plain.Add(QStringLiteral("Even"), 'E', kIconParityEven);
        d.plain.Add(QStringLiteral("Odd"), 'O', kIconParityOdd);
        order = Texts(d.plain);
        selectedBefore = d.plain.SelectedValue(&index, &value);
        EXPECT_EQ(d.plain.Select(1), 1);
        selectedAfter = d.plain.SelectedValue(&index, &value);
        EXPECT_EQ(d.plain.Select(3), 0);
    };
    dialog.RunBody();
    EXPECT_EQ(order, (QStringList{"None", "Even", "Odd"}));
    EXPECT_EQ(selectedBefore, 0);
    EXPECT_EQ(selectedAfter, 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(value, std::uint32_t('E'));
}

TEST(IconComboBox, FindTextExactOrPrefixWithoutCaseAndWrapping) {
    ComboDialog dialog;
    std::vector<std::pair<int, int>> found;
    auto record = [&found](const IconComboBox& box, const QString& text, int exact, int start) {
        int index = -7;
        int ok = box.FindText(text, exact, start, &index);
        found.emplace_back(ok, ok ? index : -7);
    };
    dialog.body = [&](ComboDialog& d) {
        d.plain.Attach(d.ItemWindow(kPlain));
        for (const char* text : {"9600", "19200", "38400", "57600", "115200", "Serial"})
            d.plain.Add(QString::fromLatin1(text), 0, kIconBaudRate);
        record(d.plain, QStringLiteral("38400"), 1, -1);   // exact
        record(d.plain, QStringLiteral("SERIAL"), 1, -1);  // exact, other case
        record(d.plain, QStringLiteral("3840"), 1, -1);    // not exact
        record(d.plain, QStringLiteral("3840"), 0, -1);    // prefix
        record(d.plain, QStringLiteral("se"), 0, -1);      // prefix, other case
        record(d.plain, QStringLiteral("1"), 0, -1);       // first prefix match
        record(d.plain, QStringLiteral("1"), 0, 1);        // after index 1
        record(d.plain, QStringLiteral("19200"), 1, 3);    // wraps round to the top
        record(d.plain, QStringLiteral("9600"), 1, 0);     // only the start itself is left: found last
        record(d.plain, QStringLiteral("nothing"), 0, -1); // absent
    };
    dialog.RunBody();
    std::vector<std::pair<int, int>> expected = {{1, 2}, {1, 5}, {0, -7}, {1, 2}, {1, 5},
                                                 {1, 1}, {1, 4}, {1, 1},  {1, 0}, {0, -7}};
    EXPECT_EQ(found, expected);
}

TEST(IconComboBox, FindValueFromStartAndClear) {
    ComboDialog dialog;
    int firstOk = 0, first = -1, laterOk = 0, later = -1, negativeOk = 0, negative = -1, missing = 1;
    int countAfterClear = -1, selectedAfterClear = 1;
    dialog.body = [&](ComboDialog& d) {
        d.plain.Attach(d.ItemWindow(kPlain));
        d.plain.Add(QStringLiteral("a"), 5, kIconDevice);
        d.plain.Add(QStringLiteral("b"), 6, kIconDevice);
        d.plain.Add(QStringLiteral("c"), 5, kIconDevice);
        firstOk = d.plain.FindValue(5, 0, &first);
        laterOk = d.plain.FindValue(5, 1, &later);
        negativeOk = d.plain.FindValue(6, -4, &negative);
        int dummy;
        missing = d.plain.FindValue(9, 0, &dummy);
        d.plain.Select(2);
        d.plain.Clear();
        countAfterClear = d.plain.Count();
        selectedAfterClear = d.plain.SelectedValue(nullptr, nullptr);
    };
    dialog.RunBody();
    EXPECT_EQ(firstOk, 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(laterOk, 1);
    EXPECT_EQ(later, 2);
    EXPECT_EQ(negativeOk, 1);
    EXPECT_EQ(negative, 1);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(countAfterClear, 0);
    EXPECT_EQ(selectedAfterClear, 0);
}

TEST(IconComboBox, EditableBoxTextIsTheFieldAndTypedTextAddsNoEntry) {
    ComboDialog dialog;
    QString text, listText;
    int length = 0, count = 0, listSet = 0, listMissing = 1;
    dialog.body = [&](ComboDialog& d) {
        d.editable.Attach(d.ItemWindow(kEditable));
        d.editable.Add(QStringLiteral("9600"), 0, kIconBaudRate);
        d.editable.Add(QStringLiteral("19200"), 0, kIconBaudRate);
        d.editable.SetText(QStringLiteral("250000"));
        length = d.editable.GetText(text);
        count = d.editable.Count();
        d.plain.Attach(d.ItemWindow(kPlain));
        d.plain.Add(QStringLiteral("None"), 'N', kIconParityNone);
        d.plain.Add(QStringLiteral("Odd"), 'O', kIconParityOdd);
        listSet = d.plain.SetText(QStringLiteral("odd"));
        d.plain.GetText(listText);
        listMissing = d.plain.SetText(QStringLiteral("Mark"));
    };
    dialog.RunBody();
    EXPECT_EQ(text, QStringLiteral("250000"));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(listSet, 1);
    EXPECT_EQ(listText, QStringLiteral("Odd"));
    EXPECT_EQ(listMissing, 0);
}

TEST(IconComboBox, NothingAttachedOrControlGoneFailsQuietly) {
    IconComboBox box;
    EXPECT_EQ(box.Add(QStringLiteral("x"), 1, kIconDevice), 0);
    EXPECT_EQ(box.Attach(nullptr), 0);
    EXPECT_EQ(box.Count(), 0);
    // The combo box of a dialog that has ended is gone with it.
    ComboDialog dialog;
    dialog.body = [](ComboDialog& d) {
        d.sorted.Attach(d.ItemWindow(kSorted));
        d.sorted.Add(QStringLiteral("x"), 1, kIconDevice);
        EXPECT_EQ(d.plain.Attach(d.ItemWindow(kLabel)), 0);
    };
    dialog.RunBody();
    EXPECT_EQ(dialog.sorted.Control(), nullptr);
    EXPECT_EQ(dialog.sorted.Count(), 0);
    int index = -1;
    EXPECT_EQ(dialog.sorted.FindText(QStringLiteral("x"), 1, -1, &index), 0);
}

} // namespace mistvale
