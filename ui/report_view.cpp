#include "ui/report_view.h"

#include "runtime/ansi_text.h"
#include "ui/design_fonts.h"

#include <QBasicTimer>
#include <QClipboard>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// As far from the edges as a plain text view keeps its text.
constexpr int Margin = 4;
constexpr std::size_t CheckpointLines = 1024;
// Ten frames a second at most: a report line is read, not watched move, and a tenth of a second
// is still at once to the eye. Each frame costs the GUI thread and the display far more than the
// lines it shows (a wake-up, the paint and the flush to the display), so lines that come in turn
// on several lines share a frame instead of taking one each.
constexpr qint64 FrameMs = 100;

// Report bytes as the view draws them: control characters take their cell as a blank, so that
// every byte stays one character wide.
QString Drawn(const std::string& bytes) {
    QString text = AnsiToQString(bytes);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            c = QChar(u' ');
    }
    return text;
}

// A view's range grows with every report line, and a scroll bar repaints on every change of its
// range, steps or value; over a view of many lines its slider mostly stays where it was, to the
// pixel. This one takes a set of changes at once and repaints only when what it shows changed,
// and only where the slider was and is when nothing else changed: Qt's raster engine hands a fill
// of 96 rows or more to a thread pool and waits for it, which costs more than the fill.
class RowScrollBar : public QScrollBar {
    // The style draws the slider's frame and shadow a little outside its rectangle.
    static constexpr int SliderEdge = 3;

public:
    explicit RowScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

    template <typename Changes> void Change(Changes changes) {
        holding_ = true;
        changes();
        holding_ = false;
        const Look now = CurrentLook();
        if (now == shown_)
            return;
        Look slid = shown_;
        slid.Slider = now.Slider;
        // Updates before the next paint add up: each covers the slider's last place and its new
        // one.
        if (slid == now && shown_.Slider.isValid())
            update(shown_.Slider.united(now.Slider)
                       .adjusted(-SliderEdge, -SliderEdge, SliderEdge, SliderEdge));
        else
            update();
        shown_ = now;
    }

protected:
    void sliderChange(SliderChange change) override {
        if (holding_)
            return;
        shown_ = CurrentLook();
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override {
        shown_ = CurrentLook();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look {
        QRect Slider;
        bool AtTop = false, AtBottom = false, Empty = false;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum(), minimum() == maximum()};
    }

    bool holding_ = false;
    Look shown_;
};

// The views' one frame clock: every view with new lines takes them in on the same tick, at most
// ten times a second, so that the window paints them and sends them to the display once a
// frame, not once for each view. The first change after a tick sets the clock for the next one,
// a frame's time later, for all the views; the lines of a frame may come on eight threads. The
// clock is a timer descriptor that the thread of the change sets itself: the GUI thread then
// wakes once a frame, when it is due, instead of once to hear of the change and again to paint.
// Where none can be had, a posted event sets a timer of the GUI thread. Lives on the GUI thread
// for the program's run.
class ViewFrames : public QObject {
public:
    static ViewFrames& Instance() {
        static ViewFrames* const frames = new ViewFrames;
        return *frames;
    }

    void Add(TReportView* view) { views_.push_back(view); }
    void Forget(TReportView* view) { std::erase(views_, view); }

