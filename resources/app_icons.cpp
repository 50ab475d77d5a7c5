#include "resources/app_icons.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <map>
#include <mutex>

namespace mistvale {

// Every icon is drawn on a 64 x 64 canvas and scaled to the size asked for. Outlines are a little
// darker than their fill so that the shapes stay apart on light and dark backgrounds alike.

namespace {

constexpr double kPi = 3.14159265358979323846;

QPen Outline(const QColor& color, double width = 2.5) {
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

void DrawApp(QPainter& p) {
    // A monitor screen showing a trend line, on a small stand.
    p.setPen(Outline(QColor(0x1f, 0x2d, 0x3a)));
    p.setBrush(QColor(0x2f, 0x4a, 0x63));
    p.drawRoundedRect(QRectF(4, 8, 56, 40), 6, 6);
    p.setBrush(QColor(0x10, 0x1c, 0x28));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(9, 13, 46, 30), 3, 3);
    p.setPen(Outline(QColor(0x4c, 0xd9, 0x64), 3.5));
    p.setBrush(Qt::NoBrush);
    QPolygonF trend;
    trend << QPointF(12, 36) << QPointF(21, 28) << QPointF(28, 32) << QPointF(37, 19) << QPointF(44, 25)
          << QPointF(52, 17);
    p.drawPolyline(trend);
    p.setPen(Outline(QColor(0x1f, 0x2d, 0x3a)));
    p.setBrush(QColor(0x8a, 0x99, 0xa8));
    p.drawRect(QRectF(27, 48, 10, 6));
    p.drawRoundedRect(QRectF(16, 54, 32, 6), 3, 3);
}

void DrawGear(QPainter& p) {
    // A gear of eight teeth with a hole in its middle.
    QPainterPath gear;
    const QPointF centre(32, 32);
    const int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        double angle = (i / double(teeth * 4)) * 2 * kPi - kPi / (teeth * 2);
        double radius = (i % 4 == 1 || i % 4 == 2) ? 29 : 21;
        QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(centre, 9, 9);
    p.setPen(Outline(QColor(0x3c, 0x46, 0x52), 2.5));
    p.setBrush(QColor(0x7b, 0x88, 0x96));
    p.drawPath(gear.subtracted(hole));
}

void DrawBadge(QPainter& p, const QColor& fill, char letter) {
    // A round badge with a white letter drawn in strokes (no font needed).
    p.setPen(Outline(fill.darker(140), 2.5));
    p.setBrush(fill);
    p.drawEllipse(QRectF(4, 4, 56, 56));
    p.setPen(Outline(Qt::white, 6));
    p.setBrush(Qt::NoBrush);
    switch (letter) {
    case 'N': {
        QPolygonF n;
        n << QPointF(21, 45) << QPointF(21, 19) << QPointF(43, 45) << QPointF(43, 19);
        p.drawPolyline(n);
        break;
    }
    case 'E': {
        QPolygonF e;
        e << QPointF(42, 19) << QPointF(23, 19) << QPointF(23, 45) << QPointF(42, 45);
        p.drawPolyline(e);
        p.drawLine(QPointF(23, 32), QPointF(38, 32));
        break;
    }
    default:
        p.drawEllipse(QRectF(20, 18, 24, 28));
        break;
    }
}

void DrawSearch(QPainter& p) {
    // A magnifying glass.
    p.setPen(Outline(QColor(0x3a, 0x2a, 0x1a), 9));
    p.drawLine(QPointF(40, 40), QPointF(56, 56));
    p.setPen(Outline(QColor(0x5a, 0x45, 0x30), 5));
    p.drawLine(QPointF(41, 41), QPointF(55, 55));
    p.setPen(Outline(QColor(0x44, 0x55, 0x66), 5));
    p.setBrush(QColor(0xcf, 0xe8, 0xff, 200));
    p.drawEllipse(QPointF(26, 26), 17, 17);
    p.setPen(Outline(QColor(255, 255, 255, 220), 3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(15, 15, 22, 22), 100 * 16, 70 * 16);
}

void DrawSerialPort(QPainter& p) {
    // A 9-pin D-sub connector: a trapezoid shell with five and four pins, and the two screws.
    p.setPen(Outline(QColor(0x40, 0x48, 0x50)));
    p.setBrush(QColor(0xb8, 0xc2, 0xcc));
    p.drawRoundedRect(QRectF(2, 18, 60, 28), 4, 4);
    QPolygonF shell;
    shell << QPointF(11, 22) << QPointF(53, 22) << QPointF(48, 42) << QPointF(16, 42);
    p.setBrush(QColor(0x2b, 0x33, 0x3b));
    p.drawPolygon(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf0, 0xc0, 0x40));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(18 + i * 7, 28), 2.4, 2.4);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(21.5 + i * 7, 36), 2.4, 2.4);
    p.setPen(Outline(QColor(0x40, 0x48, 0x50), 2));
    p.setBrush(QColor(0xe6, 0xea, 0xee));
    p.drawEllipse(QPointF(6.5, 32), 3, 3);
    p.drawEllipse(QPointF(57.5, 32), 3, 3);
}

