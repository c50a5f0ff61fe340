// The stamping dialog: its controls, check boxes that act at once, OK and Cancel.

#include "tests/ui/forms_fixture.h"
#include "ui/report_view.h"
#include "ui/stamping_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

namespace {

const std::string ThreeOn = "[ComPortSettings]\nComPortC=2\n";

} // namespace

class StampingFormTest : public FormsTest {
protected:
    TStampingForm& Stamping() { return *forms->StampingForm; }
};

TEST_F(StampingFormTest, EachLineHasItsStampBoxesAndDelimiterList) {
    StartUp("[LineLabels]\nLine4=Wrapping\n");
    EXPECT_EQ(Stamping().windowTitle(), QStringLiteral("Configure Date & Time Stamping"));
    EXPECT_EQ(Stamping().size(), QSize(474, 670));
    EXPECT_FALSE(Stamping().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(Stamping().OKBtn->toolTip(), QStringLiteral("Click to accept changes"));
    EXPECT_EQ(Stamping().CancelBtn->toolTip(), QStringLiteral("Click to discard changes"));
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        const QString n = QString::number(line);
        auto* group = Stamping().findChild<QGroupBox*>(QStringLiteral("Stamping%1Group").arg(n));
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->size(), QSize(210, 141));
        EXPECT_EQ(group->x(), line % 2 == 1 ? 16 : 248);
        EXPECT_TRUE(group->font().bold());
        EXPECT_EQ(group->title(),
                  line == 4 ? QStringLiteral("Wrapping") : QStringLiteral("Line ") + n);
        auto* date = group->findChild<QCheckBox*>(QStringLiteral("DateStamp%1Box").arg(n));
        auto* time = group->findChild<QCheckBox*>(QStringLiteral("TimeStamp%1Box").arg(n));
        auto* delimiter = group->findChild<QComboBox*>(QStringLiteral("Delimiter%1Box").arg(n));
        ASSERT_TRUE(date && time && delimiter);
        EXPECT_EQ(date->text(), QStringLiteral("Date Stamp"));
        EXPECT_EQ(date->toolTip(), QStringLiteral("Check to include date stamp"));
        EXPECT_EQ(time->text(), QStringLiteral("Time Stamp"));
        EXPECT_EQ(time->toolTip(), QStringLiteral("Check to include time stamp"));
        EXPECT_EQ(delimiter->toolTip(), QStringLiteral("Click to specify delimiter "));
        EXPECT_EQ(delimiter->count(), 4);
        EXPECT_EQ(delimiter->itemText(0), QStringLiteral("comma"));
        EXPECT_EQ(delimiter->itemText(1), QStringLiteral("space"));
        EXPECT_EQ(delimiter->itemText(2), QStringLiteral("tab"));
        EXPECT_EQ(delimiter->itemText(3), QStringLiteral("semicolon"));
        auto* label = group->findChild<QLabel*>(QStringLiteral("Delimiter%1Label").arg(n));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QStringLiteral("Delimiter"));
    }
}

TEST_F(StampingFormTest, UntickingActsOnTheNextReportLineAndCancelRestoresIt) {
    StartUp(ThreeOn);
    StartLine(3, settings.Folder() + "three.txt");
    QString duringDialog;
    ModalDriver driver([&](QWidget*) {
        QTest::mouseClick(Stamping().DateStampBoxes[2], Qt::LeftButton);
        CompleteReportLine(3, "LOT 42 OK");
        duringDialog = Main().LineWindows[2]->Text().section(QChar('\n'), -1);
        QTest::mouseClick(Stamping().CancelBtn, Qt::LeftButton);
    });
    EXPECT_EQ(Stamping().exec(), QDialog::Rejected);
    EXPECT_EQ(duringDialog, QStringLiteral("15:04:09,LOT 42 OK"));
    EXPECT_TRUE(Stamping().DateStampBoxes[2]->isChecked());
    CompleteReportLine(3, "LOT 43 OK");
    EXPECT_EQ(Main().LineWindows[2]->Text().section(QChar('\n'), -1),
              QStringLiteral("07-Dec-26,15:04:09,LOT 43 OK"));
    EXPECT_EQ(settings.Value("StampingSettings", "DateStamp3"), "<missing>")
        << "Cancel writes nothing";
}

TEST_F(StampingFormTest, ChosenDelimiterWaitsForOkAndCancelLeavesIt) {
    StartUp("[ComPortSettings]\nComPortB=1\n");
    StartLine(2, settings.Folder() + "two.txt");
    ModalDriver driver([&](QWidget*) {
        Stamping().DelimiterBoxes[1]->setCurrentIndex(2);
        CompleteReportLine(2, "before OK");
        QTest::mouseClick(Stamping().CancelBtn, Qt::LeftButton);
    });
    Stamping().exec();
    EXPECT_EQ(Line(2).Capture.Delimiter, ',');
    EXPECT_EQ(Stamping().DelimiterBoxes[1]->currentIndex(), 0);
    EXPECT_EQ(Main().LineWindows[1]->Text().section(QChar('\n'), -1),
              QStringLiteral("07-Dec-26,15:04:09,before OK"));

    Stamping().DelimiterBoxes[1]->setCurrentIndex(2);
    Stamping().TimeStampBoxes[1]->setChecked(false);
    Stamping().OKBtnClick();
    EXPECT_EQ(Line(2).Capture.Delimiter, '\t');
    EXPECT_EQ(settings.Value("StampingSettings", "Delimiter2"), "2");
    EXPECT_EQ(settings.Value("StampingSettings", "TimeStamp2"), "0");
    EXPECT_EQ(settings.Value("StampingSettings", "DateStamp8"), "1");
    CompleteReportLine(2, "after OK");
    EXPECT_EQ(Main().LineWindows[1]->Text().section(QChar('\n'), -1),
              QStringLiteral("07-Dec-26\tafter OK"));
}

TEST_F(StampingFormTest, OkWhoseSettingsCannotBeWrittenIsReportedAndStaysOpen) {
    StartUp();
    settings.MakeUnwritable();
    bool openAfterOk = false;
    ModalDriver driver([&](QWidget*) {
        QTest::mouseClick(Stamping().OKBtn, Qt::LeftButton);
        openAfterOk = Stamping().isVisible();
        Stamping().reject();
    });
    Stamping().exec();
    EXPECT_TRUE(openAfterOk);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Tolvane");
    EXPECT_EQ(boxes.Boxes[0].Text.rfind("Unable to write to ", 0), 0u);
}
