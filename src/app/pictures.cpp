#include "app/pictures.h"

#include <QPainter>
#include <QPainterPath>

QPixmap StatePicture(int resource, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const bool connected = resource == 102;
    const QColor fill = connected ? QColor(0x2e, 0xa0, 0x43) : QColor(0xb0, 0xb0, 0xb0);
    const QColor edge = connected ? QColor(0x1b, 0x66, 0x29) : QColor(0x70, 0x70, 0x70);
    p.setPen(QPen(edge, size / 16.0));
    p.setBrush(fill);
    p.drawEllipse(QRectF(size * 0.06, size * 0.06, size * 0.88, size * 0.88));
    // Two halves of a link: touching when connected, apart with a gap when not.
    p.setPen(QPen(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap));
    const double y = size / 2.0;
    const double gap = connected ? 0.0 : size * 0.12;
    p.drawLine(QPointF(size * 0.22, y), QPointF(size / 2.0 - gap, y));
    p.drawLine(QPointF(size / 2.0 + gap, y), QPointF(size * 0.78, y));
    if (!connected) {
        p.setPen(QPen(QColor(0xc0, 0x30, 0x30), size / 12.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(size * 0.42, size * 0.30), QPointF(size * 0.58, size * 0.70));
    }
    return pixmap;
}
