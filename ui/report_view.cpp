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
    if (pending_.isEmpty())
        QMetaObject::invokeMethod(this, &TReportView::FlushLines, Qt::QueuedConnection);
    pending_.append(line);
}

void TReportView::FlushLines() {
    if (pending_.isEmpty())
        return;
    QTextCursor end(document());
    // Inside the edit block the move skips laying out the last line to find its x position.
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    if (hasLines_)
        end.insertBlock();
    // Report lines hold no line breaks (CR and LF end them), so each joined line is one block.
    end.insertText(pending_.join(QChar('\n')));
    end.endEditBlock();
    pending_.clear();
    hasLines_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

QString TReportView::Text() {
    FlushLines();
    return toPlainText();
}

int TReportView::LineCount() {
    FlushLines();
    return hasLines_ ? document()->blockCount() : 0;
}

void TReportView::ClearLines() {
    pending_.clear();
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
