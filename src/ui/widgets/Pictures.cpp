#include "Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

QIcon drawn(const std::function<void(QPainter&)>& paint)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        paint(p);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

void paintProgramIcon(QPainter& p)
{
    // A small cash register: a body with a display and a paper slip.
    p.setPen(QPen(QColor(30, 60, 110), 1.5));
    p.setBrush(QColor(240, 240, 240));
    p.drawRect(QRectF(9, 2, 14, 10)); // receipt
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(QPointF(12, 5), QPointF(20, 5));
    p.drawLine(QPointF(12, 8), QPointF(20, 8));
    p.setPen(QPen(QColor(20, 40, 80), 1.5));
    p.setBrush(QColor(45, 95, 170));
    p.drawRoundedRect(QRectF(3, 11, 26, 18), 3, 3);
    p.setBrush(QColor(160, 220, 160));
    p.drawRect(QRectF(7, 14, 18, 5)); // display
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 4; ++col)
            p.drawRect(QRectF(7 + col * 5, 21 + row * 3.5, 3, 2));
    }
}

QIcon programIcon()
{
    static const QIcon icon = drawn(&paintProgramIcon);
    return icon;
}

QIcon errorPicture()
{
    static const QIcon icon = drawn([](QPainter& p) {
        p.setPen(QPen(QColor(120, 0, 0), 1.5));
        p.setBrush(QColor(210, 30, 30));
        p.drawEllipse(QRectF(2, 2, 28, 28));
        p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
        p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
    });
    return icon;
}

QIcon warningPicture()
{
    static const QIcon icon = drawn([](QPainter& p) {
        QPainterPath triangle;
        triangle.moveTo(16, 2.5);
        triangle.lineTo(30, 28.5);
        triangle.lineTo(2, 28.5);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(110, 80, 0), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(250, 200, 20));
        p.drawPath(triangle);
        p.setPen(QPen(Qt::black, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 11), QPointF(16, 19));
        p.drawPoint(QPointF(16, 24.5));
    });
    return icon;
}
