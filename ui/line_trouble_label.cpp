#include "ui/line_trouble_label.h"

#include <QPainter>

TLineTroubleLabel::TLineTroubleLabel(QWidget* parent) : QWidget(parent) {
    hide();
}

void TLineTroubleLabel::SetTrouble(const QString& text, const QColor& colour) {
    if (text == text_ && colour == colour_)
        return;
    text_ = text;
    colour_ = colour;
    setToolTip(text_);
    setVisible(!text_.isEmpty());
    update();
}

void TLineTroubleLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(colour_);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(text_, Qt::ElideMiddle, width()));
}
