#pragma once
// The main window's placement ("Main") and the tree-list's column layout ("Tree") in the settings.
//
// "Main" is the text "%d,%i,%i,%i,%i": the show state (0 hidden, 1 normal, 2 minimised, 3 maximised),
// then left, top, right and bottom of the window's normal (restored) rectangle in screen coordinates,
// right and bottom exclusive. The rectangle is the window's client geometry, so that restoring it
// gives the very same window whatever frame the window manager draws.
// "Tree" is the 8 x N bytes of TreeListView::SaveColumns for N columns.

#include <QByteArray>
#include <QRect>
#include <QString>

class QWidget;

namespace mistvale {

class SettingsStore;

struct WindowPlacement {
    int showState = 1;
    int left = 0, top = 0, right = 0, bottom = 0;
    QRect Rect() const { return QRect(left, top, right - left, bottom - top); }
};

// The "Main" text of a placement.
QString FormatPlacement(const WindowPlacement& placement);
// Reads a "Main" text; 1 when five numbers were found (trailing text is ignored), else 0.
int ParsePlacement(const QString& text, WindowPlacement* placement);
// The placement of a top-level window now: show state 0 when it is not visible.
WindowPlacement CapturePlacement(const QWidget* window);
// Applies a stored placement: minimised and hidden become normal; a rectangle whose top-left corner
// lies on no screen moves, with its size kept, to 10 pixels right of and below the top-left corner of
// the nearest screen's work area; a normal window is then moved fully onto its screen when it can be.
// Maximised windows keep the rectangle for un-maximising. Returns 1.
int ApplyPlacement(QWidget* window, const WindowPlacement& stored);

// Writes window's placement under valueName; 1 on success.
int SaveWindowPlacement(SettingsStore& store, const QWidget* window, const char* valueName = "Main");
// Restores the placement stored under valueName; 1 when one was applied, 0 when it is missing, of the
// wrong type or cannot be parsed (the window then keeps its own size and position).
int RestoreWindowPlacement(const SettingsStore& store, QWidget* window, const char* valueName = "Main");

// Writes the column layout bytes under valueName (nothing for an empty layout); 1 on success.
int SaveColumnLayout(SettingsStore& store, const QByteArray& bytes, const char* valueName = "Tree");
// Reads the column layout for a header of columnCount columns: 1 with the bytes only when the stored
// value is exactly 8 x columnCount bytes long; any other value is ignored (0, out cleared).
int LoadColumnLayout(const SettingsStore& store, int columnCount, QByteArray& out,
                     const char* valueName = "Tree");

} // namespace mistvale
