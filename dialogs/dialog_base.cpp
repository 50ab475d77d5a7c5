#include "dialogs/dialog_base.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QTimerEvent>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <climits>
#include <vector>

#include "dialogs/control_text.h"
#include "dialogs/message_box.h"
#include "mistvale_version.h"
#include "platform/thread_handoff.h"
#include "resources/app_icons.h"

namespace mistvale {

namespace {

// Posted messages that are not of the kMsgApp range travel under this event type with their number.
constexpr int kRoutedEventType = QEvent::MaxUser;

class DialogMessageEvent : public QEvent {
public:
    DialogMessageEvent(int message, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message > kMsgApp &&
                                                   message - kMsgApp < QEvent::MaxUser - QEvent::User
                                               ? QEvent::User + (message - kMsgApp)
                                               : kRoutedEventType)),
          message_(message), wParam_(wParam), lParam_(lParam) {}
    int Message() const { return message_; }
    std::uintptr_t WParam() const { return wParam_; }
    std::intptr_t LParam() const { return lParam_; }

private:
    int message_;
    std::uintptr_t wParam_;
    std::intptr_t lParam_;
};

// Multiplies and divides with rounding, half away from zero.
int MulDivRound(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

// The window of a running dialog: hands what the user does to its DialogBase.
// Selects the whole text of an edit field that gets the focus from the keyboard or as its dialog
// opens, so that typing replaces the value shown (a field showing 150 must not turn into 15030). A
// click keeps placing the cursor where it lands.
class SelectAllOnFocus : public QObject {
public:
    explicit SelectAllOnFocus(QObject* parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason) {
            // An editable combo box takes the focus itself and hands it to its field directly.
            QLineEdit* edit = qobject_cast<QLineEdit*>(watched);
            if (auto* combo = qobject_cast<QComboBox*>(watched))
                edit = combo->lineEdit();
            if (edit != nullptr) {
                // After the field's own focus handling, which may place the cursor.
                QTimer::singleShot(0, edit, [edit] {
                    if (edit->hasFocus())
                        edit->selectAll();
                });
            }
        }
        return false;
    }
};

class DialogWindow : public QDialog {
public:
    DialogWindow(DialogBase* owner, QWidget* parent, Qt::WindowFlags flags)
        : QDialog(parent, flags), owner_(owner) {}

    void reject() override { owner_->DispatchCommand(kIdCancel, kCodeClicked); }
    void accept() override { owner_->DispatchCommand(kIdOk, kCodeClicked); }

protected:
    bool event(QEvent* event) override {
        HandOffAcquire(event); // posted from the worker
        if (event->type() >= QEvent::User && event->type() <= QEvent::MaxUser) {
            owner_->HandleEvent(event);
            return true;
        }
        return QDialog::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            switch (event->key()) {
            case Qt::Key_Escape:
                owner_->DispatchCommand(kIdCancel, kCodeClicked);
                return;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                owner_->HandleEnter();
                return;
            default:
                break;
            }
        }
        QDialog::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        // The window only goes away through End; the close box asks OnClose.
        event->ignore();
        if (owner_->window_ == this)
            owner_->OnClose();
    }
    void resizeEvent(QResizeEvent* event) override {
        QDialog::resizeEvent(event);
        owner_->HandleResize();
    }
    void timerEvent(QTimerEvent* event) override { owner_->HandleTimer(event->timerId()); }

private:
    DialogBase* owner_;
};

QString FormatTitle(const QString& product) {
    return product + QStringLiteral(" [") + QString::number(MISTVALE_VERSION_MAJOR) + QLatin1Char('.') +
           QStringLiteral("%1").arg(static_cast<unsigned>(MISTVALE_VERSION_MINOR), 2, 10, QLatin1Char('0')) +
           QLatin1Char(']');
}

WideString FormatTitle(const WideString& product) {
    return ToWideString(FormatTitle(ToQString(product)));
}

QString ToQString(const WideString& text) {
    return QString::fromUtf16(text.Text(), text.Length());
}

QString ToQString(const char16_t* text) {
    return text ? QString::fromUtf16(text) : QString();
}

WideString ToWideString(const QString& text) {
    return WideString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<int>(text.size()));
}

DialogBase::DialogBase() = default;

DialogBase::~DialogBase() {
    // A dialog object outlives its runs; should it go while running, take the window with it.
    DestroyWindow();
}

QDialog* DialogBase::Window() const {
    return window_;
}

