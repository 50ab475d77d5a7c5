#include "app/hyperlink_label.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

namespace mistvale {

namespace {

HyperlinkLabel::OpenHandler g_openHandler = nullptr;
void* g_openContext = nullptr;

} // namespace

HyperlinkLabel::HyperlinkLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAlignment(Qt::AlignCenter);
    UpdateLook();
}

void HyperlinkLabel::SetLink(const QString& text, const QUrl& address) {
    setText(text);
    address_ = address;
    setToolTip(address.toDisplayString());
}

QColor HyperlinkLabel::LinkColor() const {
    QColor link = palette().color(QPalette::Active, QPalette::Link);
    // Qt's own palette says pure blue; the link has always been a softer blue then.
    if (link == QColor(0, 0, 255))
        return QColor(0, 102, 204);
    return link;
}

QColor HyperlinkLabel::HoverColor() const {
    QColor hover = palette().color(QPalette::Active, QPalette::Highlight);
    if (!hover.isValid() || hover == LinkColor())
        return QColor(255, 0, 0);
    return hover;
}

void HyperlinkLabel::SetOpenHandler(OpenHandler handler, void* context) {
    g_openHandler = handler;
    g_openContext = context;
}

void HyperlinkLabel::UpdateLook() {
    QPalette look = palette();
    QColor color = !isEnabled() ? palette().color(QPalette::Disabled, QPalette::WindowText)
                                : (hot_ ? HoverColor() : LinkColor());
    look.setColor(QPalette::WindowText, color);
    setPalette(look);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
}

void HyperlinkLabel::Open() {
    if (address_.isEmpty() || !isEnabled())
        return;
    if (g_openHandler != nullptr)
        g_openHandler(g_openContext, address_);
    else
        QDesktopServices::openUrl(address_);
}

void HyperlinkLabel::enterEvent(QEnterEvent* event) {
    hot_ = true;
    UpdateLook();
    QLabel::enterEvent(event);
}

void HyperlinkLabel::leaveEvent(QEvent* event) {
    hot_ = false;
    pressed_ = false;
    UpdateLook();
    QLabel::leaveEvent(event);
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // Only a release over the link opens it, so that dragging away cancels the click.
    const bool open =
        event->button() == Qt::LeftButton && pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (open)
        Open();
}

void HyperlinkLabel::keyReleaseEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) &&
        !event->isAutoRepeat()) {
        Open();
        return;
    }
    QLabel::keyReleaseEvent(event);
}

void HyperlinkLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        UpdateLook();
}

} // namespace mistvale
