#pragma once
// IconComboBox: drives one combo box of a dialog whose entries show an icon before their text and
// carry a 32-bit value of the caller's (for example the parity letter). A combo box built with
// kStyleSorted keeps its entries sorted without regard to case, as new ones are added.
//
// Attach it in OnInit to the combo box of the running dialog; the combo box goes away with the
// dialog, after which every operation does nothing and reports failure. User-interface thread only.

#include <QComboBox>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "platform/wide_string.h"

namespace mistvale {

class IconComboBox {
public:
    IconComboBox() = default;
    IconComboBox(const IconComboBox&) = delete;
    IconComboBox& operator=(const IconComboBox&) = delete;

    // Takes over control (a QComboBox); the sort order comes from the control's kStyleSorted flag.
    // 1 on success, 0 when control is no combo box.
    int Attach(QWidget* control);
    // Appends an entry (or sorts it in) with its value and icon (resources/app_icons.h); 1 and the
    // entry's index in *index (when given), 0 when not attached.
    int Add(const QString& text, std::uint32_t value, int iconId, int* index = nullptr);
    int Add(const WideString& text, std::uint32_t value, int iconId, int* index = nullptr);
    // Selects entry index; 1 unless index is no entry (-1 clears the selection and returns 0).
    int Select(int index);
    // The text of the edit field of an editable combo box; a drop-down list selects the entry of that
    // text instead (0 when there is none).
    int SetText(const QString& text);
    int SetText(const WideString& text);
    // The text shown in the selection field; returns its length.
    int GetText(QString& out) const;
    int GetText(WideString& out) const;
    // The first entry, after start and wrapping round to the top (-1 searches from the first entry),
    // whose text equals text (exact 1) or begins with it (exact 0), without regard to case. 1 and the
    // index in *index when found, else 0.
    int FindText(const QString& text, int exact, int start, int* index) const;
    int FindText(const WideString& text, int exact, int start, int* index) const;
    // The first entry at or after start (a negative start means 0) with this value; 1 and its index.
    int FindValue(std::uint32_t value, int start, int* index) const;
    // 0 when nothing is selected; else 1 with the selected index and its value (either may be null).
    int SelectedValue(int* index, std::uint32_t* value) const;
    // The value of entry index, or 0.
    std::uint32_t ValueAt(int index) const;
    int Count() const;
    // Removes every entry.
    void Clear();
    // The combo box while attached and alive, else nullptr.
    QComboBox* Control() const { return control_; }

    // Nested suspension of repainting while many entries are added; the last Resume repaints.
    void SuspendRedraw();
    void ResumeRedraw();

private:
    QPointer<QComboBox> control_;
    bool sorted_ = false;
    int redrawSuspension_ = 0;
};

} // namespace mistvale
