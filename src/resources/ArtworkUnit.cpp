#include "ArtworkUnit.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kBrass(0xC8, 0x9B, 0x3C);
const QColor kBrassDark(0x8A, 0x64, 0x1E);
const QColor kSteel(0x9A, 0xA7, 0xB4);
const QColor kSteelDark(0x4E, 0x5B, 0x68);
const QColor kNavy(0x1F, 0x3A, 0x5F);
const QColor kTeal(0x2A, 0x8C, 0x8C);

QPixmap canvas(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A key lying along the x axis from its bow at the origin, length in the painter's units.
void drawKey(QPainter& p, const QColor& body, const QColor& edge)
{
    p.setPen(QPen(edge, 0.08));
    p.setBrush(body);
    QPainterPath key;
    key.addEllipse(QPointF(0, 0), 0.9, 0.9);
    key.addRect(QRectF(0.7, -0.22, 2.6, 0.44));
    key.addRect(QRectF(2.55, 0.1, 0.3, 0.5));
    key.addRect(QRectF(3.0, 0.1, 0.3, 0.65));
    key.setFillRule(Qt::WindingFill);
    p.drawPath(key.simplified());
    p.setBrush(Qt::transparent);
    p.setPen(QPen(edge, 0.1));
    p.drawEllipse(QPointF(0, 0), 0.35, 0.35);
}

void drawDoor(QPainter& p, const QRectF& r, const QColor& wood)
{
    p.setPen(QPen(kSteelDark, 1));
    p.setBrush(wood);
    p.drawRoundedRect(r, 1.5, 1.5);
}

} // namespace

namespace Artwork {

QPixmap KeysPicture(int size)
{
    QPixmap pixmap = canvas(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 8.0;
    p.scale(unit, unit);
    // The ring.
    p.setPen(QPen(kSteelDark, 0.35));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(2.2, 2.2), 1.5, 1.5);
    p.setPen(QPen(kSteel, 0.18));
    p.drawEllipse(QPointF(2.2, 2.2), 1.5, 1.5);
    // Two keys hanging from it.
    p.save();
    p.translate(3.2, 3.3);
    p.rotate(40);
    drawKey(p, kBrass, kBrassDark);
    p.restore();
    p.save();
    p.translate(2.0, 3.6);
    p.rotate(75);
    drawKey(p, kSteel, kSteelDark);
    p.restore();
    return pixmap;
}

QPixmap OptionsPicture()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(kSteelDark);
    for (int i = 0; i < 8; ++i) {
        p.drawRect(QRectF(-1.3, -7.2, 2.6, 3.5));
        p.rotate(45);
    }
    p.setBrush(kSteel);
    p.setPen(QPen(kSteelDark, 1));
    p.drawEllipse(QPointF(0, 0), 5, 5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 2, 2);
    return pixmap;
}

QPixmap ChangePasswordPicture()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A padlock with a small key in front of it.
    p.setPen(QPen(kSteelDark, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 1, 7, 8), 0, 180 * 16);
    p.drawLine(QPointF(3, 5), QPointF(3, 7));
    p.drawLine(QPointF(10, 5), QPointF(10, 7));
    p.setPen(QPen(kBrassDark, 1));
    p.setBrush(kBrass);
    p.drawRoundedRect(QRectF(1.5, 6.5, 10, 8), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kBrassDark);
    p.drawEllipse(QPointF(6.5, 9.8), 1.2, 1.2);
    p.drawRect(QRectF(6, 10, 1, 2.6));
    p.save();
    p.translate(11.5, 11.5);
    p.scale(1.3, 1.3);
    p.rotate(-45);
    drawKey(p, kTeal, kNavy);
    p.restore();
    return pixmap;
}

QPixmap AboutPicture()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient fill(QPointF(6, 5), 9);
    fill.setColorAt(0, QColor(0x5C, 0x8D, 0xC9));
    fill.setColorAt(1, kNavy);
    p.setPen(QPen(kNavy, 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 4.5), 1.3, 1.3);
    p.drawRoundedRect(QRectF(6.8, 6.8, 2.4, 6), 0.8, 0.8);
    return pixmap;
}

