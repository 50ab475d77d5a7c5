#pragma once
// DialogBase: the common base of the main window and every dialog of the program.
//
// A dialog is described by a template: a table of controls (id, kind, position and size in dialog
// units, template text, style flags). Run builds a fresh QDialog with those controls, calls OnInit and
// runs it modally until End; the window and its controls exist only while the dialog runs, so every
// run starts from the template again and OnInit fills the controls from the model.
//
// A DialogBase is a plain object: it may be constructed before the QApplication exists (the program's
// one application object is static). All of its operations run on the user-interface thread, except
// PostDialogMessage, which any thread may call.
//
// What the user does arrives at a few virtual handlers:
//   OnCommand(id, code)  a click, a selection change, an edit, a posted command. Escape is command 2.
//   OnClose()            the close box (and a posted kMsgClose).
//   OnDestroy(result)    asked by End before the dialog ends; returning 0 keeps the dialog open.
//   OnMessage(...)       posted messages (kMsgApp + n, delivered from QEvent::User + n), timers
//                        (kMsgTimer), size changes (kMsgSize) and the final kMsgDestroy.

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/wide_string.h"

class QEvent;

namespace mistvale {

class DialogWindow;

// Kinds of controls a template can hold, with the Qt widget each is built as.
enum class ControlKind {
    Label,             // static text (QLabel, plain text, word-wrapped)
    Edit,              // single-line edit (QLineEdit)
    PushButton,        // QPushButton
    DefaultPushButton, // QPushButton that Enter presses
    CheckBox,          // automatic check box (QCheckBox)
    RadioButton,       // automatic radio button (QRadioButton); exclusive within its radio group
    GroupBox,          // frame with a title (QGroupBox), drawn behind the controls placed over it
    DropDownList,      // non-editable combo box (QComboBox)
    DropDownCombo,     // editable combo box (QComboBox with an edit field)
    ListView,          // report-style list with columns (QTreeWidget without root decoration)
    ProgressBar,       // QProgressBar without text
    TreeView,          // QTreeView; the tree-list attaches its model to it
    Container,         // empty QWidget with a zero-margin QVBoxLayout for widgets of the owner
};

// Style flags of a control in a template.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kStyleDisabled = 0x1,      // starts disabled
    kStyleHidden = 0x2,        // starts hidden
    kStyleSorted = 0x4,        // combo box: entries stay sorted without regard to case
    kStyleReadOnly = 0x8,      // edit: read-only
    kStyleGroup = 0x10,        // radio button: starts a new radio group
    kStyleAnchorRight = 0x20,  // the right edge keeps its distance to the window's right edge
    kStyleAnchorBottom = 0x40, // the bottom edge keeps its distance to the window's bottom edge
    kStylePassword = 0x80,     // edit: the text is not shown
    kStyleNoPrefix = 0x100,    // label / button: '&' is shown as it is, not as a mnemonic
    kStyleCheckBoxes = 0x200,  // list view: rows carry check boxes
    kStyleMoveRight = 0x400,   // keeps its size and its distance to the window's right edge
    kStyleMoveDown = 0x800,    // keeps its size and its distance to the window's bottom edge
};

// Style flags of a whole dialog.
enum DialogStyle : unsigned {
    kDialogNone = 0,
    kDialogResizable = 0x1,   // the user may resize the window (otherwise its size is fixed)
    kDialogMinimizeBox = 0x2, // the title bar offers minimise
    kDialogMaximizeBox = 0x4, // the title bar offers maximise
    // An application's main window rather than a dialog: a normal top-level window (the window
    // manager's task bar and Alt+Tab treat it as the program), not modal, owned by nobody. Run still
    // returns when the window ends.
    kDialogApplicationWindow = 0x8,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    int x, y, width, height; // dialog units
    const char* text;        // UTF-8 template text, or nullptr
    unsigned style;          // ControlStyle flags
};

struct DialogTemplate {
    int id;            // the template's number (102 main window, 104 source, ...); informative
    int width, height; // client size in dialog units
    const char* title; // UTF-8 window title before OnInit sets its own, or nullptr
    const ControlTemplate* controls;
    int controlCount;
    unsigned style; // DialogStyle flags
};

// Message numbers of OnMessage, kept at the values the program has always used.
enum DialogMessage : int {
    kMsgDestroy = 0x0002, // the final message: the window is going away (wParam 0, lParam 0)
    kMsgSize = 0x0005,    // the client area changed size: wParam show state (0 normal, 1 minimised,
                          // 2 maximised), lParam width | height << 16 in pixels
    kMsgClose = 0x0010,   // posted: routed to OnClose
    kMsgCommand = 0x0111, // posted: routed to OnCommand(wParam & 0xFFFF, wParam >> 16)
    kMsgTimer = 0x0113,   // a timer of StartTimer fired: wParam the timer id
    kMsgApp = 0x8000,     // first message of the program's own (QEvent::User maps to kMsgApp)
};

