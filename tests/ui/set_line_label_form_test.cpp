// The line label dialog: renaming a line everywhere at once, blank labels, Cancel, the edit box.

#include "tests/ui/forms_fixture.h"
#include "ui/line_form.h"
#include "ui/set_line_label_form.h"
#include "ui/stamping_form.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class SetLineLabelFormTest : public FormsTest {
protected:
    TSetLineLabelForm& Label() { return *forms->SetLineLabelForm; }

    // Opens the label dialog for the line as a double-click on its group does, and acts in it.
    void EditLabel(int line, const std::function<void()>& action) {
        ModalDriver driver([&](QWidget*) { action(); });
        Main().EditLineLabel(line);
        EXPECT_FALSE(driver.Stuck);
    }

    // The five places that show line N's caption, and the saved label.
    void ExpectCaptionEverywhere(int line, const QString& caption) {
        const int i = line - 1;
        EXPECT_EQ(Main().LineGroups[i]->title(), caption);
        EXPECT_EQ(Serial().ComPortGroups[i]->title(), caption);
        EXPECT_EQ(forms->StampingForm->StampingGroups[i]->title(), caption);
        EXPECT_EQ(forms->LineForms[i]->windowTitle(), caption);
    }
};

TEST_F(SetLineLabelFormTest, DialogShowsItsTextsAndHints) {
    StartUp();
    EXPECT_EQ(Label().windowTitle(), QStringLiteral("Set Line Label"));
    EXPECT_EQ(Label().size(), QSize(468, 169));
    EXPECT_EQ(Label().findChild<QLabel*>(QStringLiteral("OldLabel"))->text(),
              QStringLiteral("Old Label:"));
    EXPECT_EQ(Label().findChild<QLabel*>(QStringLiteral("NewLabel"))->text(),
              QStringLiteral("New Label:"));
    EXPECT_TRUE(Label().findChild<QLabel*>(QStringLiteral("OldLabel"))->alignment() &
                Qt::AlignRight);
    EXPECT_TRUE(Label().OldCaption->font().bold());
    EXPECT_EQ(Label().OKBtn->toolTip(), QStringLiteral("Click to accept the new label"));
    EXPECT_EQ(Label().CancelBtn->toolTip(), QStringLiteral("Click to keep the old label"));
}

