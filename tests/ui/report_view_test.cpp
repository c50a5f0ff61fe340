// The report views: lines added at the end, empty lines kept, the newest line scrolled into view,
// two views of one store, rows of a wrapped view, selection and copy.

#include "ui/report_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

TEST(ReportViewTest, EmptyReportLinesAreLinesToo) {
    TReportView view(nullptr, false);
    view.AddLine(QString());
    view.AddLine(QString());
    view.AddLine(QStringLiteral("A1"));
    EXPECT_EQ(view.Text(), QStringLiteral("\n\nA1"));
    EXPECT_EQ(view.LineCount(), 3);
}

TEST(ReportViewTest, ClearingStartsAgainWithoutALeadingBlankLine) {
    TReportView view(nullptr, true);
    view.AddLine(QStringLiteral("old"));
    view.ClearLines();
    EXPECT_TRUE(view.Text().isEmpty());
    view.AddLine(QStringLiteral("new"));
    EXPECT_EQ(view.Text(), QStringLiteral("new"));
}

TEST(ReportViewTest, NewestLineIsScrolledIntoViewEvenAfterTheUserScrolledUp) {
    for (bool wrap : {false, true}) {
        SCOPED_TRACE(wrap);
        TReportView view(nullptr, wrap);
        view.resize(300, 120);
        view.show();
        for (int i = 0; i < 200; ++i)
            view.AddLine(QStringLiteral("line %1 ").arg(i).repeated(wrap ? 6 : 1));
        view.verticalScrollBar()->setValue(0);
        view.AddLine(QStringLiteral("newest"));
        // The event loop brings added lines into the view, on the views' next frame.
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.RowCount() > 200; }));
        QScrollBar* bar = view.verticalScrollBar();
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum());
        const qint64 last = view.RowCount() - 1;
        EXPECT_EQ(view.RowText(last), QStringLiteral("newest"));
        EXPECT_GE(last, view.TopRow());
        EXPECT_LT(last, view.TopRow() + view.VisibleRows());
    }
}

TEST(ReportViewTest, TwoViewsOfOneStoreShowTheSameLinesAndAreEmptiedTogether) {
    TReportView small(nullptr, false);
    TReportView expanded(nullptr, true, small.SharedStore());
    small.Store().Append("LOT 42 \x80 OK");
    EXPECT_EQ(expanded.Text(), QStringLiteral("LOT 42 \u20AC OK"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return expanded.RowCount() == 1; }, 10000));
    expanded.ClearLines();
    EXPECT_EQ(small.LineCount(), 0);
    // The views take the change in from the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return small.RowCount() == 0; }, 10000));
}

TEST(ReportViewTest, WrappedRowsAreSlicesOfTheViewsWidthAndFollowAResize) {
    TReportView wrapped(nullptr, true);
    TReportView unwrapped(nullptr, false, wrapped.SharedStore());
    wrapped.resize(300, 120);
    wrapped.show();
    const int columns = wrapped.Columns();
    ASSERT_GT(columns, 10);
    const QString longLine = QString(2 * columns, QChar('a')) + QStringLiteral("tail");
    wrapped.AddLine(longLine);
    // Past the first thousand lines, where rows are found from a second starting point.
    for (int i = 0; i < 2000; ++i)
        wrapped.AddLine(QStringLiteral("LOT %1").arg(i));
    wrapped.AddLine(longLine);
    ASSERT_TRUE(QTest::qWaitFor([&] { return wrapped.RowCount() == 2006; }, 10000));
    EXPECT_EQ(wrapped.RowText(1), QString(columns, QChar('a')));
    EXPECT_EQ(wrapped.RowText(2), QStringLiteral("tail"));
    EXPECT_EQ(wrapped.RowText(2002), QStringLiteral("LOT 1999"));
    EXPECT_EQ(wrapped.RowText(2005), QStringLiteral("tail"));
    EXPECT_EQ(unwrapped.RowCount(), 2002);
    EXPECT_EQ(unwrapped.RowText(2001), longLine);

    wrapped.resize(3 * wrapped.width(), 120);
    ASSERT_GE(wrapped.Columns(), longLine.size());
    EXPECT_EQ(wrapped.RowCount(), 2002);
    EXPECT_EQ(wrapped.RowText(0), longLine);
    EXPECT_EQ(wrapped.verticalScrollBar()->value(), wrapped.verticalScrollBar()->maximum());
}