    // From any thread, once a view has news.
    void Request() {
        if (requested_.exchange(true))
            return;
        if (clock_ >= 0) {
            itimerspec due{};
            due.it_value.tv_sec = FrameMs / 1000;
            due.it_value.tv_nsec = FrameMs % 1000 * 1'000'000;
            if (::timerfd_settime(clock_, 0, &due, nullptr) == 0)
                return;
        }
        if (QThread::currentThread() == thread())
            Start();
        else
            QCoreApplication::postEvent(this, new QEvent(FrameRequestEvent()));
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != FrameRequestEvent())
            return QObject::event(event);
        Start();
        return true;
    }
    void timerEvent(QTimerEvent* event) override {
        if (event->timerId() != timer_.timerId())
            return QObject::timerEvent(event);
        timer_.stop();
        Frame();
    }

private:
    ViewFrames() : clock_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
        if (clock_ < 0)
            return;
        auto* due = new QSocketNotifier(static_cast<qintptr>(clock_), QSocketNotifier::Read, this);
        connect(due, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(clock_, &expirations, sizeof expirations) == sizeof expirations)
                Frame();
        });
    }
    static QEvent::Type FrameRequestEvent() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    // A frame from the first change, even after a quiet while: lines that come close together
    // on several lines are then painted and sent to the display together.
    void Start() {
        if (!timer_.isActive())
            timer_.start(static_cast<int>(FrameMs), Qt::PreciseTimer, this);
    }
    void Frame() {
        // Cleared before the views are looked at: news from here on asks for another frame.
        requested_ = false;
        for (std::size_t i = 0; i < views_.size(); ++i)
            if (views_[i]->HasNewLines())
                views_[i]->FlushLines();
    }

    std::vector<TReportView*> views_;
    std::atomic<bool> requested_{false};
    const int clock_; // a timer descriptor, or -1
    QBasicTimer timer_;
};

} // namespace

TReportView::TReportView(QWidget* parent, bool wrap, std::shared_ptr<ReportStore> store)
    : QAbstractScrollArea(parent),
      store_(store ? std::move(store) : std::make_shared<ReportStore>()), wrap_(wrap) {
    // First: a change of font lays the view out, and that sets the scroll bar's range.
    setVerticalScrollBar(new RowScrollBar(this));
    // Filled in by itself, the scroll bar is repainted alone; otherwise the line's whole panel is
    // painted again beneath it each time.
    verticalScrollBar()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    setFont(ViewFont());
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    // The paint event fills every pixel it paints, so the viewport's background is not filled
    // first; being opaque also lets a scroll move the pixels already shown.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette colours = palette();
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
    SetBackground(NavyColour());
    MeasureFont();
    // Lines the store held before this view came are taken in like any others.
    ViewFrames::Instance().Add(this);
    LinesChanged();
    store_->AddListener(this);
}

TReportView::~TReportView() {
    store_->RemoveListener(this);
    ViewFrames::Instance().Forget(this);
}

void TReportView::AddLine(const QString& line) {
    store_->Append(QStringToAnsi(line));
}

void TReportView::ClearLines() {
    store_->Clear();
}

QString TReportView::Text() const {
    std::string bytes;
    const ReportStore::Extent held = store_->Lines();
    for (std::size_t line = held.First; line < held.End; ++line) {
        if (line > held.First)
            bytes += '\n';
        bytes += store_->Line(line);
    }
    return AnsiToQString(bytes);
}

int TReportView::LineCount() const {
    const ReportStore::Extent held = store_->Lines();
    return static_cast<int>(std::min<std::size_t>(held.End - held.First, INT_MAX));
}

void TReportView::LinesChanged() {
    if (!notified_.exchange(true))
        ViewFrames::Instance().Request();
}

void TReportView::FlushLines() {
    notified_ = false;
    const qint64 oldTop = TopRow();
    const qint64 oldRows = rowCount_;
    if (TakeLines()) {
        ShowRows(rowCount_);
        viewport()->update();
        return;
    }
    if (rowCount_ == oldRows)
        return;
    ShowRows(rowCount_);
    // The rows already shown move up on screen; only those that were empty are painted.
    const qint64 moved = TopRow() - oldTop;
    if (moved > 0 && moved < VisibleRows()) {
        viewport()->scroll(0, -static_cast<int>(moved) * rowHeight_, RowsArea());
    } else if (moved != 0) {
        viewport()->update();
        return;
    }
    UpdateRowsFrom(oldRows);
}

QRect TReportView::RowsArea() const {
    return QRect(0, Margin, viewport()->width(), std::max(0, viewport()->height() - Margin));
}