int DialogBase::Run(const DialogTemplate* dialogTemplate, QWidget* owner) {
    if (!dialogTemplate || dialogTemplate->width <= 0 || dialogTemplate->height <= 0 ||
        dialogTemplate->controlCount < 0 || (dialogTemplate->controlCount > 0 && !dialogTemplate->controls))
        return -1;
    if (host_ || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return -1;

    const bool applicationWindow = (dialogTemplate->style & kDialogApplicationWindow) != 0;
    Qt::WindowFlags flags = (applicationWindow ? Qt::Window : Qt::Dialog) | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialogTemplate->style & kDialogMinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (dialogTemplate->style & kDialogMaximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    auto* window = new DialogWindow(this, owner, flags);
    window->setModal(!applicationWindow);
    host_ = window;
    ended_ = false;
    ending_ = false;
    result_ = 0;
    if (dialogTemplate->title)
        window->setWindowTitle(QString::fromUtf8(dialogTemplate->title));
    if (!title_.isNull())
        window->setWindowTitle(title_);
    if (iconId_)
        window->setWindowIcon(IconById(iconId_));
    {
        std::lock_guard<std::mutex> lock(windowMutex_);
        window_ = window;
    }
    // The client size first: anchored controls measure their gaps against it.
    QSize client = MapDialogRect(QRect(0, 0, dialogTemplate->width, dialogTemplate->height)).size();
    templateClient_ = client;
    BuildControls(*dialogTemplate);
    if (dialogTemplate->style & kDialogResizable)
        window->resize(client);
    else
        window->setFixedSize(client);
    ApplyMinimumSize();

    int init = OnInit();
    if (init == 0)
        End(-1);
    if (!ended_) {
        if (applicationWindow) {
            // exec would make the window modal; a loop of its own keeps it a plain top-level window.
            QEventLoop loop;
            QObject::connect(window, &QDialog::finished, &loop, &QEventLoop::quit);
            window->show();
            if (!ended_)
                loop.exec();
        } else {
            window->exec();
        }
        if (!ended_) {
            // The modal loop was left without End (the application is quitting): the dialog still
            // gets its OnDestroy, whatever it answers.
            OnDestroy(0);
            ended_ = true;
            result_ = 0;
            ClearWindowField();
        }
    }
    int result = result_;
    OnFinalMessage();
    DestroyWindow();
    return result;
}

void DialogBase::End(int result) {
    if (!window_ || ended_ || ending_)
        return;
    // OnDestroy may keep events flowing while it waits (the main window waits for its worker), and
    // a second Escape or close box would arrive here again meanwhile.
    ending_ = true;
    const int destroyed = OnDestroy(result);
    ending_ = false;
    if (!destroyed || !window_)
        return;
    ended_ = true;
    result_ = result;
    DialogWindow* window = window_;
    ClearWindowField();
    for (const auto& timer : timers_)
        window->killTimer(timer.second);
    timers_.clear();
    window->done(result);
}

QObject* DialogBase::SelectAllFilter() {
    if (!selectAll_ || selectAll_->parent() != window_)
        selectAll_ = new SelectAllOnFocus(window_);
    return selectAll_;
}

void DialogBase::ClearWindowField() {
    std::lock_guard<std::mutex> lock(windowMutex_);
    window_ = nullptr;
}

void DialogBase::DestroyWindow() {
    ClearWindowField();
    DialogWindow* window = host_;
    host_ = nullptr;
    items_.clear();
    anchors_.clear();
    timers_.clear();
    defaultButtonId_ = 0;
    // Deleting the window also drops the messages still posted to it.
    delete window;
}

int DialogBase::OnDestroy(int) {
    return 1;
}

int DialogBase::OnCommand(int id, int) {
    if (id == kIdCancel || id == kIdClose) {
        End(0);
        return 1;
    }
    return 0;
}

int DialogBase::EndByButton(int id, int okId, int cancelId) {
    if (id != okId && id != cancelId)
        return 0;
    End(id == okId ? 1 : 0);
    return 1;
}

int DialogBase::OnClose() {
    End(0);
    return 1;
}

int DialogBase::OnMessage(int message, std::uintptr_t wParam, std::intptr_t) {
    if (message == kMsgCommand) {
        int id = static_cast<int>(wParam & 0xFFFF);
        if (id == kIdCancel || id == kIdClose) {
            End(0);
            return 1;
        }
    }
    return 0;
}

int DialogBase::OnFinalMessage() {
    return OnMessage(kMsgDestroy, 0, 0);
}

void DialogBase::DispatchCommand(int id, int code) {
    if (window_)
        OnCommand(id, code);
}

void DialogBase::HandleEnter() {
    if (!window_)
        return;
    // A focused push button is pressed; otherwise the default push button; otherwise command 1.
    if (auto* focused = qobject_cast<QPushButton*>(window_->focusWidget());
        focused && focused->window() == window_ && focused->property(kItemIdProperty).isValid()) {
        if (focused->isEnabled())
            focused->click();
        return;
    }
    if (defaultButtonId_) {
        if (auto* button = Item<QPushButton>(defaultButtonId_)) {
            if (button->isEnabled() && button->isVisible())
                button->click();
            return;
        }
    }
    DispatchCommand(kIdOk, kCodeClicked);
}

void DialogBase::HandleEvent(QEvent* event) {
    if (!window_ || !event)
        return;
    int message;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    if (auto* posted = dynamic_cast<DialogMessageEvent*>(event)) {
        message = posted->Message();
        wParam = posted->WParam();
        lParam = posted->LParam();
    } else {
        message = kMsgApp + (event->type() - QEvent::User);
    }
    switch (message) {
    case kMsgCommand:
        DispatchCommand(static_cast<int>(wParam & 0xFFFF), static_cast<int>((wParam >> 16) & 0xFFFF));
        break;
    case kMsgClose:
        OnClose();
        break;
    default:
        OnMessage(message, wParam, lParam);
        break;
    }
}

void DialogBase::HandleResize() {
    if (!window_)
        return;
    LayoutAnchors();
    std::uintptr_t state = window_->isMinimized() ? 1 : window_->isMaximized() ? 2 : 0;
    QSize size = window_->size();
    OnMessage(kMsgSize, state,
              static_cast<std::intptr_t>((size.width() & 0xFFFF) | ((size.height() & 0xFFFF) << 16)));
}

void DialogBase::HandleTimer(int timerId) {
    if (!window_)
        return;
    for (const auto& timer : timers_) {
        if (timer.second == timerId) {
            OnMessage(kMsgTimer, static_cast<std::uintptr_t>(timer.first), 0);
            return;
        }
    }
}

int DialogBase::PostDialogMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::mutex> lock(windowMutex_);
    if (!window_)
        return 0;
    auto* event = new DialogMessageEvent(message, wParam, lParam);
    HandOffRelease(event);
    QCoreApplication::postEvent(window_, event);
    return 1;
}

int DialogBase::StartTimer(int id, unsigned intervalMs) {
    if (!window_)
        return 0;
    StopTimer(id);
    // As the desktop's timers: at least 10 ms, at most what a signed 32-bit interval holds.
    int interval = intervalMs < 10u                              ? 10
                   : intervalMs > static_cast<unsigned>(INT_MAX) ? INT_MAX
                                                                 : int(intervalMs);
    int timerId = window_->startTimer(interval);
    if (timerId == 0)
        return 0;
    timers_[id] = timerId;
    return 1;
}

void DialogBase::StopTimer(int id) {
    auto found = timers_.find(id);
    if (found == timers_.end())
        return;
    if (window_)
        window_->killTimer(found->second);
    timers_.erase(found);
}

int DialogBase::ShowMessage(unsigned style, const QString& caption, const QString& text) const {
    return mistvale::ShowMessage(window_, style, caption, text);
}

QSize DialogBase::DialogBaseUnits() const {
    QFont font = window_ ? window_->font() : QApplication::font();
    QFontMetrics metrics(font);
    // The average width of the Latin letters, rounded, as the desktop's dialog manager measures it.
    int width =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    int average = (width / 26 + 1) / 2;
    return QSize(average > 0 ? average : 1, metrics.height() > 0 ? metrics.height() : 1);
}

QRect DialogBase::MapDialogRect(const QRect& dialogUnits) const {
    QSize base = DialogBaseUnits();
    int left = MulDivRound(dialogUnits.x(), base.width(), 4);
    int top = MulDivRound(dialogUnits.y(), base.height(), 8);
    int right = MulDivRound(dialogUnits.x() + dialogUnits.width(), base.width(), 4);
    int bottom = MulDivRound(dialogUnits.y() + dialogUnits.height(), base.height(), 8);
    return QRect(left, top, right - left, bottom - top);
}

void DialogBase::SetMinimumSize(int width, int height, bool dialogUnits) {
    minimumWidth_ = width;
    minimumHeight_ = height;
    minimumInDialogUnits_ = dialogUnits;
    ApplyMinimumSize();
}

void DialogBase::ApplyMinimumSize() {
    if (!window_ || window_->minimumSize() == window_->maximumSize())
        return;
    int width = minimumWidth_;
    int height = minimumHeight_;
    if (minimumInDialogUnits_) {
        QSize pixels = MapDialogRect(QRect(0, 0, width < 0 ? 0 : width, height < 0 ? 0 : height)).size();
        width = width < 0 ? 0 : pixels.width();
        height = height < 0 ? 0 : pixels.height();
    } else {
        // An outer size: take off the frame the window manager adds (known once the window is shown).
        QSize frame = window_->frameGeometry().size() - window_->geometry().size();
        width = width < 0 ? 0 : std::max(0, width - frame.width());
        height = height < 0 ? 0 : std::max(0, height - frame.height());
    }
    window_->setMinimumSize(width, height);
}

void DialogBase::SetIcon(int iconId) {
    iconId_ = iconId;
    if (window_)
        window_->setWindowIcon(IconById(iconId));
}

void DialogBase::SetTitle(const QString& text) {
    title_ = text;
    if (window_)
        window_->setWindowTitle(text);
}

void DialogBase::SetTitle(const WideString& text) {
    SetTitle(ToQString(text));
}

} // namespace mistvale
