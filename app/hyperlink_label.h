#pragma once
// The web link in the main window's band bar: a label that shows its text in link colours, underlined,
// and opens its address in the user's web browser when clicked (or on Return / Space while focused).

#include <QColor>
#include <QLabel>
#include <QString>
#include <QUrl>

namespace mistvale {

class HyperlinkLabel : public QLabel {
public:
    explicit HyperlinkLabel(QWidget* parent = nullptr);

    // The text shown and the address opened.
    void SetLink(const QString& text, const QUrl& address);
    QUrl Address() const { return address_; }

    // The colours in use: the palette's link colour (0, 102, 204 when the palette keeps Qt's built-in
    // blue), the highlight colour under the mouse, the disabled text colour when disabled.
    QColor LinkColor() const;
    QColor HoverColor() const;

    // Opens the address with the desktop; replaceable for tests. Returns 1 when it was handed on.
    using OpenHandler = int (*)(void* context, const QUrl& address);
    static void SetOpenHandler(OpenHandler handler, void* context);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateLook();
    void Open();

    QUrl address_;
    bool hot_ = false;
    bool pressed_ = false;
};

} // namespace mistvale
