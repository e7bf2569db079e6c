// The glyphs of the nine tool buttons, drawn with QPainter at the size they are shown, so
// they stay sharp at any screen scale. A disabled button shows the same picture in grey.
#include "App_mainform_window.h"
#include "App_scanentries_window.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <functional>

namespace App_mainform {

namespace {

using TPaint = void (*)(QPainter&);

const QColor Ink(0x44, 0x4a, 0x52);
const QColor Paper(0xfc, 0xfc, 0xfc);
const QColor Green(0x2e, 0x9e, 0x48);
const QColor Red(0xd0, 0x3a, 0x32);
const QColor Blue(0x2f, 0x6f, 0xc8);
const QColor Gold(0xf5, 0xb3, 0x00);

QPen Pen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A sheet with a folded corner, on the left part of the grid.
void Sheet(QPainter& p, qreal right = 12.5) {
    QPainterPath sheet;
    sheet.moveTo(2.5, 1.5);
    sheet.lineTo(right - 3.5, 1.5);
    sheet.lineTo(right, 5);
    sheet.lineTo(right, 14.5);
    sheet.lineTo(2.5, 14.5);
    sheet.closeSubpath();
    p.setPen(Pen(Ink, 1));
    p.setBrush(Paper);
    p.drawPath(sheet);
    QPainterPath fold;
    fold.moveTo(right - 3.5, 1.5);
    fold.lineTo(right - 3.5, 5);
    fold.lineTo(right, 5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(fold);
}

// A round badge in the lower right corner.
void Badge(QPainter& p, const QColor& color) {
    p.setPen(Pen(color.darker(130), 0.8));
    p.setBrush(color);
    p.drawEllipse(QPointF(11.5, 11.5), 4, 4);
}

void Plus(QPainter& p) {
    p.setPen(Pen(Qt::white, 1.6));
    p.drawLine(QPointF(11.5, 9.3), QPointF(11.5, 13.7));
    p.drawLine(QPointF(9.3, 11.5), QPointF(13.7, 11.5));
}

void Minus(QPainter& p) {
    p.setPen(Pen(Qt::white, 1.6));
    p.drawLine(QPointF(9.3, 11.5), QPointF(13.7, 11.5));
}

// New: an empty sheet.
void PaintNew(QPainter& p) {
    Sheet(p, 13.5);
}

// Add regular files: a sheet with a green plus.
void PaintAdd(QPainter& p) {
    Sheet(p, 11);
    Badge(p, Green);
    Plus(p);
}

// Delete (from the list): the list's lines with a red minus.
void PaintDelete(QPainter& p) {
    p.setPen(Pen(Ink, 1.4));
    for (const qreal y : {3.0, 6.5, 10.0})
        p.drawLine(QPointF(2, y), QPointF(y < 9 ? 14 : 7, y));
    Badge(p, Red);
    Minus(p);
}

// Priority primary: the gold star of a primary row.
void PaintPrimary(QPainter& p) {
    p.setPen(Pen(QColor(0x8a, 0x5a, 0x00), 1));
    p.setBrush(Gold);
    p.drawPath(App_scanentries::PriorityStar());
}

// Priority secondary: the hollow star of a secondary row.
void PaintSecondary(QPainter& p) {
    p.setPen(Pen(QColor(0x6a, 0x6a, 0x6a), 1.1));
    p.setBrush(QColor(0xee, 0xee, 0xee));
    p.drawPath(App_scanentries::PriorityStar());
}

// Remove all unique: the unique mark (a green check) with a red minus.
void PaintRemoveUnique(QPainter& p) {
    p.setPen(Pen(Green.darker(130), 1));
    p.setBrush(Green);
    p.drawEllipse(QPointF(6.5, 6.5), 5.5, 5.5);
    QPainterPath check;
    check.moveTo(3.8, 6.7);
    check.lineTo(5.8, 8.7);
    check.lineTo(9.3, 4.6);
    p.setPen(Pen(Qt::white, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(check);
    Badge(p, Red);
    Minus(p);
}

// Move to the trash: a bin with its lid.
void PaintTrash(QPainter& p) {
    p.setPen(Pen(Ink, 1));
    p.setBrush(QColor(0xc9, 0xd3, 0xde));
    QPainterPath bin;
    bin.moveTo(3.5, 4.5);
    bin.lineTo(12.5, 4.5);
    bin.lineTo(11.5, 14.5);
    bin.lineTo(4.5, 14.5);
    bin.closeSubpath();
    p.drawPath(bin);
    p.drawLine(QPointF(6.5, 6.8), QPointF(6.8, 12.5));
    p.drawLine(QPointF(9.5, 6.8), QPointF(9.2, 12.5));
    p.setPen(Pen(Ink, 1.3));
    p.drawLine(QPointF(2, 3), QPointF(14, 3));
    p.drawLine(QPointF(6.5, 1.5), QPointF(9.5, 1.5));
}

void Arrow(QPainter& p, bool up) {
    QPainterPath arrow;
    arrow.moveTo(8, 1.5);
    arrow.lineTo(14, 8);
    arrow.lineTo(10.2, 8);
    arrow.lineTo(10.2, 14.5);
    arrow.lineTo(5.8, 14.5);
    arrow.lineTo(5.8, 8);
    arrow.lineTo(2, 8);
    arrow.closeSubpath();
    if (!up) {
        p.translate(0, 16);
        p.scale(1, -1);
    }
    p.setPen(Pen(Blue.darker(140), 1));
    p.setBrush(Blue);
    p.drawPath(arrow);
}

void PaintMoveUp(QPainter& p) {
    Arrow(p, true);
}

void PaintMoveDown(QPainter& p) {
    Arrow(p, false);
}

// In the order of SpeedButton1 to SpeedButton9.
constexpr TPaint Glyphs[SpeedButtonCount] = {PaintNew,     PaintAdd,       PaintDelete,
                                             PaintPrimary, PaintSecondary, PaintRemoveUnique,
                                             PaintTrash,   PaintMoveUp,    PaintMoveDown};

// The grey of a disabled button: the picture's lightness kept, faded.
void Grey(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            if (alpha == 0)
                continue;
            // The pixels are premultiplied: the grey is worked out on the plain colour.
            const int plain = qGray(pixel) * 255 / alpha;
            const int light = 110 + plain * 90 / 255;
            const int faded = alpha * 3 / 5;
            const int level = light * faded / 255;
            line[x] = qRgba(level, level, level, faded);
        }
    }
}

class TGlyphEngine : public QIconEngine {
public:
    explicit TGlyphEngine(TPaint draw) : Paint(draw) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap image = pixmap(rect.size() * ratio, mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, image);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal side = std::min(size.width(), size.height());
            painter.translate((size.width() - side) / 2, (size.height() - side) / 2);
            painter.scale(side / 16, side / 16);
            Paint(painter);
        }
        if (mode == QIcon::Disabled)
            Grey(image);
        return QPixmap::fromImage(image);
    }
    // The size arrives already multiplied by the scale.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
        return pixmap(size, mode, state);
    }
    QIconEngine* clone() const override { return new TGlyphEngine(Paint); }
    QString key() const override { return QStringLiteral("SorvikGlyph"); }

private:
    TPaint Paint;
};

} // namespace

QIcon SpeedButtonGlyph(int index) {
    if (index < 0 || index >= SpeedButtonCount)
        return QIcon();
    return QIcon(new TGlyphEngine(Glyphs[index]));
}

} // namespace App_mainform