TEST(ReportViewTest, DraggingSelectsAcrossRowsAndCtrlCCopiesIt) {
    TReportView view(nullptr, true);
    view.resize(300, 200);
    view.show();
    const int columns = view.Columns();
    view.AddLine(QStringLiteral("first line"));
    view.AddLine(QString(columns, QChar('x')) + QStringLiteral("yz"));
    view.AddLine(QStringLiteral("third"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.RowCount() == 4; }, 10000));
    ASSERT_EQ(view.TopRow(), 0);
    const QFontMetricsF metrics(view.font());
    const auto cell = [&](int row, int column) {
        return QPoint(4 + static_cast<int>(column * metrics.horizontalAdvance(QLatin1Char('M'))) +
                          1,
                      4 + static_cast<int>((row + 0.5) * std::ceil(metrics.lineSpacing())));
    };
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, cell(0, 6));
    QTest::mouseMove(view.viewport(), cell(2, 1));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, cell(2, 1));
    const QString expected = QStringLiteral("line\n") + QString(columns, QChar('x')) + "y";
    EXPECT_EQ(view.SelectedText(), expected);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
}

TEST(ReportViewTest, EachCharacterIsDrawnInItsOwnCell) {
    TReportView view(nullptr, false);
    view.resize(300, 120);
    view.show();
    view.AddLine(QStringLiteral("M\u20ACM"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.RowCount() == 1; }, 10000));
    const QImage shown = view.viewport()->grab().toImage();
    const QFontMetricsF metrics(view.font());
    const double cell = metrics.horizontalAdvance(QLatin1Char('M'));
    const int rowHeight = static_cast<int>(std::ceil(metrics.lineSpacing()));
    const auto lit = [&](int row, int column) {
        int count = 0;
        for (int y = 4 + row * rowHeight; y < 4 + (row + 1) * rowHeight; ++y)
            for (int x = static_cast<int>(4 + column * cell) + 1;
                 x < static_cast<int>(4 + (column + 1) * cell); ++x)
                count += qGray(shown.pixel(x, y)) > 128 ? 1 : 0;
        return count;
    };
    for (int column = 0; column < 3; ++column)
        EXPECT_GT(lit(0, column), 0) << column;
    EXPECT_EQ(lit(0, 3), 0);
}

TEST(ReportViewTest, ScrollBarRepaintedInPartsLooksAsIfPaintedWhole) {
    TReportView view(nullptr, false);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QScrollBar* bar = view.verticalScrollBar();
    const auto shown = [&] {
        const QRect area(bar->mapTo(&view, QPoint()), bar->size());
        return view.screen()
            ->grabWindow(view.winId(), area.x(), area.y(), area.width(), area.height())
            .toImage();
    };
    // One line a frame: the slider shrinks and moves a little each time.
    for (int i = 0; i < 40; ++i) {
        view.AddLine(QStringLiteral("LOT %1").arg(i));
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.RowCount() == i + 1; }, 10000));
    }
    QTest::qWait(50);
    const QImage parts = shown();
    bar->repaint();
    EXPECT_EQ(parts, shown());
}

TEST(ReportViewTest, ScrollingWhileLinesArriveLeavesNoStaleRows) {
    TReportView view(nullptr, false);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto shown = [&] {
        const QRect area(view.viewport()->mapTo(&view, QPoint()), view.viewport()->size());
        return view.screen()
            ->grabWindow(view.winId(), area.x(), area.y(), area.width(), area.height())
            .toImage();
    };
    for (int i = 0; i < 60; ++i)
        view.AddLine(QStringLiteral("LOT %1").arg(i));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.RowCount() == 60; }, 10000));
    // The operator scrolls up a few rows at a time while each new line brings the view back.
    for (int i = 60; i < 80; ++i) {
        view.AddLine(QStringLiteral("LOT %1").arg(i));
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() - 3);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.RowCount() == i + 1; }, 10000));
        QTest::qWait(5);
    }
    QTest::qWait(50);
    const QImage painted = shown();
    view.viewport()->repaint();
    EXPECT_EQ(painted, shown());
}
