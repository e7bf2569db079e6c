#include "App_scanentries_window.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <cmath>
#include <numbers>

namespace App_scanentries {

using Kiv_listviews::TImageList;

namespace {

// Every image is drawn on a 16 by 16 grid scaled to the size it is shown at.
void UseGrid(QPainter& painter, const QRectF& rect) {
    const qreal side = std::min(rect.width(), rect.height());
    painter.translate(rect.center() - QPointF(side / 2, side / 2));
    painter.scale(side / 16, side / 16);
}

} // namespace

QPainterPath PriorityStar() {
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const qreal radius = i % 2 == 0 ? 7.2 : 3.0;
        const qreal angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        const QPointF point(8 + radius * std::cos(angle), 8.6 + radius * std::sin(angle));
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    return star;
}

namespace {

// Primary: the file others are compared with, a solid gold star.
void PaintPrimary(QPainter& painter, const QRectF& rect) {
    UseGrid(painter, rect);
    painter.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xf5, 0xb3, 0x00));
    painter.drawPath(PriorityStar());
}

// Secondary: a candidate copy, the same star hollow and grey.
void PaintSecondary(QPainter& painter, const QRectF& rect) {
    UseGrid(painter, rect);
    painter.setPen(QPen(QColor(0x7a, 0x7a, 0x7a), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xf2, 0xf2, 0xf2));
    painter.drawPath(PriorityStar());
}

// Not yet scanned: an empty dashed circle.
void PaintNotScanned(QPainter& painter, const QRectF& rect) {
    UseGrid(painter, rect);
    QPen pen(QColor(0x9a, 0x9a, 0x9a), 1.2);
    pen.setDashPattern({1.6, 1.4});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(8, 8), 5.6, 5.6);
}

// Unique: no copy found, a green disc with a check mark.
void PaintUnique(QPainter& painter, const QRectF& rect) {
    UseGrid(painter, rect);
    painter.setPen(QPen(QColor(0x1e, 0x7a, 0x32), 1.0));
    painter.setBrush(QColor(0x3c, 0xb0, 0x52));
    painter.drawEllipse(QPointF(8, 8), 6.6, 6.6);
    QPainterPath check;
    check.moveTo(4.8, 8.3);
    check.lineTo(7.1, 10.6);
    check.lineTo(11.4, 5.6);
    painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(check);
}

// In a group: two overlapping orange sheets, the file and its copy.
void PaintGrouped(QPainter& painter, const QRectF& rect) {
    UseGrid(painter, rect);
    painter.setPen(
        QPen(QColor(0x9c, 0x3d, 0x00), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(QColor(0xfb, 0xc0, 0x8c));
    painter.drawRoundedRect(QRectF(1.5, 1.5, 8.5, 10), 1.2, 1.2);
    painter.setBrush(QColor(0xf0, 0x7a, 0x1a));
    painter.drawRoundedRect(QRectF(6, 4.5, 8.5, 10), 1.2, 1.2);
}

} // namespace

TImageList MakePriorityImages() {
    TImageList images;
    images.AddPainted(PaintPrimary);
    images.AddPainted(PaintSecondary);
    return images;
}

TImageList MakeGroupStateImages() {
    TImageList images;
    images.AddPainted(PaintNotScanned);
    images.AddPainted(PaintUnique);
    images.AddPainted(PaintGrouped);
    return images;
}

} // namespace App_scanentries
