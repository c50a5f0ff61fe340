// The report views: lines added at the end, empty lines kept, the newest line scrolled into view.

#include "ui/report_view.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
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
        QCoreApplication::processEvents(); // the event loop brings added lines into the view
        QScrollBar* bar = view.verticalScrollBar();
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), bar->maximum());
        const QTextBlock last = view.document()->lastBlock();
        EXPECT_EQ(last.text(), QStringLiteral("newest"));
        EXPECT_TRUE(view.viewport()->rect().intersects(view.cursorRect(QTextCursor(last))));
    }
}