// Notification codes of OnCommand (the high half of a command's wParam).
enum CommandCode : int {
    kCodeClicked = 0,        // push button, check box or radio button clicked; Enter; Escape
    kCodeSelChange = 1,      // combo box or list selection changed by the user
    kCodeDoubleClick = 2,    // list view / tree view row double-clicked
    kCodeEditChange = 0x300, // the user changed the text of an edit or of an editable combo box
};

// Standard command ids.
enum CommandId : int {
    kIdOk = 1,
    kIdCancel = 2, // Escape
    kIdClose = 8,
};

// The program's title, "%s [%u.%02u]" with the compiled-in major and minor version: FormatTitle("Mistvale")
// gives "Mistvale [1.00]" for version 1.0.
QString FormatTitle(const QString& product);
WideString FormatTitle(const WideString& product);

// Conversions between the program's text type and Qt's (both are UTF-16).
QString ToQString(const WideString& text);
QString ToQString(const char16_t* text);
WideString ToWideString(const QString& text);

class DialogBase {
public:
    DialogBase();
    virtual ~DialogBase();
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Runs the dialog modally over owner (or none) and returns the value given to End; -1 when OnInit
    // returned 0 or the template is unusable (null or without a size). Not reentrant: a dialog that
    // is running already returns -1.
    int Run(const DialogTemplate* dialogTemplate, QWidget* owner);
    // Asks OnDestroy(result); when it agrees, ends the dialog with result. Nothing when not running.
    void End(int result);

    // The dialog's window while it runs (set before OnInit), else nullptr.
    QDialog* Window() const;
    bool IsRunning() const { return window_ != nullptr; }

    // Smallest size the user may give the window; -1 means no limit. In dialog units the size is the
    // client area's; in pixels it is the outer size, frame included.
    void SetMinimumSize(int width, int height, bool dialogUnits);
    // The window icon (icon ids of resources/app_icons.h); kept and applied at every run.
    void SetIcon(int iconId);
    void SetTitle(const QString& text);
    void SetTitle(const WideString& text);

    // Control texts: labels, edits, buttons, group boxes; a combo box's edit field or its matching
    // entry. 1 on success, 0 when there is no such control.
    int SetItemText(int id, const QString& text);
    int SetItemText(int id, const WideString& text);
    int SetItemText(int id, const char16_t* text);
    // The control's whole text; returns 1 (out is empty when there is no such control).
    int GetItemText(int id, QString& out) const;
    int GetItemText(int id, WideString& out) const;
    // Unsigned decimal numbers. GetItemNumber skips leading blanks and accepts only digits after them
    // that fit in 32 bits; anything else stores 0 and returns 0. It returns 1 for a number.
    int SetItemNumber(int id, unsigned value);
    int GetItemNumber(int id, unsigned* value) const;
    void EnableItem(int id, int enabled);
    // 1 checks, any other value clears (check boxes, radio buttons, checkable buttons).
    void CheckItem(int id, int checked);
    int IsItemChecked(int id) const;
    // Checks id and clears every other radio button with an id from first to last.
    void CheckRadio(int firstId, int lastId, int checkId);
    // The control with this id while the dialog runs, else nullptr.
    QWidget* ItemWindow(int id) const;
    template <class T> T* Item(int id) const { return qobject_cast<T*>(ItemWindow(id)); }
    // Puts widget in place of control id (taking the old control's geometry, anchors and id) and
    // deletes the old control; the dialog's window takes ownership. 1 on success.
    int ReplaceItem(int id, QWidget* widget);
    // Adds a widget of the owner as control id at a rectangle in pixels with ControlStyle anchors.
    int AddItem(int id, QWidget* widget, const QRect& pixels, unsigned style);

    // Dialog units of the dialog's font to pixels (horizontal: average character width / 4,
    // vertical: character height / 8), and the units themselves.
    QRect MapDialogRect(const QRect& dialogUnits) const;
    QSize DialogBaseUnits() const;

