#pragma once

#include "ui/report_store.h"

#include <QAbstractScrollArea>
#include <QRawFont>
#include <atomic>
#include <memory>
#include <vector>

// A read-only view of one line's report lines, in white Courier New on navy, that lays out and
// paints only the rows it shows, so that millions of lines, or a line of megabytes, cost no more
// than a screenful. The font is monospaced and each byte is one character, so a row is a slice of
// a line found by arithmetic. The store may be filled on another thread; all views hear of it
// through one event a frame and take in what was added at most ten times a second: a flood
// is counted and painted once, not once a line. Taking lines in moves the rows on screen and
// paints only the rows that are new.
class TReportView : public QAbstractScrollArea, private ReportStoreListener {
    Q_OBJECT

public:
    // A view of lines of its own, or of a store that another view shows too.
    TReportView(QWidget* parent, bool wrap, std::shared_ptr<ReportStore> store = nullptr);
    ~TReportView() override;

    ReportStore& Store() { return *store_; }
    std::shared_ptr<ReportStore> SharedStore() const { return store_; }

    // Adds the line as the new last line; the view scrolls to it once the event loop is free.
    void AddLine(const QString& line);
    // Empties the store, and so every view of it.
    void ClearLines();
    // The lines held, one per text line, including those not yet taken into the view.
    QString Text() const;
    int LineCount() const;
    // Takes in the lines added since the last time and scrolls to the end.
    void FlushLines();
    // From a change of the store until the view takes the lines in.
    bool HasNewLines() const { return notified_; }
    void SetBackground(const QColor& colour);
    QColor Background() const;
    // Long lines wrap at the right edge, or run on past it.
    bool Wraps() const { return wrap_; }
    // The characters a wrapped row holds at the view's width.
    int Columns() const;

    // The rows that the lines taken in fill, the first one shown, how many fit, what one shows.
    qint64 RowCount() const { return rowCount_; }
    qint64 TopRow() const;
    int VisibleRows() const;
    QString RowText(qint64 row) const;
    // The text selected with the mouse, lines separated by line feeds; Ctrl+C copies it.
    QString SelectedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A place between two bytes of a line.
    struct Place {
        std::size_t Line = 0;
        std::size_t Offset = 0;
        auto operator<=>(const Place&) const = default;
    };
    // A row: its line and the slice of the line's bytes that it shows.
    struct Row {
        std::size_t Line = 0;
        std::size_t From = 0;
        std::size_t Count = 0;
    };

    // Asks the views' frame clock for a frame, once between two frames.
    void LinesChanged() override;
    // What fits into the viewport at a size of the view.
    struct Fit {
        QSize ForSize;
        int Columns = 1;
        int Rows = 1;
    };

    void MeasureFont();
    // Draws a row's characters, one cell each, from x on the row's baseline.
    void DrawCells(QPainter& painter, QPointF at, const QString& text) const;
    const Fit& Fitted() const;
    qint64 RowsOf(std::size_t line) const;
    qint64 RowsOfLength(std::size_t length) const;
    // The viewport below its top margin, where the rows are.
    QRect RowsArea() const;
    Row FirstRow(std::size_t line) const;
    Row NextRow(const Row& row) const;
    Row RowAt(qint64 row) const;
    qint64 FirstRowOf(std::size_t line) const;
    Place PlaceAt(QPoint point) const;
    // Counts the rows of the lines not yet taken in, from the first line held when the width has
    // changed or lines have gone; true when the rows were counted afresh.
    bool TakeLines();
    // Only the rows from the row on, to the bottom of the viewport, are painted again.
    void UpdateRowsFrom(qint64 row);
    // After a change of width or font: the rows counted again, the top row's text kept in view.
    void Relayout();
    // The scroll bar set for the rows, with top as the first row shown or as near as it can be.
    void ShowRows(qint64 top);

    std::shared_ptr<ReportStore> store_;
    bool wrap_;
    // Set by the first change after a flush, from any thread; cleared when the view takes lines in.
    std::atomic<bool> notified_{false};
    double charWidth_ = 1;
    int rowHeight_ = 1;
    int ascent_ = 0;
    // The font's glyphs, looked up without shaping: every byte is one cell, and shaping each new
    // row cost more than the rest of its painting.
    QRawFont glyphs_;
    mutable Fit fit_;
    int columns_ = 0;              // the columns that the rows were counted for
    std::uint64_t generation_ = 0; // the store's, when the rows were counted
    std::size_t firstLine_ = 0;    // the line that row 0 belongs to
    std::size_t takenLines_ = 0;   // the number of the line after the last one taken in
    qint64 rowCount_ = 0;
    // The rows before every CheckpointLines-th line from firstLine_, so that finding a row counts
    // few lines.
    std::vector<qint64> checkpoints_;
    Place anchor_;
    Place cursor_;
    bool selecting_ = false;
};
