#pragma once
// ProgressIndicator: drives a progress bar that shows that work of unknown length is going on.
// Animate makes the bar busy (Qt's range 0..0 moving bar); Show shows or hides it. Desktops without a
// taskbar progress interface get only the bar. User-interface thread only.

#include <QPointer>
#include <QString>

class QProgressBar;
class QWidget;

namespace mistvale {

class ProgressIndicator {
public:
    ProgressIndicator() = default;
    ProgressIndicator(const ProgressIndicator&) = delete;
    ProgressIndicator& operator=(const ProgressIndicator&) = delete;

    // Takes over bar (a QProgressBar); 1 on success, 0 when it is none.
    int Attach(QWidget* bar);
    // Shows (on 1) or hides the bar.
    void Show(int on);
    // intervalMs not 0: the bar moves on its own; 0: it stops and shows nothing.
    void Animate(unsigned intervalMs);
    // Known progress: value of maximum, with text on the bar (the busy movement ends).
    void SetProgress(int value, int maximum, const QString& text);
    // The text SetProgress put on the bar (empty while busy or idle).
    QString Text() const;
    int IsShown() const;

private:
    QPointer<QProgressBar> bar_;
};

} // namespace mistvale
