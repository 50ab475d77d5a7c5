#include "app/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <limits>

#include "app/settings_store.h"

namespace mistvale {

namespace {

// The placement text is read from at most this many characters.
constexpr int kPlacementTextLimit = 260;
// A window moved back from a screen that has gone lands this far inside the nearest work area.
constexpr int kOffScreenInset = 10;

QScreen* NearestScreen(const QPoint& point) {
    QScreen* nearest = nullptr;
    long long best = std::numeric_limits<long long>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        QRect area = screen->geometry();
        long long dx = point.x() < area.left()    ? area.left() - point.x()
                       : point.x() > area.right() ? point.x() - area.right()
                                                  : 0;
        long long dy = point.y() < area.top()      ? area.top() - point.y()
                       : point.y() > area.bottom() ? point.y() - area.bottom()
                                                   : 0;
        long long distance = dx * dx + dy * dy;
        if (distance < best) {
            best = distance;
            nearest = screen;
        }
    }
    return nearest;
}

} // namespace

QString FormatPlacement(const WindowPlacement& placement) {
    char text[96];
    std::snprintf(text, sizeof text, "%d,%i,%i,%i,%i", placement.showState, placement.left, placement.top,
                  placement.right, placement.bottom);
    return QString::fromLatin1(text);
}

int ParsePlacement(const QString& text, WindowPlacement* placement) {
    QByteArray bytes = text.left(kPlacementTextLimit).toLatin1();
    WindowPlacement parsed;
    if (std::sscanf(bytes.constData(), "%d,%i,%i,%i,%i", &parsed.showState, &parsed.left, &parsed.top,
                    &parsed.right, &parsed.bottom) != 5)
        return 0;
    if (placement)
        *placement = parsed;
    return 1;
}

WindowPlacement CapturePlacement(const QWidget* window) {
    WindowPlacement placement;
    if (!window)
        return placement;
    QRect normal = window->isWindow() ? window->normalGeometry() : window->geometry();
    if (normal.isEmpty())
        normal = window->geometry();
    placement.left = normal.x();
    placement.top = normal.y();
    placement.right = normal.x() + normal.width();
    placement.bottom = normal.y() + normal.height();
    if (!window->isVisible())
        placement.showState = 0;
    else if (window->isMinimized())
        placement.showState = 2;
    else if (window->isMaximized())
        placement.showState = 3;
    else
        placement.showState = 1;
    return placement;
}

int ApplyPlacement(QWidget* window, const WindowPlacement& stored) {
    if (!window)
        return 0;
    // Never start hidden or minimised: those come back as a normal window. Only maximised stays.
    const bool maximised = stored.showState == 3;
    QRect rect = stored.Rect();
    if (rect.width() <= 0 || rect.height() <= 0)
        rect.setSize(window->size());
    if (!QGuiApplication::screenAt(rect.topLeft())) {
        if (QScreen* nearest = NearestScreen(rect.topLeft()))
            rect.moveTopLeft(nearest->availableGeometry().topLeft() +
                             QPoint(kOffScreenInset, kOffScreenInset));
    }
    if (!maximised) {
        // Bring the window fully onto its screen's work area where it fits.
        QScreen* screen = QGuiApplication::screenAt(rect.center());
        if (!screen)
            screen = NearestScreen(rect.center());
        if (screen) {
            QRect area = screen->availableGeometry();
            if (rect.right() > area.right())
                rect.moveRight(area.right());
            if (rect.bottom() > area.bottom())
                rect.moveBottom(area.bottom());
            if (rect.left() < area.left())
                rect.moveLeft(area.left());
            if (rect.top() < area.top())
                rect.moveTop(area.top());
        }
    }
    Qt::WindowStates states =
        window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (window->windowState() != states)
        window->setWindowState(states);
    window->setGeometry(rect);
    if (maximised)
        window->setWindowState(states | Qt::WindowMaximized);
    return 1;
}

int SaveWindowPlacement(SettingsStore& store, const QWidget* window, const char* valueName) {
    if (!window)
        return 0;
    return store.SetString(valueName, FormatPlacement(CapturePlacement(window)));
}

int RestoreWindowPlacement(const SettingsStore& store, QWidget* window, const char* valueName) {
    if (!window)
        return 0;
    QString text;
    if (!store.GetString(valueName, text))
        return 0;
    WindowPlacement placement;
    if (!ParsePlacement(text, &placement))
        return 0;
    return ApplyPlacement(window, placement);
}

int SaveColumnLayout(SettingsStore& store, const QByteArray& bytes, const char* valueName) {
    if (bytes.isEmpty())
        return 0;
    return store.SetBinary(valueName, bytes);
}

int LoadColumnLayout(const SettingsStore& store, int columnCount, QByteArray& out, const char* valueName) {
    QByteArray bytes;
    if (columnCount <= 0 || !store.GetBinary(valueName, bytes) || bytes.size() != 8LL * columnCount) {
        out.clear();
        return 0;
    }
    out = bytes;
    return 1;
}

} // namespace mistvale