    // Posts a message to the running dialog from any thread; it is delivered on the user-interface
    // thread through OnMessage (kMsgClose and kMsgCommand through OnClose and OnCommand). Returns 1
    // when posted, 0 when the dialog is not running.
    int PostDialogMessage(int message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    int PostCommand(int id, int code = kCodeClicked) {
        return PostDialogMessage(kMsgCommand, (static_cast<std::uintptr_t>(code) << 16) | (id & 0xFFFF));
    }

    // Timers of the running dialog: every interval milliseconds OnMessage(kMsgTimer, id, 0). Starting an
    // id that runs restarts it with the new interval. Timers stop when the dialog ends. 1 on success.
    int StartTimer(int id, unsigned intervalMs);
    void StopTimer(int id);

    // A message box owned by the running dialog (see dialogs/message_box.h).
    int ShowMessage(unsigned style, const QString& caption, const QString& text) const;

protected:
    // Once, after the window is built and before it is shown. 0: the dialog ends with -1 at once;
    // 2: the dialog has placed the focus itself; anything else: the focus goes to the first control.
    virtual int OnInit() { return 1; }
    // Asked by End with its result; 0 keeps the dialog running.
    virtual int OnDestroy(int result);
    // Commands; default: ids 2 and 8 end the dialog with 0 and return 1, others return 0.
    virtual int OnCommand(int id, int code);
    // For dialogs with their own OK and Cancel buttons: OK ends with 1, Cancel with 0; 1 when id was one
    // of them.
    int EndByButton(int id, int okId, int cancelId);
    // The close box; default: End(0) and return 1.
    virtual int OnClose();
    // Every other message; default: kMsgCommand with id 2 or 8 ends with 0 and returns 1, else 0.
    virtual int OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam);
    // When the window goes away after the dialog ended; default: OnMessage(kMsgDestroy, 0, 0).
    virtual int OnFinalMessage();

private:
    friend class DialogWindow;
    // Distance of a control's right and bottom edges to the client area's; INT_MIN where not anchored.
    struct Anchor {
        int rightGap = kNoAnchor;
        int bottomGap = kNoAnchor;
        bool moveRight = false; // the gap is kept by moving, not by stretching
        bool moveDown = false;
    };
    static constexpr int kNoAnchor = -2147483647 - 1;

    void BuildControls(const DialogTemplate& dialogTemplate);
    // One builder per kind of control (dialog_controls.cpp).
    struct RadioGrouping {
        int group = 0;     // radio buttons between two group starts belong together
        bool seen = false; // a radio button came before
    };
    QWidget* BuildLabel(const QString& text);
    QWidget* BuildEdit(const ControlTemplate& control, const QString& text);
    QWidget* BuildPushButton(const ControlTemplate& control, const QString& text);
    QWidget* BuildCheckBox(const ControlTemplate& control, const QString& text);
    QWidget* BuildRadioButton(const ControlTemplate& control, const QString& text, RadioGrouping& radios);
    QWidget* BuildGroupBox(const ControlTemplate& control, const QString& text);
    QWidget* BuildComboBox(const ControlTemplate& control, const QString& text, QRect& rect);
    QWidget* BuildListView(const ControlTemplate& control);
    QWidget* BuildProgressBar();
    QWidget* BuildContainer();
    // The filter that selects an edit field's text when the keyboard or the opening gives it the focus;
    // one per window, owned by it.
    QObject* SelectAllFilter();
    void Register(int id, QWidget* widget, unsigned style);
    void LayoutAnchors();
    void ApplyMinimumSize();
    void DispatchCommand(int id, int code);
    void HandleEnter();
    void HandleEvent(QEvent* event);
    void HandleResize();
    void HandleTimer(int timerId);
    void DestroyWindow();
    void ClearWindowField();

    // The dynamic property that carries a control's id.
    static constexpr const char* kItemIdProperty = "dialogItemId";

    // The window field: the running dialog's window, cleared by End.
    DialogWindow* window_ = nullptr;
    // The window from Run until it is deleted (it outlives window_ by the end of the modal loop).
    DialogWindow* host_ = nullptr;
    // Client size the template asks for, in pixels (the reference of the anchors).
    QSize templateClient_;
    // Guards window_ against PostDialogMessage on other threads.
    mutable std::mutex windowMutex_;
    std::map<int, QPointer<QWidget>> items_;
    std::map<int, Anchor> anchors_;
    std::map<int, int> timers_; // timer id -> QObject timer id
    int defaultButtonId_ = 0;
    QPointer<QObject> selectAll_; // SelectAllFilter's object for the current window
    bool ended_ = false;
    bool ending_ = false; // inside OnDestroy: a second request to end (a close while it waits) is ignored
    int result_ = 0;
    int minimumWidth_ = -1;
    int minimumHeight_ = -1;
    bool minimumInDialogUnits_ = false;
    int iconId_ = 0;
    QString title_;
};

} // namespace mistvale
