#include "ui/report_view.h"

#include "ui/design_fonts.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TReportView::TReportView(QWidget* parent, bool wrap) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Nothing is ever undone in a read-only view; an undo history would grow with every line.
    setUndoRedoEnabled(false);
    setTabChangesFocus(true);
    setFont(ViewFont());
    setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette colours = palette();
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
    SetBackground(NavyColour());
}

void TReportView::AddLine(const QString& line) {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    if (hasLines_)
        end.insertBlock();
    end.insertText(line);
    hasLines_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TReportView::ClearLines() {
    clear();
    hasLines_ = false;
}

void TReportView::SetBackground(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colour);
    colours.setColor(QPalette::Window, colour);
    setPalette(colours);
}

QColor TReportView::Background() const {
    return palette().color(QPalette::Base);
}