void DrawNetwork(QPainter& p) {
    // Three linked nodes: a TCP/IP connection.
    const QPointF top(32, 14), left(14, 48), right(50, 48);
    p.setPen(Outline(QColor(0x2c, 0x5d, 0x8f), 4));
    p.drawLine(top, left);
    p.drawLine(top, right);
    p.drawLine(left, right);
    p.setPen(Outline(QColor(0x1d, 0x3f, 0x63), 2.5));
    p.setBrush(QColor(0x4a, 0x90, 0xd9));
    p.drawEllipse(top, 10, 10);
    p.drawEllipse(left, 10, 10);
    p.drawEllipse(right, 10, 10);
}

void DrawBaudRate(QPainter& p) {
    // A square wave on a light panel: bits on a line.
    p.setPen(Outline(QColor(0x3a, 0x5a, 0x7a), 2.5));
    p.setBrush(QColor(0xe8, 0xf1, 0xfa));
    p.drawRoundedRect(QRectF(3, 10, 58, 44), 6, 6);
    p.setPen(Outline(QColor(0x1a, 0x73, 0xe8), 4.5));
    p.setBrush(Qt::NoBrush);
    QPolygonF wave;
    wave << QPointF(8, 42) << QPointF(16, 42) << QPointF(16, 22) << QPointF(26, 22) << QPointF(26, 42)
         << QPointF(34, 42) << QPointF(34, 22) << QPointF(40, 22) << QPointF(40, 42) << QPointF(48, 42)
         << QPointF(48, 22) << QPointF(56, 22);
    p.drawPolyline(wave);
}

void DrawGroup(QPainter& p) {
    // A folder: the group that holds the sources of one connection.
    p.setPen(Outline(QColor(0xa6, 0x72, 0x00)));
    p.setBrush(QColor(0xe8, 0xa3, 0x17));
    QPainterPath back;
    back.moveTo(4, 14);
    back.lineTo(24, 14);
    back.lineTo(29, 20);
    back.lineTo(58, 20);
    back.lineTo(58, 52);
    back.lineTo(4, 52);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0xfb, 0xc8, 0x4a));
    QPolygonF front;
    front << QPointF(4, 52) << QPointF(10, 27) << QPointF(62, 27) << QPointF(58, 52);
    p.drawPolygon(front);
}

