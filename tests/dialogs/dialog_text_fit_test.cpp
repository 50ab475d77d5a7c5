// Every dialog's texts fit their controls, measured with the metrics of the font each control draws
// with: at the 9 pt the dialogs are laid out for, at 12 pt, and (run again by ctest with
// QT_SCALE_FACTOR=2) at 200 %. Controls are sized in dialog units of the dialog's font, so a larger font
// makes a larger dialog; a text that grew more than its font (a long translation, a fixed pixel size)
// would be cut.
#include "dialog_driver.h"
#include "dialogs/group_dialog.h"
#include "dialogs/options_dialog.h"
#include "dialogs/search_dialog.h"
#include "dialogs/source_dialog.h"
#include "dialogs/value_dialog.h"
#include "model/monitor_tree.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <gtest/gtest.h>

#include <cstdlib>

namespace mistvale {

namespace {

// A control's text as drawn: without the mnemonic marks.
QString Drawn(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// The controls of window whose text does not fit them, each named with its text and the widths.
std::vector<std::string> Misfits(const QWidget* window) {
    std::vector<std::string> misfits;
    auto note = [&](const QWidget* w, const QString& text, int need, int room) {
        if (need > room)
            misfits.push_back(std::string(w->metaObject()->className()) + " \"" + text.toStdString() +
                              "\" needs " + std::to_string(need) + " px, has " + std::to_string(room));
    };
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        const QFontMetrics metrics(w->font());
        const QStyle* style = w->style();
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            const QString text = Drawn(label->text());
            if (text.isEmpty() || label->textFormat() == Qt::RichText)
                continue;
            const QRect room = label->contentsRect();
            const int flags =
                static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            const QRect need = metrics.boundingRect(room, flags, text);
            note(w, text, need.width(), room.width());
            note(w, text + " (height)", need.height(), room.height());
        } else if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
            const bool radio = qobject_cast<const QRadioButton*>(w) != nullptr;
            const QString text = Drawn(static_cast<const QAbstractButton*>(w)->text());
            note(w, text,
                 style->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth) +
                     style->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing
                                              : QStyle::PM_CheckBoxLabelSpacing) +
                     metrics.horizontalAdvance(text),
                 w->width());
        } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
            const QString text = Drawn(button->text());
            if (text.isEmpty())
                continue;
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            note(w, text,
                 metrics.horizontalAdvance(text) + icon + 2 * style->pixelMetric(QStyle::PM_ButtonMargin) / 2,
                 button->width() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth));
        } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
            const QString text = Drawn(group->title());
            note(w, text, metrics.horizontalAdvance(text) + 2 * metrics.averageCharWidth(), group->width());
        } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            if (combo->isEditable())
                continue; // what the user types may be longer than any field
            for (int i = 0; i < combo->count(); ++i) {
                const QString text = combo->itemText(i);
                const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
                note(w, text, metrics.horizontalAdvance(text) + icon,
                     combo->width() - style->pixelMetric(QStyle::PM_ScrollBarExtent) -
                         2 * style->pixelMetric(QStyle::PM_ComboBoxFrameWidth));
            }
        }
    }
    return misfits;
}

// The dialogs as the program builds them, each from its template (texts set at run time are checked
// where the dialog's own test runs it: the Source dialog's hint).
struct TemplateOnly : DialogBase {};

class DialogTextFit : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        saved_ = QApplication::font();
        QFont font = saved_;
        font.setPointSize(GetParam());
        QApplication::setFont(font);
    }
    void TearDown() override { QApplication::setFont(saved_); }
    QFont saved_;
};

TEST_P(DialogTextFit, EveryControlsTextFits) {
    const struct {
        const char* name;
        const DialogTemplate* dialog;
    } dialogs[] = {
        {"Group", GroupDialog::Template()},     {"Source", SourceDialog::Template()},
        {"Options", OptionsDialog::Template()}, {"Value", ValueDialog::Template()},
        {"Search", SearchDialog::Template()},
    };
    for (const auto& d : dialogs) {
        TemplateOnly dialog;
        std::vector<std::string> misfits{"not shown"};
        WhenShown(dialog, [&] {
            misfits = Misfits(dialog.Window());
            // The 200 % run is drawn at twice the pixels.
            const char* scale = std::getenv("QT_SCALE_FACTOR");
            EXPECT_EQ(dialog.Window()->devicePixelRatioF(), scale != nullptr ? std::atof(scale) : 1.0);
            dialog.End(0);
        });
        EXPECT_EQ(dialog.Run(d.dialog, nullptr), 0) << d.name;
        EXPECT_TRUE(misfits.empty()) << d.name << " at " << GetParam() << " pt: " << misfits.front();
    }
    // Texts set as the dialogs open.
    MonitorTree tree;
    auto* group = new Group();
    tree.AddGroup(group);
    auto* source = new Source();
    tree.AddSource(group, source);
    SourceDialog sourceDialog;
    std::vector<std::string> misfits{"not shown"};
    WhenShown(sourceDialog, [&] {
        misfits = Misfits(sourceDialog.Window());
        sourceDialog.End(0);
    });
    sourceDialog.Run(tree, source, nullptr);
    EXPECT_TRUE(misfits.empty()) << "Source at " << GetParam() << " pt: " << misfits.front();
    OptionsDialog options;
    unsigned refreshTime = 2, flags = 0;
    misfits = {"not shown"};
    WhenShown(options, [&] {
        misfits = Misfits(options.Window());
        options.End(0);
    });
    options.Run(refreshTime, flags, nullptr, nullptr, nullptr);
    EXPECT_TRUE(misfits.empty()) << "Options at " << GetParam() << " pt: " << misfits.front();
}

INSTANTIATE_TEST_SUITE_P(PointSizes, DialogTextFit, ::testing::Values(9, 12),
                         [](const auto& info) { return std::to_string(info.param) + "pt"; });

} // namespace

} // namespace mistvale
