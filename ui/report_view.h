#pragma once

#include <QPlainTextEdit>

// A read-only view of one line's report lines, in white Courier New on navy. Lines are only ever
// added at the end; adding one costs the same however many the view already holds.
class TReportView : public QPlainTextEdit {
    Q_OBJECT

public:
    TReportView(QWidget* parent, bool wrap);

    // Adds the line as the new last line and scrolls so that it is visible.
    void AddLine(const QString& line);
    // Empties the view.
    void ClearLines();
    void SetBackground(const QColor& colour);
    QColor Background() const;

private:
    // An empty document cannot tell "no lines" from "one empty line"; this flag can.
    bool hasLines_ = false;
};