void TReportView::UpdateRowsFrom(qint64 row) {
    const qint64 y = Margin + (row - TopRow()) * rowHeight_;
    if (y < viewport()->height())
        viewport()->update(QRect(0, static_cast<int>(std::max<qint64>(y, Margin)),
                                 viewport()->width(), viewport()->height()));
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

void TReportView::MeasureFont() {
    const QFontMetricsF metrics(font());
    charWidth_ = std::max(1.0, metrics.horizontalAdvance(QLatin1Char('M')));
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    glyphs_ = QRawFont::fromFont(font());
    fit_ = Fit{};
}

void TReportView::DrawCells(QPainter& painter, QPointF at, const QString& text) const {
    QList<quint32> indexes =
        glyphs_.isValid() ? glyphs_.glyphIndexesForString(text) : QList<quint32>();
    // A character that the font lacks is left to the shaper, which finds it in another font.
    if (indexes.size() != text.size() ||
        std::find(indexes.begin(), indexes.end(), 0u) != indexes.end()) {
        painter.drawText(at, text);
        return;
    }
    QList<QPointF> positions;
    positions.reserve(indexes.size());
    for (qsizetype cell = 0; cell < indexes.size(); ++cell)
        positions.append(QPointF(static_cast<double>(cell) * charWidth_, 0));
    QGlyphRun run;
    run.setRawFont(glyphs_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter.drawGlyphRun(at, run);
}

const TReportView::Fit& TReportView::Fitted() const {
    // Asking the scroll bar for its width costs more than taking in a line, so it is asked only
    // when the view's size or font has changed. A hidden view gets no resize events, yet its size
    // is known: the viewport's, as it will be, follows from it.
    if (size() != fit_.ForSize) {
        const QSize viewport = maximumViewportSize();
        fit_.ForSize = size();
        fit_.Columns = std::max(1, static_cast<int>((viewport.width() - 2 * Margin) / charWidth_));
        fit_.Rows = std::max(1, (viewport.height() - Margin) / rowHeight_);
    }
    return fit_;
}

int TReportView::Columns() const {
    return Fitted().Columns;
}

qint64 TReportView::TopRow() const {
    return verticalScrollBar()->value();
}

int TReportView::VisibleRows() const {
    return Fitted().Rows;
}

qint64 TReportView::RowsOf(std::size_t line) const {
    return wrap_ ? RowsOfLength(store_->LineLength(line)) : 1;
}

qint64 TReportView::RowsOfLength(std::size_t length) const {
    return std::max<qint64>(1, (static_cast<qint64>(length) + columns_ - 1) / columns_);
}

TReportView::Row TReportView::FirstRow(std::size_t line) const {
    const std::size_t length = store_->LineLength(line);
    return {line, 0, wrap_ ? std::min<std::size_t>(length, columns_) : length};
}

TReportView::Row TReportView::NextRow(const Row& row) const {
    const std::size_t length = store_->LineLength(row.Line);
    const std::size_t from = row.From + row.Count;
    if (wrap_ && from < length)
        return {row.Line, from, std::min<std::size_t>(length - from, columns_)};
    return FirstRow(row.Line + 1);
}

TReportView::Row TReportView::RowAt(qint64 row) const {
    if (!wrap_)
        return FirstRow(firstLine_ + static_cast<std::size_t>(row));
    const auto checkpoint = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), row) - 1;
    std::size_t line =
        firstLine_ + static_cast<std::size_t>(checkpoint - checkpoints_.begin()) * CheckpointLines;
    qint64 first = *checkpoint;
    while (first + RowsOf(line) <= row)
        first += RowsOf(line++);
    const std::size_t from = static_cast<std::size_t>(row - first) * columns_;
    const std::size_t length = store_->LineLength(line);
    return {line, from, from < length ? std::min<std::size_t>(length - from, columns_) : 0};
}

