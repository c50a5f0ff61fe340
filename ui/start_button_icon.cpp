#include "ui/start_button_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace {

class StartButtonIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // Images are designed on a 16 by 16 grid and keep their proportions in any rectangle.
        const qreal side = qMin(rect.width(), rect.height());
        const QRectF box(rect.x() + (rect.width() - side) / 2.0,
                         rect.y() + (rect.height() - side) / 2.0, side, side);
        const qreal unit = side / 16.0;
        if (mode == QIcon::Disabled)
            PaintTriangle(painter, box, unit, QColor(128, 128, 128), QColor(96, 96, 96));
        else if (state == QIcon::On)
            PaintCircle(painter, box, unit);
        else
            PaintTriangle(painter, box, unit, QColor(0, 176, 0), QColor(0, 96, 0));
        painter->restore();
    }

    QIconEngine* clone() const override { return new StartButtonIconEngine; }
    QString key() const override { return QStringLiteral("StartButtonIconEngine"); }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap image(size);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return image;
    }

private:
    static void PaintTriangle(QPainter* painter, const QRectF& box, qreal unit, const QColor& fill,
                              const QColor& edge) {
        QPainterPath triangle;
        triangle.moveTo(box.left() + 3 * unit, box.top() + 2 * unit);
        triangle.lineTo(box.left() + 14 * unit, box.top() + 8 * unit);
        triangle.lineTo(box.left() + 3 * unit, box.top() + 14 * unit);
        triangle.closeSubpath();
        painter->setPen(QPen(edge, qMax<qreal>(1.0, unit)));
        painter->setBrush(fill);
        painter->drawPath(triangle);
    }

    static void PaintCircle(QPainter* painter, const QRectF& box, qreal unit) {
        painter->setPen(QPen(QColor(128, 0, 0), qMax<qreal>(1.0, unit)));
        painter->setBrush(QColor(224, 0, 0));
        painter->drawEllipse(box.adjusted(2 * unit, 2 * unit, -2 * unit, -2 * unit));
    }
};

} // namespace

QIcon StartButtonIcon() {
    return QIcon(new StartButtonIconEngine);
}