void DrawSource(QPainter& p) {
    // A gauge with green, amber and red bands and its needle: one monitored value.
    const QRectF dial(6, 12, 52, 52);
    p.setPen(Outline(QColor(0x33, 0x3d, 0x47), 2.5));
    p.setBrush(QColor(0xf7, 0xf9, 0xfb));
    QPainterPath face;
    face.moveTo(6, 38);
    face.arcTo(dial, 180, -180);
    face.closeSubpath();
    p.drawPath(face);
    p.setBrush(Qt::NoBrush);
    const QRectF band(12, 18, 40, 40);
    p.setPen(QPen(QColor(0x34, 0xa8, 0x53), 6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(band, 180 * 16, -80 * 16);
    p.setPen(QPen(QColor(0xfb, 0xbc, 0x05), 6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(band, 100 * 16, -50 * 16);
    p.setPen(QPen(QColor(0xea, 0x43, 0x35), 6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(band, 50 * 16, -50 * 16);
    p.setPen(Outline(QColor(0x22, 0x22, 0x22), 3.5));
    p.drawLine(QPointF(32, 38), QPointF(44, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x22, 0x22, 0x22));
    p.drawEllipse(QPointF(32, 38), 4, 4);
}

void DrawDelete(QPainter& p) {
    // A red cross.
    p.setPen(Outline(QColor(0x9b, 0x1c, 0x1c), 15));
    p.drawLine(QPointF(14, 14), QPointF(50, 50));
    p.drawLine(QPointF(50, 14), QPointF(14, 50));
    p.setPen(Outline(QColor(0xe5, 0x39, 0x35), 10));
    p.drawLine(QPointF(14, 14), QPointF(50, 50));
    p.drawLine(QPointF(50, 14), QPointF(14, 50));
}

void DrawEdit(QPainter& p) {
    // A pencil lying from bottom left to top right.
    p.save();
    p.translate(32, 32);
    p.rotate(-45);
    p.setPen(Outline(QColor(0x5a, 0x40, 0x10), 2.5));
    p.setBrush(QColor(0xf6, 0xb9, 0x26));
    p.drawRect(QRectF(-16, -7, 30, 14));
    p.setBrush(QColor(0xe8, 0x8e, 0xa0));
    p.drawRoundedRect(QRectF(14, -7, 10, 14), 3, 3);
    QPolygonF tip;
    tip << QPointF(-16, -7) << QPointF(-28, 0) << QPointF(-16, 7);
    p.setBrush(QColor(0xf3, 0xdf, 0xbf));
    p.drawPolygon(tip);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x33, 0x33, 0x33));
    QPolygonF lead;
    lead << QPointF(-23, -2.8) << QPointF(-28, 0) << QPointF(-23, 2.8);
    p.drawPolygon(lead);
    p.restore();
}

void DrawDevice(QPainter& p) {
    // A field device: a box with status lights and a terminal strip.
    p.setPen(Outline(QColor(0x22, 0x2a, 0x32)));
    p.setBrush(QColor(0x4a, 0x55, 0x60));
    p.drawRoundedRect(QRectF(6, 10, 52, 44), 5, 5);
    p.setBrush(QColor(0x9f, 0xd3, 0xf5));
    p.drawRoundedRect(QRectF(12, 16, 26, 14), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4c, 0xd9, 0x64));
    p.drawEllipse(QPointF(46, 19), 3.5, 3.5);
    p.setBrush(QColor(0xfb, 0xbc, 0x05));
    p.drawEllipse(QPointF(46, 28), 3.5, 3.5);
    p.setBrush(QColor(0xd0, 0xd6, 0xdc));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(12 + i * 8.5, 40, 6, 8));
}

void DrawClock(QPainter& p) {
    // A clock face showing ten past ten.
    p.setPen(Outline(QColor(0x2d, 0x3a, 0x46), 4));
    p.setBrush(QColor(0xfa, 0xfb, 0xfc));
    p.drawEllipse(QRectF(5, 5, 54, 54));
    p.setPen(Outline(QColor(0x6b, 0x77, 0x83), 2.5));
    for (int i = 0; i < 12; ++i) {
        double angle = i * kPi / 6;
        p.drawLine(QPointF(32 + 21 * std::sin(angle), 32 - 21 * std::cos(angle)),
                   QPointF(32 + 24 * std::sin(angle), 32 - 24 * std::cos(angle)));
    }
    p.setPen(Outline(QColor(0x22, 0x22, 0x22), 4.5));
    p.drawLine(QPointF(32, 32), QPointF(20, 24));
    p.setPen(Outline(QColor(0x22, 0x22, 0x22), 3));
    p.drawLine(QPointF(32, 32), QPointF(45, 18));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0x30, 0x25));
    p.drawEllipse(QPointF(32, 32), 3.5, 3.5);
}

void DrawAddRegisters(QPainter& p) {
    // A register table with a green plus: add every register at once.
    p.setPen(Outline(QColor(0x3a, 0x4a, 0x5a), 2.5));
    p.setBrush(QColor(0xfd, 0xfe, 0xff));
    p.drawRect(QRectF(4, 6, 46, 44));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x90, 0xd9));
    p.drawRect(QRectF(5.25, 7.25, 43.5, 9));
    p.setPen(Outline(QColor(0x9a, 0xa8, 0xb6), 2));
    for (int row = 0; row < 3; ++row)
        p.drawLine(QPointF(5, 27 + row * 8.5), QPointF(49, 27 + row * 8.5));
    p.drawLine(QPointF(20, 17), QPointF(20, 49));
    p.setPen(Outline(QColor(0x1e, 0x7a, 0x34), 2.5));
    p.setBrush(QColor(0x34, 0xa8, 0x53));
    p.drawEllipse(QPointF(46, 46), 15, 15);
    p.setPen(Outline(Qt::white, 5));
    p.drawLine(QPointF(46, 38), QPointF(46, 54));
    p.drawLine(QPointF(38, 46), QPointF(54, 46));
}

