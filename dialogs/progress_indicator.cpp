#include "dialogs/progress_indicator.h"

#include <QProgressBar>

namespace mistvale {

int ProgressIndicator::Attach(QWidget* bar) {
    bar_ = qobject_cast<QProgressBar*>(bar);
    if (bar_ == nullptr)
        return 0;
    bar_->setTextVisible(false);
    return 1;
}

void ProgressIndicator::Show(int on) {
    if (bar_ != nullptr)
        bar_->setVisible(on != 0);
}

void ProgressIndicator::Animate(unsigned intervalMs) {
    if (bar_ == nullptr)
        return;
    bar_->setTextVisible(false);
    bar_->setFormat(QString());
    if (intervalMs != 0) {
        // A range of 0..0 is Qt's busy indicator: the style moves it by itself.
        bar_->setRange(0, 0);
    } else {
        bar_->setRange(0, 1);
        bar_->setValue(0);
    }
}

void ProgressIndicator::SetProgress(int value, int maximum, const QString& text) {
    if (bar_ == nullptr || maximum <= 0)
        return;
    bar_->setRange(0, maximum);
    bar_->setValue(value < 0 ? 0 : value > maximum ? maximum : value);
    bar_->setFormat(text);
    bar_->setTextVisible(true);
}

QString ProgressIndicator::Text() const {
    return bar_ != nullptr && bar_->isTextVisible() ? bar_->format() : QString();
}

int ProgressIndicator::IsShown() const {
    return (bar_ != nullptr && !bar_->isHidden()) ? 1 : 0;
}

} // namespace mistvale
