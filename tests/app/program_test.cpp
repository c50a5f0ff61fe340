// The program's start: its windows in order, the main window on screen, the start-up sequence run
// once by the timer, and the end when the main window closes.

#include "app/program.h"
#include "tests/ui/forms_fixture.h"
#include "ui/line_form.h"
#include "ui/stamping_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QScreen>
#include <QTest>

class ProgramTest : public ::testing::Test {
protected:
    // Lets the event loop run until the start-up timer has fired (false if it never does).
    static bool StartUpRan(Program& program) {
        return QTest::qWaitFor([&] { return !program.Forms().MainForm->StartupTimer->isActive(); },
                               10000);
    }

    TemporarySettings settings;
    MessageBoxRecorder boxes;
    SerialLines lines;
};

TEST_F(ProgramTest, WindowsAreCreatedHiddenInTheProgramsOrder) {
    Program program;
    std::vector<std::string> names;
    for (QWidget* window : program.Forms().Windows()) {
        names.push_back(window->objectName().toStdString());
        EXPECT_FALSE(window->isVisible()) << names.back();
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"TMainForm", "EasterEggForm", "AboutForm", "TSerialForm",
                                        "TSetLineLabelForm", "TStampingForm", "TPortDevicesForm",
                                        "TReportFilesForm", "TPlantBrokerForm", "TLine1Form",
                                        "TLine2Form", "TLine3Form", "TLine4Form", "TLine5Form",
                                        "TLine6Form", "TLine7Form", "TLine8Form"}));
    EXPECT_TRUE(program.Forms().MainForm->StartupTimer->isActive());
    EXPECT_EQ(program.Forms().MainForm->StartupTimer->interval(), 250);
    program.Forms().MainForm->StartupTimer->stop();
}

TEST_F(ProgramTest, StartUpRunsOnceAfterTheMainWindowShowsAndSpreadsTheCaptions) {
    settings.Write("[LineLabels]\nLine2=Packing\nLine8=\n[ComPortSettings]\nComPortB=3\n"
                   "[StampingSettings]\nDateStamp2=0\nDelimiter2=3\n");
    Program program;
    FormSet& forms = program.Forms();
    // The reference is where the window system put the shown window. On a slow build the 250 ms
    // can pass before the window is shown, so the timer waits until it is, then runs in full.
    forms.MainForm->StartupTimer->stop();
    program.ShowMainForm();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(forms.MainForm));
    EXPECT_FALSE(forms.MainForm->StartLineBtns[2]->isEnabled()) << "off from the first paint";
    EXPECT_EQ(forms.MainForm->Caption(2), QStringLiteral("Packing"));
    const QPoint centred = forms.MainForm->pos();
    forms.MainForm->StartupTimer->start();
    ASSERT_TRUE(StartUpRan(program));

    EXPECT_TRUE(forms.MainForm->isVisible());
    EXPECT_EQ(forms.MainForm->pos(), centred - QPoint(0, 16));
    EXPECT_EQ(forms.MainForm->Caption(2), QStringLiteral("Packing"));
    EXPECT_EQ(forms.MainForm->Caption(8), QString());
    EXPECT_EQ(forms.MainForm->StartHint(2),
              QStringLiteral("Click to start grabbing reports from Packing"));
    EXPECT_EQ(forms.SerialForm->ComPortGroups[1]->title(), QStringLiteral("Packing"));
    EXPECT_EQ(forms.StampingForm->StampingGroups[1]->title(), QStringLiteral("Packing"));
    EXPECT_EQ(forms.LineForms[1]->windowTitle(), QStringLiteral("Packing"));
    EXPECT_FALSE(forms.StampingForm->DateStampBoxes[1]->isChecked());
    EXPECT_EQ(forms.Lines.Line(2).Capture.Delimiter, ';');
    EXPECT_EQ(forms.Lines.Line(1).Capture.Delimiter, ',');
    EXPECT_EQ(forms.SerialForm->ComPorts[1]->ComNumber(), 4);
    EXPECT_TRUE(forms.MainForm->StartLineBtns[1]->isEnabled());
    EXPECT_FALSE(forms.MainForm->StartLineBtns[2]->isEnabled());
    for (QToolButton* button : forms.MainForm->StartLineBtns)
        EXPECT_FALSE(button->isChecked());

    // The start-up does not run again, even when the captions change afterwards.
    forms.MainForm->LineGroups[1]->setTitle(QStringLiteral("Renamed"));
    QTest::qWait(300);
    EXPECT_EQ(forms.MainForm->Caption(2), QStringLiteral("Renamed"));
}

TEST_F(ProgramTest, PortDialogIsCentredWhenFirstShownWhateverTheStartUpMoved) {
    Program program;
    FormSet& forms = program.Forms();
    program.ShowMainForm();
    ASSERT_TRUE(StartUpRan(program));
    QPoint firstShown;
    QPoint secondShown;
    {
        ModalDriver driver([&](QWidget* modal) {
            firstShown = modal->pos();
            modal->move(modal->pos() + QPoint(40, 30));
            modal->close();
        });
        forms.MainForm->MenuComClick();
    }
    {
        ModalDriver driver([&](QWidget* modal) {
            secondShown = modal->pos();
            modal->close();
        });
        forms.MainForm->MenuComClick();
    }
    const QRect screen = forms.SerialForm->screen()->availableGeometry();
    EXPECT_EQ(firstShown, QPoint(screen.x() + (screen.width() - 785) / 2,
                                 screen.y() + (screen.height() - 701) / 2));
    EXPECT_EQ(secondShown, firstShown + QPoint(40, 30));
}

TEST_F(ProgramTest, ExitClosesTheMainWindowAndEndsTheEventLoop) {
    Program program;
    program.ShowMainForm();
    ASSERT_TRUE(StartUpRan(program));
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        guardFired = true;
        QCoreApplication::exit(1);
    });
    guard.start(10000);
    QTimer::singleShot(0, program.Forms().MainForm->MenuExit, &QAction::trigger);
    const int result = QApplication::exec();
    EXPECT_FALSE(guardFired);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(program.Forms().MainForm->isVisible());
    EXPECT_FALSE(settings.Exists()) << "nothing is saved at exit";
}
