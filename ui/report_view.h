#pragma once

#include <QPlainTextEdit>

#include <QStringList>

// A read-only view of one line's report lines, in white Courier New on navy. Lines are only ever
// added at the end; adding one costs the same however many the view already holds. Lines added
// while the GUI thread is busy go into the document together once it is free: a flood of report
// lines would otherwise spend most of its time updating the view line by line.
class TReportView : public QPlainTextEdit {
    Q_OBJECT

public:
    TReportView(QWidget* parent, bool wrap);

    // Adds the line as the new last line and scrolls so that it is visible.
    void AddLine(const QString& line);
    // Empties the view.
    void ClearLines();
    // The view's lines, one per text line, including those not yet in the document.
    QString Text();
    int LineCount();
    // Puts the lines added since the last time into the document and scrolls to the end.
    void FlushLines();
    void SetBackground(const QColor& colour);
    QColor Background() const;

private:
    // An empty document cannot tell "no lines" from "one empty line"; this flag can.
    bool hasLines_ = false;
    QStringList pending_;
};