void DrawRecord(QPainter& p) {
    // The recorder's red dot in a dark ring, as on every recording device.
    p.setPen(Outline(QColor(0x33, 0x33, 0x33), 5));
    p.setBrush(QColor(0xf5, 0xf5, 0xf5));
    p.drawEllipse(QPointF(32, 32), 25, 25);
    p.setPen(Outline(QColor(0x9b, 0x1c, 0x1c), 3));
    p.setBrush(QColor(0xe5, 0x39, 0x35));
    p.drawEllipse(QPointF(32, 32), 15, 15);
}

void DrawTraffic(QPainter& p) {
    // Frames both ways on a line: a blue arrow out above a green arrow back.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x63, 0xb4));
    p.drawRect(QRectF(6, 15, 34, 8));
    p.drawPolygon(QPolygonF({QPointF(38, 6), QPointF(58, 19), QPointF(38, 32)}));
    p.setBrush(QColor(0x2e, 0x9b, 0x4f));
    p.drawRect(QRectF(24, 41, 34, 8));
    p.drawPolygon(QPolygonF({QPointF(26, 32), QPointF(6, 45), QPointF(26, 58)}));
}

using Drawer = void (*)(QPainter&);

Drawer DrawerOf(int id) {
    switch (id) {
    case kIconApp:
        return DrawApp;
    case kIconOptions:
        return DrawGear;
    case kIconParityEven:
        return [](QPainter& p) { DrawBadge(p, QColor(0x2e, 0x9b, 0x4f), 'E'); };
    case kIconParityNone:
        return [](QPainter& p) { DrawBadge(p, QColor(0x86, 0x8e, 0x96), 'N'); };
    case kIconParityOdd:
        return [](QPainter& p) { DrawBadge(p, QColor(0xe3, 0x7b, 0x00), 'O'); };
    case kIconSearch:
        return DrawSearch;
    case kIconSerialPort:
        return DrawSerialPort;
    case kIconNetwork:
        return DrawNetwork;
    case kIconBaudRate:
        return DrawBaudRate;
    case kIconGroup:
        return DrawGroup;
    case kIconSource:
        return DrawSource;
    case kIconDelete:
        return DrawDelete;
    case kIconEdit:
        return DrawEdit;
    case kIconDevice:
        return DrawDevice;
    case kIconClock:
        return DrawClock;
    case kIconAddRegisters:
        return DrawAddRegisters;
    case kIconRecord:
        return DrawRecord;
    case kIconTraffic:
        return DrawTraffic;
    default:
        return nullptr;
    }
}

std::mutex g_cacheMutex;
std::map<int, QIcon>& Cache() {
    static std::map<int, QIcon> cache;
    return cache;
}

// Pixmaps must go before the application object does, so the cache is emptied when it is destroyed.
void ClearCache() {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    Cache().clear();
}

} // namespace

int HasIcon(int id) {
    return DrawerOf(id) ? 1 : 0;
}

QPixmap IconPixmap(int id, int size) {
    Drawer drawer = DrawerOf(id);
    if (!drawer || size < 1)
        return QPixmap();
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.scale(size / 64.0, size / 64.0);
        drawer(painter);
    }
    return QPixmap::fromImage(image);
}

QIcon IconById(int id) {
    if (!DrawerOf(id))
        return QIcon();
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto found = Cache().find(id);
    if (found != Cache().end())
        return found->second;
    if (Cache().empty())
        qAddPostRoutine(ClearCache);
    QIcon icon;
    for (int size : {16, 20, 24, 32, 40, 48, 64, 96, 128, 256})
        icon.addPixmap(IconPixmap(id, size));
    Cache()[id] = icon;
    return icon;
}

} // namespace mistvale