QPixmap ExitPicture()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // An open door frame with an arrow leaving it.
    p.setPen(QPen(kSteelDark, 1.2));
    p.setBrush(QColor(0xE8, 0xE2, 0xD4));
    p.drawRect(QRectF(1.5, 1.5, 8, 13));
    QPolygonF door;
    door << QPointF(1.5, 1.5) << QPointF(6.5, 3) << QPointF(6.5, 15.5) << QPointF(1.5, 14.5);
    p.setBrush(QColor(0x9C, 0x5B, 0x2E));
    p.drawPolygon(door);
    p.setPen(QPen(QColor(0xC0, 0x39, 0x2B), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(8.5, 8), QPointF(14.5, 8));
    p.drawLine(QPointF(12, 5.5), QPointF(14.5, 8));
    p.drawLine(QPointF(12, 10.5), QPointF(14.5, 8));
    return pixmap;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap = canvas(size, size);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        // A key card in front of a lock plate.
        QLinearGradient plate(0, 0, 0, 32);
        plate.setColorAt(0, QColor(0x3A, 0x5F, 0x8F));
        plate.setColorAt(1, kNavy);
        p.setPen(Qt::NoPen);
        p.setBrush(plate);
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        p.setBrush(QColor(0xF5, 0xF1, 0xE6));
        p.save();
        p.translate(16, 17);
        p.rotate(-12);
        p.drawRoundedRect(QRectF(-11, -7, 22, 14), 2, 2);
        p.setBrush(kBrass);
        p.drawRect(QRectF(-8, -3.5, 5, 4));
        p.setBrush(kTeal);
        p.drawRect(QRectF(-11, 3, 22, 2));
        p.restore();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap AboutBanner()
{
    QPixmap pixmap(132, 238);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 238);
    sky.setColorAt(0, QColor(0x1F, 0x3A, 0x5F));
    sky.setColorAt(1, QColor(0x0E, 0x1C, 0x2E));
    p.fillRect(pixmap.rect(), sky);
    // A hotel room door with a card lock, lit from the corridor.
    QRadialGradient light(QPointF(66, 40), 120);
    light.setColorAt(0, QColor(255, 236, 190, 90));
    light.setColorAt(1, QColor(255, 236, 190, 0));
    p.fillRect(pixmap.rect(), light);
    drawDoor(p, QRectF(26, 36, 80, 178), QColor(0x7A, 0x48, 0x26));
    p.setPen(QPen(QColor(0x5E, 0x36, 0x1B), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(36, 50, 60, 60));
    p.drawRect(QRectF(36, 130, 60, 70));
    // Room plate.
    p.setBrush(kBrass);
    p.setPen(QPen(kBrassDark, 1));
    p.drawRoundedRect(QRectF(50, 18, 32, 12), 2, 2);
    // The lock with its card slot and green light.
    p.setBrush(kSteel);
    p.setPen(QPen(kSteelDark, 1));
    p.drawRoundedRect(QRectF(88, 104, 12, 40), 3, 3);
    p.setBrush(kSteelDark);
    p.drawRect(QRectF(92, 110, 4, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3C, 0xD0, 0x70));
    p.drawEllipse(QPointF(94, 132), 2, 2);
    // A card half in the slot.
    p.save();
    p.translate(94, 100);
    p.rotate(-8);
    p.setBrush(QColor(0xF5, 0xF1, 0xE6));
    p.drawRoundedRect(QRectF(-9, -22, 18, 26), 2, 2);
    p.setBrush(kTeal);
    p.drawRect(QRectF(-9, -18, 18, 3));
    p.restore();
    // Floor.
    p.setBrush(QColor(0x2B, 0x2B, 0x33));
    p.drawRect(QRectF(0, 214, 132, 24));
    return pixmap;
}

} // namespace Artwork