qint64 TReportView::FirstRowOf(std::size_t line) const {
    if (line <= firstLine_ || (wrap_ && checkpoints_.empty()))
        return 0;
    if (!wrap_)
        return static_cast<qint64>(line - firstLine_);
    const std::size_t checkpoint =
        std::min((line - firstLine_) / CheckpointLines, checkpoints_.size() - 1);
    qint64 first = checkpoints_[checkpoint];
    for (std::size_t before = firstLine_ + checkpoint * CheckpointLines; before < line; ++before)
        first += RowsOf(before);
    return first;
}

bool TReportView::TakeLines() {
    ReportStore::Extent held = store_->Lines();
    bool afresh = false;
    for (int tries = 0; tries < 3; ++tries) {
        // Lines that went, a Clear, or another width: the rows are counted from the first line
        // held.
        if (held.Generation != generation_ || held.First > firstLine_ ||
            (wrap_ && Columns() != columns_)) {
            if (held.Generation != generation_) {
                anchor_ = cursor_ = Place{};
                selecting_ = false;
            }
            generation_ = held.Generation;
            firstLine_ = held.First;
            takenLines_ = held.First;
            columns_ = Columns();
            rowCount_ = 0;
            checkpoints_.clear();
            afresh = true;
        }
        if (!wrap_) {
            takenLines_ = held.End;
            rowCount_ = static_cast<qint64>(held.End - firstLine_);
            return afresh;
        }
        bool skipped = false;
        store_->ForEachLength(takenLines_, held.End, [&](std::size_t line, std::size_t length) {
            if (skipped || line != takenLines_) {
                skipped = true; // lines went meanwhile
                return;
            }
            if ((line - firstLine_) % CheckpointLines == 0)
                checkpoints_.push_back(rowCount_);
            rowCount_ += RowsOfLength(length);
            ++takenLines_;
        });
        if (!skipped && takenLines_ == held.End)
            return afresh;
        held = store_->Lines();
    }
    return afresh;
}

void TReportView::Relayout() {
    const QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    Place top;
    if (TopRow() < rowCount_) {
        const Row row = RowAt(TopRow());
        top = {row.Line, row.From};
    }
    TakeLines();
    if (atEnd || top.Line >= takenLines_ || top.Line < firstLine_)
        ShowRows(rowCount_);
    else
        ShowRows(FirstRowOf(top.Line) + static_cast<qint64>(top.Offset) / std::max(1, columns_));
    viewport()->update();
}

void TReportView::ShowRows(qint64 top) {
    QScrollBar* bar = verticalScrollBar();
    const int visible = VisibleRows();
    const int last = static_cast<int>(std::clamp<qint64>(rowCount_ - visible, 0, INT_MAX));
    {
        // The scroll bars' policies never change, so the area's re-check of them at every change
        // of range is not needed, and it would wake the event loop with a system call each time.
        const QSignalBlocker quiet(bar);
        const auto changes = [&] {
            bar->setPageStep(visible);
            bar->setSingleStep(1);
            bar->setRange(0, last);
            bar->setValue(static_cast<int>(std::clamp<qint64>(top, 0, last)));
        };
        if (auto* rows = dynamic_cast<RowScrollBar*>(bar))
            rows->Change(changes);
        else
            changes();
    }
}

QString TReportView::RowText(qint64 row) const {
    if (row < 0 || row >= rowCount_)
        return {};
    const Row shown = RowAt(row);
    return AnsiToQString(store_->Bytes(shown.Line, shown.From, shown.Count));
}

QString TReportView::SelectedText() const {
    const auto [from, to] = std::minmax(anchor_, cursor_);
    std::string bytes;
    for (std::size_t line = from.Line; line <= to.Line && line < store_->LineCount(); ++line) {
        const std::size_t start = line == from.Line ? from.Offset : 0;
        const std::size_t end = line == to.Line ? to.Offset : store_->LineLength(line);
        bytes += store_->Bytes(line, start, end - start);
        if (line != to.Line)
            bytes += '\n';
    }
    return AnsiToQString(bytes);
}

