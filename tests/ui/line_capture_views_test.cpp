// Report lines arriving through the port dialog's handlers: both views, the file, the stamping
// check boxes read at the moment, the expanded view while it is open.

#include "tests/ui/forms_fixture.h"
#include "ui/line_form.h"
#include "ui/report_view.h"
#include "ui/stamping_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QTest>
#include <QTextBlock>

namespace {

const std::string SixOn = "[LineLabels]\nLine6=Press 6\n[ComPortSettings]\nComPortF=5\n";

} // namespace

class LineCaptureViewsTest : public FormsTest {};

TEST_F(LineCaptureViewsTest, StartedLineShowsEachReportLineInBothViewsAndAppendsIt) {
    StartUp(SixOn);
    const std::string file = settings.Folder() + "press.txt";
    StartLine(6, file);
    CompleteReportLine(6, "LOT 42 OK");
    forms->StampingForm->TimeStampBoxes[5]->setChecked(false);
    CompleteReportLine(6, "LOT 43 OK");
    const QString expected = QStringLiteral("07-Dec-26,15:04:09,LOT 42 OK\n07-Dec-26,LOT 43 OK");
    EXPECT_EQ(Main().LineWindows[5]->Text(), expected);
    EXPECT_EQ(forms->LineForms[5]->LineWindow->Text(), expected);
    EXPECT_EQ(FileText(file), "07-Dec-26,15:04:09,LOT 42 OK\r\n07-Dec-26,LOT 43 OK\r\n");
    EXPECT_TRUE(Main().LineWindows[0]->Text().isEmpty()) << "other lines untouched";
}

TEST_F(LineCaptureViewsTest, ReportLinesFromTheSerialLineReachBothViewsAndTheFile) {
    StartUp(SixOn);
    const std::string file = settings.Folder() + "press.txt";
    StartLine(6, file);
    ASSERT_TRUE(Serial().ComPorts[5]->Open());
    ASSERT_TRUE(lines.Com(6).Write("LOT 42 OK\r\nLOT 43"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !FileText(file).empty(); }, 10000));
    ASSERT_TRUE(lines.Com(6).Write(" OK\n"));
    const std::string expected = "07-Dec-26,15:04:09,LOT 42 OK\r\n07-Dec-26,15:04:09,LOT 43 OK\r\n";
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileText(file) == expected; }, 10000))
        << FileText(file);
    const QString shown =
        QStringLiteral("07-Dec-26,15:04:09,LOT 42 OK\n07-Dec-26,15:04:09,LOT 43 OK");
    EXPECT_EQ(Main().LineWindows[5]->Text(), shown);
    EXPECT_EQ(forms->LineForms[5]->LineWindow->Text(), shown);
    EXPECT_TRUE(Main().LineWindows[0]->Text().isEmpty());
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(LineCaptureViewsTest, StoppedLineDiscardsItsReportLines) {
    StartUp(SixOn);
    CompleteReportLine(6, "LOT 1");
    EXPECT_TRUE(Main().LineWindows[5]->Text().isEmpty());
    EXPECT_TRUE(Line(6).Capture.PendingText.empty());
}

TEST_F(LineCaptureViewsTest, ReportFileThatCannotBeWrittenShowsTheLinesAndOneBoxAfterTheDelivery) {
    StartUp(SixOn);
    const std::string file = settings.UnwritablePath("press.txt");
    StartLine(6, file);
    ASSERT_TRUE(Main().StartLineBtns[5]->isChecked());
    CompleteReportLine(6, "LOT 1");
    EXPECT_TRUE(boxes.Boxes.empty()) << "never inside the port's event";
    CompleteReportLine(6, "LOT 2");
    EXPECT_EQ(Main().LineWindows[5]->Text(),
              QStringLiteral("07-Dec-26,15:04:09,LOT 1\n07-Dec-26,15:04:09,LOT 2"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes.empty(); }, 10000));
    QTest::qWait(50);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text,
              "Press 6: the report file " + file + " cannot be written: Invalid filename; " +
                  file.substr(0, file.rfind('/')) +
                  " is a file, not a folder.\r\r2 report lines are held and will be "
                  "written as soon as the file can be written again.");
    EXPECT_TRUE(Main().StartLineBtns[5]->isChecked());
}

TEST_F(LineCaptureViewsTest, ExpandedViewShowsTheSameLinesAndReceivesNewOnesWhileOpen) {
    StartUp(SixOn);
    StartLine(6, settings.Folder() + "press.txt");
    CompleteReportLine(6, "LOT 42 OK");
    CompleteReportLine(6, std::string(300, 'X'));
    QString shownAtOpen;
    QString shownAfterNewLine;
    QString title;
    bool wraps = false;
    ModalDriver driver([&](QWidget* modal) {
        auto* expanded = modal->findChild<TReportView*>(QStringLiteral("LineWindow"));
        title = modal->windowTitle();
        shownAtOpen = expanded->Text();
        wraps = expanded->Wraps();
        CompleteReportLine(6, "LOT 44 OK");
        shownAfterNewLine = expanded->Text().section(QChar('\n'), -1);
        modal->close();
    });
    QTest::mouseDClick(Main().LineWindows[5]->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(driver.Seen, std::vector<std::string>{"TLine6Form"});
    EXPECT_EQ(title, QStringLiteral("Press 6"));
    EXPECT_EQ(shownAtOpen, Main().LineWindows[5]->Text().section(QChar('\n'), 0, 1));
    EXPECT_TRUE(wraps);
    EXPECT_EQ(shownAfterNewLine, QStringLiteral("07-Dec-26,15:04:09,LOT 44 OK"));
    EXPECT_EQ(Main().LineWindows[5]->Text().section(QChar('\n'), -1),
              QStringLiteral("07-Dec-26,15:04:09,LOT 44 OK"));
    // Closing only hides it; its contents stay.
    EXPECT_EQ(forms->LineForms[5]->LineWindow->LineCount(), 3);
}

TEST_F(LineCaptureViewsTest, ExpandedViewsAreFixedDialogsWithTheirDesignLayout) {
    StartUp();
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        TLineForm* form = forms->LineForms[line - 1];
        EXPECT_EQ(form->objectName(), QStringLiteral("TLine%1Form").arg(line));
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Line %1").arg(line));
        EXPECT_EQ(form->size(), QSize(1016, 683));
        EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(form->windowFlags() & Qt::WindowMinMaxButtonsHint);
        EXPECT_EQ(form->LineGroup->geometry(), QRect(16, 22, 985, 639));
        EXPECT_TRUE(form->LineGroup->title().isEmpty());
        EXPECT_EQ(form->LineWindow->geometry(), QRect(24, 23, 937, 594));
        EXPECT_EQ(form->LineWindow->font().family(), QStringLiteral("Courier New"));
    }
}