TEST_F(SetLineLabelFormTest, RenamingLineSixReachesEveryWindowAndTheSettingsFile) {
    StartUp("[ComPortSettings]\nComPortF=5\n");
    QString oldShown;
    bool editFocused = false;
    EditLabel(6, [&] {
        oldShown = Label().OldCaption->text();
        editFocused = Label().focusWidget() == Label().NewEdit;
        QTest::keyClicks(Label().NewEdit, QStringLiteral("Press 6"));
        QTest::mouseClick(Label().OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(oldShown, QStringLiteral("Line 6"));
    EXPECT_TRUE(editFocused);
    ExpectCaptionEverywhere(6, QStringLiteral("Press 6"));
    EXPECT_EQ(Main().StartHint(6), QStringLiteral("Click to start grabbing reports from Press 6"));
    for (int line = 1; line <= LineCount; ++line)
        EXPECT_EQ(settings.Value("LineLabels", "Line" + std::to_string(line)),
                  line == 6 ? "Press 6" : "Line " + std::to_string(line));
    // Starting the line names it by its new caption.
    SaveDialogChoice cancel(std::nullopt);
    Main().StartLineBtns[5]->click();
    ASSERT_EQ(cancel.Showings.size(), 1u);
    EXPECT_EQ(cancel.Showings[0].Title, "Save Press 6 Reports As");
}

TEST_F(SetLineLabelFormTest, RenamingAStartedLineKeepsTheStopHint) {
    StartUp();
    StartLine(1, settings.Folder() + "one.txt");
    EditLabel(1, [&] {
        QTest::keyClicks(Label().NewEdit, QStringLiteral("Filling"));
        QTest::mouseClick(Label().OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(Main().StartHint(1), QStringLiteral("Click to stop grabbing reports from Filling"));
    EXPECT_TRUE(Main().StartLineBtns[0]->isChecked());
}

TEST_F(SetLineLabelFormTest, EditBoxStartsEmptyAndABlankLabelGivesBackTheDefaultCaption) {
    StartUp("[LineLabels]\nLine2=Old name\n");
    QString shownInEdit = QStringLiteral("unset");
    Label().NewEdit->setText(QStringLiteral("left over"));
    EditLabel(2, [&] {
        shownInEdit = Label().NewEdit->text();
        QTest::keyClicks(Label().NewEdit, QStringLiteral("   "));
        QTest::mouseClick(Label().OKBtn, Qt::LeftButton);
    });
    EXPECT_TRUE(shownInEdit.isEmpty());
    ExpectCaptionEverywhere(2, QStringLiteral("Line 2"));
    EXPECT_EQ(settings.Value("LineLabels", "Line2"), "Line 2");
    EXPECT_EQ(Main().StartHint(2), QStringLiteral("Click to start grabbing reports from Line 2"));
}

TEST_F(SetLineLabelFormTest, CancelChangesNothingAndWritesNothing) {
    StartUp();
    EditLabel(4, [&] {
        QTest::keyClicks(Label().NewEdit, QStringLiteral("Never"));
        QTest::mouseClick(Label().CancelBtn, Qt::LeftButton);
    });
    ExpectCaptionEverywhere(4, QStringLiteral("Line 4"));
    EXPECT_FALSE(settings.Exists());
    EditLabel(4, [&] {
        QTest::keyClicks(Label().NewEdit, QStringLiteral("Never"));
        QTest::keyClick(Label().NewEdit, Qt::Key_Escape);
    });
    ExpectCaptionEverywhere(4, QStringLiteral("Line 4"));
    EXPECT_FALSE(settings.Exists());
}

TEST_F(SetLineLabelFormTest, EditBoxTakesAtMost35Characters) {
    StartUp();
    EditLabel(1, [&] {
        QTest::keyClicks(Label().NewEdit, QString(40, QChar('x')));
        QTest::keyClick(Label().NewEdit, Qt::Key_Return); // OK is the default button
    });
    EXPECT_EQ(Main().Caption(1), QString(35, QChar('x')));
}

TEST_F(SetLineLabelFormTest, LabelIsWhatTheSettingsFileCanHold) {
    StartUp();
    EditLabel(7, [&] {
        Label().NewEdit->setText(QStringLiteral("Caf\u00e9 \u20ac \u4e2d <b>&x"));
        QTest::mouseClick(Label().OKBtn, Qt::LeftButton);
    });
    // Characters outside the 8-bit code page become '?' on screen just as in the file.
    EXPECT_EQ(Main().Caption(7), QStringLiteral("Caf\u00e9 \u20ac ? <b>&x"));
    EXPECT_EQ(settings.Value("LineLabels", "Line7"), "Caf\xe9 \x80 ? <b>&x");
    // A caption is plain text in the dialog, never markup.
    EditLabel(7, [&] {
        EXPECT_EQ(Label().OldCaption->textFormat(), Qt::PlainText);
        Label().reject();
    });
}

TEST_F(SetLineLabelFormTest, LineOutsideOneToEightOnlySavesTheLabels) {
    StartUp("[LineLabels]\nLine5=Five\n");
    Label().ApplyLineLabel(9, "Nine");
    Label().ApplyLineLabel(0, "Zero");
    for (int line = 1; line <= LineCount; ++line)
        EXPECT_NE(Main().Caption(line), QStringLiteral("Nine"));
    EXPECT_EQ(settings.Value("LineLabels", "Line5"), "Five");
    EXPECT_EQ(settings.Value("LineLabels", "Line1"), "Line 1");
}

TEST_F(SetLineLabelFormTest, LabelThatCannotBeSavedIsShownAndReported) {
    StartUp();
    settings.MakeUnwritable();
    EditLabel(3, [&] {
        QTest::keyClicks(Label().NewEdit, QStringLiteral("Packing"));
        QTest::mouseClick(Label().OKBtn, Qt::LeftButton);
    });
    ExpectCaptionEverywhere(3, QStringLiteral("Packing"));
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text.rfind("Unable to write to ", 0), 0u);
    EXPECT_FALSE(Label().isVisible());
}