TReportView::Place TReportView::PlaceAt(QPoint point) const {
    if (rowCount_ == 0)
        return {};
    const qint64 row =
        TopRow() +
        static_cast<qint64>(std::floor(static_cast<double>(point.y() - Margin) / rowHeight_));
    if (row < 0)
        return {};
    if (row >= rowCount_)
        return {takenLines_ - 1, store_->LineLength(takenLines_ - 1)};
    // (takenLines_ > firstLine_ here: there are rows.)
    const Row shown = RowAt(row);
    const double column = std::max(0.0, std::round((point.x() - Margin) / charWidth_));
    return {shown.Line,
            shown.From + std::min<std::size_t>(static_cast<std::size_t>(column), shown.Count)};
}

void TReportView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    // Only the rows that the area to paint crosses.
    const qint64 top = TopRow() + std::max(0, area.top() - Margin) / rowHeight_;
    if (top >= rowCount_)
        return;
    painter.setFont(font());
    const auto [selFrom, selTo] = std::minmax(anchor_, cursor_);
    // A line that runs on past the edge is drawn only as far as the edge.
    const auto edge = static_cast<std::size_t>(viewport()->width() / charWidth_) + 1;
    const qint64 end =
        std::min(rowCount_, TopRow() + std::max(0, area.bottom() - Margin) / rowHeight_ + 1);
    Row row = RowAt(top);
    for (qint64 r = top; r < end; ++r) {
        // Only to a row that exists: past the last line there is no line to measure.
        if (r > top)
            row = NextRow(row);
        const int y = Margin + static_cast<int>(r - TopRow()) * rowHeight_;
        const QString text = Drawn(store_->Bytes(row.Line, row.From, std::min(row.Count, edge)));
        painter.setPen(palette().color(QPalette::Text));
        DrawCells(painter, QPointF(Margin, y + ascent_), text);
        const std::size_t rowEnd = row.From + row.Count;
        const Place from = std::max(selFrom, Place{row.Line, row.From});
        const Place to = std::min(selTo, Place{row.Line, rowEnd});
        // A selected line end shows as one more selected cell.
        const bool lineEnd = selTo.Line > row.Line && selFrom <= Place{row.Line, rowEnd} &&
                             rowEnd == store_->LineLength(row.Line);
        if (from > to || (from == to && !lineEnd))
            continue;
        const auto cells = static_cast<qsizetype>(to.Offset - from.Offset);
        const double x = Margin + static_cast<double>(from.Offset - row.From) * charWidth_;
        painter.fillRect(
            QRectF(x, y, (static_cast<double>(cells) + (lineEnd ? 1 : 0)) * charWidth_, rowHeight_),
            palette().color(QPalette::Highlight));
        painter.setPen(palette().color(QPalette::HighlightedText));
        DrawCells(painter, QPointF(x, y + ascent_),
                  text.mid(static_cast<qsizetype>(from.Offset - row.From), cells));
    }
}

void TReportView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void TReportView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        MeasureFont();
        Relayout();
    }
}

void TReportView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        if (anchor_ != cursor_)
            QGuiApplication::clipboard()->setText(SelectedText());
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TReportView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    anchor_ = cursor_ = PlaceAt(event->position().toPoint());
    selecting_ = true;
    viewport()->update();
}

void TReportView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_)
        return QAbstractScrollArea::mouseMoveEvent(event);
    // Dragging past the top or bottom edge scrolls on, a row a move.
    const int y = event->position().toPoint().y();
    QScrollBar* bar = verticalScrollBar();
    if (y < 0)
        bar->setValue(bar->value() - 1);
    else if (y >= viewport()->height())
        bar->setValue(bar->value() + 1);
    cursor_ = PlaceAt(event->position().toPoint());
    viewport()->update();
}

void TReportView::mouseReleaseEvent(QMouseEvent* event) {
    if (!selecting_ || event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    selecting_ = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (anchor_ != cursor_ && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void TReportView::scrollContentsBy(int /*dx*/, int /*dy*/) {
    // The operator's scroll paints the view afresh. Moving its pixels here could cross the
    // frame clock's own move of them and its rows to paint, leaving stale rows on screen.
    viewport()->update();
}
