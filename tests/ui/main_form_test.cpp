// The main window: its panels, menu, start and stop, the Enter key and the double-click targets.

#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"
#include "tests/ui/forms_fixture.h"
#include "ui/fixed_dialog.h"
#include "ui/line_form.h"
#include "ui/report_view.h"
#include "ui/scaling/gt_form.h"
#include "ui/set_line_label_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QToolTip>

namespace {

QString StartHintFor(const QString& caption) {
    return QStringLiteral("Click to start grabbing reports from ") + caption;
}

QString StopHintFor(const QString& caption) {
    return QStringLiteral("Click to stop grabbing reports from ") + caption;
}

QColor ButtonFace() {
    return QApplication::palette().color(QPalette::Button);
}

// Settings with line 3 captioned Packing and lines 3 and 6 on, so that they can be started.
const std::string PackingSettings = "[LineLabels]\nLine3=Packing\n"
                                    "[ComPortSettings]\nComPortC=2\nComPortF=5\n";

} // namespace

class MainFormTest : public FormsTest {};

TEST_F(MainFormTest, PanelsStandAtTheirDesignPlacesWithTheirTexts) {
    StartUp();
    const QRect groups[] = {{16, 18, 484, 159},   {520, 18, 484, 159}, {16, 186, 484, 159},
                            {520, 186, 484, 159}, {16, 354, 484, 159}, {520, 354, 484, 159},
                            {16, 522, 484, 159},  {520, 522, 484, 159}};
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        const QString n = QString::number(line);
        auto* group = Main().findChild<QGroupBox*>(QStringLiteral("Line%1Group").arg(n));
        auto* button = Main().findChild<QToolButton*>(QStringLiteral("StartLine%1Btn").arg(n));
        auto* view = Main().findChild<TReportView*>(QStringLiteral("Line%1Window").arg(n));
        auto* dialog = Main().findChild<TSaveDialog*>(QStringLiteral("SaveDialog%1").arg(n));
        ASSERT_TRUE(group && button && view && dialog);
        EXPECT_EQ(group->geometry(), groups[line - 1]);
        EXPECT_EQ(group->title(), QStringLiteral("Line ") + n);
        EXPECT_EQ(group->toolTip(), QStringLiteral("Double click to change line label"));
        EXPECT_EQ(button->parentWidget(), group);
        EXPECT_EQ(button->geometry(), line == 5 ? QRect(24, 67, 21, 25) : QRect(20, 67, 25, 25));
        EXPECT_TRUE(button->isCheckable());
        EXPECT_EQ(view->parentWidget(), group);
        EXPECT_EQ(view->geometry(), QRect(64, 23, 405, 121));
        EXPECT_EQ(view->toolTip(), QStringLiteral("Double click to expand window"));
        EXPECT_FALSE(view->Wraps());
        EXPECT_EQ(view->font().family(), QStringLiteral("Courier New"));
        EXPECT_FALSE(view->font().bold());
        EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::white));
    }
}

TEST_F(MainFormTest, WindowHasTitleClientSizeFontAndTabOrderByLine) {
    // On the screen the window was laid out on, form scaling keeps the designed client size.
    const GTForm::ScreenSizeFunction previous =
        GTForm::SetScreenSizeFunction([] { return QSize(1680, 1050); });
    StartUp();
    Main().show();
    GTForm::SetScreenSizeFunction(previous);
    EXPECT_EQ(Main().windowTitle(), QStringLiteral("Tolvane"));
    EXPECT_EQ(Main().centralWidget()->size(), QSize(1016, 694));
    EXPECT_EQ(Main().font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(Main().font().pixelSize(), 13);
    // Tab goes from view to view in line order.
    for (int i = 0; i + 1 < LineCount; ++i) {
        QWidget* next = Main().LineWindows[i]->nextInFocusChain();
        while (next != nullptr && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, Main().LineWindows[i + 1]) << i + 1;
    }
    EXPECT_EQ(Main().StartLineBtns[0]->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainFormTest, OnAScreenSmallerThanTheWindowItIsMadeSmallerInProportionAndKeptOnIt) {
    StartUp();
    const QRect area = Main().screen()->availableGeometry();
    ASSERT_LT(area.width(), 1016) << "the test platform's screen is 800 by 600";
    Main().ensurePolished();
    FitOnScreen(&Main());
    CentreOnScreen(&Main());
    Main().show();
    EXPECT_LE(Main().width(), area.width());
    EXPECT_LE(Main().height(), area.height());
    EXPECT_GE(Main().x(), area.x());
    EXPECT_GE(Main().y(), area.y());
    // Scaled as a drag of the corner scales it: every panel within the window, fonts smaller.
    const QSize client = Main().centralWidget()->size();
    EXPECT_NEAR(static_cast<double>(client.height()) / client.width(), 694.0 / 1016, 0.01);
    EXPECT_LE(Main().LineGroups[7]->geometry().right(), client.width());
    EXPECT_LT(Main().LineGroups[0]->font().pixelSize(), 13);
}

TEST_F(MainFormTest, MenuOffersItsItemsInOrder) {
    StartUp();
    const QList<QAction*> top = Main().menuBar()->actions();
    ASSERT_EQ(top.size(), 1);
    EXPECT_EQ(top[0]->text(), QStringLiteral("&Menu"));
    QStringList items;
    for (QAction* action : Main().MainMenu->actions())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(items,
              (QStringList{"Stamping", "Report Files", "COM Ports", "Port Devices", "Plant Broker",
                           "Resume Lines at Start-up", "-", "Exit", "-", "About"}));
}

TEST_F(MainFormTest, MenuItemsShowTheirDialogs) {
    StartUp();
    ModalDriver driver([](QWidget* modal) { modal->close(); });
    Main().MenuStamping->trigger();
    Main().MenuReportFiles->trigger();
    Main().MenuCom->trigger();
    Main().MenuPortDevices->trigger();
    Main().MenuPlantBroker->trigger();
    Main().MenuAbout->trigger();
    EXPECT_EQ(driver.Seen,
              (std::vector<std::string>{"TStampingForm", "TReportFilesForm", "TSerialForm",
                                        "TPortDevicesForm", "TPlantBrokerForm", "AboutForm"}));
    EXPECT_FALSE(driver.Stuck);
}

TEST_F(MainFormTest, WithoutSettingsFileLineOneIsOnAndTheOthersOffAndGreyed) {
    StartUp();
    for (int line = 1; line <= LineCount; ++line) {
        SCOPED_TRACE(line);
        const int i = line - 1;
        const bool on = line == 1;
        const QString caption = QStringLiteral("Line %1").arg(line);
        EXPECT_EQ(Main().Caption(line), caption);
        EXPECT_EQ(Main().StartHint(line), StartHintFor(caption));
        EXPECT_EQ(Main().StartHintShown(line), on);
        EXPECT_FALSE(Main().StartLineBtns[i]->isChecked());
        EXPECT_EQ(Main().StartLineBtns[i]->isEnabled(), on);
        EXPECT_EQ(Main().LineGroups[i]->palette().color(QPalette::WindowText),
                  on ? QColor(Qt::black) : QColor(128, 128, 128));
        EXPECT_EQ(Main().LineWindows[i]->Background(), on ? QColor(0, 0, 128) : ButtonFace());
        EXPECT_EQ(forms->LineForms[i]->LineWindow->Background(),
                  on ? QColor(0, 0, 128) : ButtonFace());
    }
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_FALSE(settings.Exists()) << "start-up only reads the settings file";
}

TEST_F(MainFormTest, ASettingsFileThatCannotBeReadIsToldAndLeftAsItIs) {
    ASSERT_TRUE(QDir().mkdir(QFile::decodeName(settings.Path().c_str())));
    StartUp();
    EXPECT_EQ(Main().Caption(2), "Line 2");
    EXPECT_FALSE(Main().StartLineBtns[1]->isEnabled());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "The settings file " + settings.Path() +
                                       " cannot be read (it is not a regular file): every "
                                       "setting is at its default, and the file is left as it is.");
    EXPECT_TRUE(QFileInfo(QFile::decodeName(settings.Path().c_str())).isDir());
}

TEST_F(MainFormTest, AValueThatIsNoNumberIsToldWithWhatItBecame) {
    StartUp("[ComPortSettings]\nComPortB=COM2\n");
    EXPECT_FALSE(Main().StartLineBtns[1]->isEnabled());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "The settings file " + settings.Path() +
                                       " has a value that is not a whole number: "
                                       "[ComPortSettings] ComPortB=COM2, taken as its default.");
}

// Two lines' report files of one name, in two folders, both holding lines when the last run
// ended without finishing: each file's lines get a file of their own.
TEST_F(MainFormTest, HeldLinesThatARunLeftBehindAreSavedAndToldWhenTheLineStarts) {
    const auto spool = [&](int line, const std::string& text) {
        QFile file(QFile::decodeName(
            (settings.Folder() + "r.txt.line" + std::to_string(line) + ".held").c_str()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
    };
    spool(2, "# held report lines for /a/r.txt\r\nLOT 1\r\nLOT 2\r\n");
    spool(3, "# held report lines for /b/r.txt\r\nLOT 9\r\n");
    // A spool being written anew when the run ended: its lines are kept too, after the spool's.
    WriteBytes(settings.Folder() + "r.txt.line2.held.new",
               "# held report lines for /a/r.txt\r\nLOT 2\r\nLOT 3\r\n");
    StartUp("[ComPortSettings]\nComPortB=1\n");
    const std::string unsaved = settings.Folder() + "r.txt.unsaved";
    EXPECT_EQ(FileText(unsaved), "LOT 1\r\nLOT 2\r\nLOT 2\r\nLOT 3\r\n");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(settings.Folder() + "r.txt.line2.held.new")));
    EXPECT_EQ(FileText(settings.Folder() + "r.txt.2.unsaved"), "LOT 9\r\n");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(settings.Folder() + "r.txt.line2.held")));
    EXPECT_TRUE(boxes.Boxes.empty());
    StartLine(2, settings.Folder() + "r.txt");
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "Line 2: report lines that an earlier end could not write to a "
                                   "report file named r.txt are saved in " +
                                       unsaved + " and " + settings.Folder() +
                                       "r.txt.2.unsaved; they are not in the report file.");
}

// A full disk beside the settings cannot take what a spool there held: the next place does.
TEST_F(MainFormTest, HeldLinesThatARunLeftOnAFullDiskAreSavedInTheNextPlace) {
    const std::string folder = settings.Folder() + "full";
    const SmallDisk disk(folder, "8k");
    if (!disk.Error().empty())
        GTEST_SKIP() << "cannot mount a small disk: " << disk.Error();
    const std::string spool = folder + "/r.txt.line2.held";
    WriteBytes(spool, "# held report lines for /a/r.txt\r\nLOT 1\r\n");
    WriteBytes(folder + "/filler", std::string(4096, 'x'));
    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(settings.Folder() + "state"));
    SetSettingsFileName(folder + "/Tolvane.ini");
    StartUp();
    qputenv("XDG_STATE_HOME", oldState);
    EXPECT_EQ(FileText(settings.Folder() + "state/tolvane/r.txt.unsaved"), "LOT 1\r\n");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(spool)));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/r.txt.unsaved")));
}

TEST_F(MainFormTest, StartAsksForAFileThenEmptiesTheViewsAndGoesDown) {
    StartUp(PackingSettings + "[Directories]\nLine3=/data/old/\n");
    Main().LineWindows[2]->AddLine(QStringLiteral("earlier"));
    forms->LineForms[2]->LineWindow->AddLine(QStringLiteral("earlier"));
    Main().SaveDialogs[2]->FileName = "/data/old/previous.txt";
    const std::string chosen = settings.Folder() + "p.csv";
    SaveDialogChoice choice(chosen);

    Main().StartLineBtns[2]->click();

    ASSERT_EQ(choice.Showings.size(), 1u);
    EXPECT_EQ(choice.Showings[0].Title, "Save Packing Reports As");
    EXPECT_EQ(choice.Showings[0].InitialDir, "/data/old/");
    EXPECT_EQ(choice.Showings[0].FileNameAtShow, "");
    EXPECT_EQ(choice.Showings[0].Dialog, "SaveDialog3");
    EXPECT_EQ(settings.Value("Directories", "Line3"), settings.Folder());
    EXPECT_TRUE(Main().LineWindows[2]->Text().isEmpty());
    EXPECT_TRUE(forms->LineForms[2]->LineWindow->Text().isEmpty());
    EXPECT_EQ(Main().StartHint(3), StopHintFor(QStringLiteral("Packing")));
    EXPECT_TRUE(Main().StartLineBtns[2]->isChecked());
    EXPECT_EQ(Main().SaveDialogs[2]->FileName, chosen);
    for (int line : {1, 2, 4, 5, 6, 7, 8})
        EXPECT_FALSE(Main().StartLineBtns[line - 1]->isChecked()) << line;
}

TEST_F(MainFormTest, CancelledStartLeavesTheLineStoppedWithItsViewsAndHint) {
    StartUp(PackingSettings);
    Main().LineWindows[2]->AddLine(QStringLiteral("kept")); // both views show it
    Main().SaveDialogs[2]->FileName = "/tmp/old.txt";
    SaveDialogChoice cancel(std::nullopt);

    Main().StartLineBtns[2]->click();

    EXPECT_EQ(cancel.Showings.size(), 1u);
    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_EQ(Main().LineWindows[2]->Text(), QStringLiteral("kept"));
    EXPECT_EQ(forms->LineForms[2]->LineWindow->Text(), QStringLiteral("kept"));
    EXPECT_EQ(Main().StartHint(3), StartHintFor(QStringLiteral("Packing")));
    EXPECT_EQ(Main().SaveDialogs[2]->FileName, "");
    EXPECT_EQ(settings.Value("Directories", "Line3"), "<missing>");
}

TEST_F(MainFormTest, ReportLinesCompletedWhileTheFileIsChosenAreDiscarded) {
    StartUp(PackingSettings);
    const std::string file = settings.Folder() + "p.txt";
    TSaveDialog::ExecuteFunction previous = TSaveDialog::SetExecuteHook([&](TSaveDialog& dialog) {
        EXPECT_FALSE(Main().StartLineBtns[2]->isChecked()) << "stopped while choosing";
        CompleteReportLine(3, "while choosing");
        dialog.FileName = file;
        return true;
    });
    Main().StartLineBtns[2]->click();
    TSaveDialog::SetExecuteHook(std::move(previous));
    CompleteReportLine(3, "after");
    EXPECT_EQ(Main().LineWindows[2]->Text(), QStringLiteral("07-Dec-26,15:04:09,after"));
    EXPECT_EQ(FileText(file), "07-Dec-26,15:04:09,after\r\n");
}

TEST_F(MainFormTest, StartWhoseFolderCannotBeStoredIsReportedAndNotStarted) {
    StartUp(PackingSettings);
    settings.MakeUnwritable();
    Main().LineWindows[2]->AddLine(QStringLiteral("kept"));
    SaveDialogChoice choice(settings.Folder() + "p.txt");

    Main().StartLineBtns[2]->click();

    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_EQ(Main().LineWindows[2]->Text(), QStringLiteral("kept"));
    EXPECT_EQ(Main().StartHint(3), StartHintFor(QStringLiteral("Packing")));
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Tolvane");
    EXPECT_EQ(boxes.Boxes[0].Text.rfind("Unable to write to ", 0), 0u) << boxes.Boxes[0].Text;
}

TEST_F(MainFormTest, LineIsStartedExactlyWhileItsButtonIsDown) {
    StartUp(PackingSettings);
    const std::string file = settings.Folder() + "p.txt";
    StartLine(3, file);
    EXPECT_TRUE(Line(3).Started);
    EXPECT_EQ(Line(3).ReportFile, file);
    {
        SaveDialogChoice cancel(std::nullopt);
        Main().StartLineBtns[2]->click();
        EXPECT_FALSE(Line(3).Started);
        Main().StartLineBtns[2]->click();
        EXPECT_FALSE(Line(3).Started) << "a cancelled start";
    }
    StartLine(3, file);
    Serial().Ports[2].ComPort->setCurrentIndex(OffIndex);
    Serial().OKBtnClick();
    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_FALSE(Line(3).Started) << "a line switched off";
}

TEST_F(MainFormTest, StopOnlyChangesTheHint) {
    StartUp(PackingSettings);
    const std::string file = settings.Folder() + "p.txt";
    StartLine(3, file);
    CompleteReportLine(3, "LOT 1");
    Line(3).Capture.PendingText = "partial";

    Main().StartLineBtns[2]->click();

    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_EQ(Main().StartHint(3), StartHintFor(QStringLiteral("Packing")));
    EXPECT_EQ(Main().LineWindows[2]->Text(), QStringLiteral("07-Dec-26,15:04:09,LOT 1"));
    EXPECT_EQ(Main().SaveDialogs[2]->FileName, file);
    EXPECT_EQ(Line(3).Capture.PendingText, "partial");
    CompleteReportLine(3, " discarded");
    EXPECT_EQ(FileText(file), "07-Dec-26,15:04:09,LOT 1\r\n");
}

TEST_F(MainFormTest, EnterInAViewStopsAStartedLineWithAnyModifier) {
    StartUp(PackingSettings);
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
    } presses[] = {{Qt::Key_Return, Qt::NoModifier},
                   {Qt::Key_Enter, Qt::KeypadModifier},
                   {Qt::Key_Return, Qt::ShiftModifier},
                   {Qt::Key_Return, Qt::ControlModifier},
                   {Qt::Key_Return, Qt::AltModifier}};
    for (const auto& press : presses) {
        SCOPED_TRACE(press.Key);
        SCOPED_TRACE(static_cast<int>(press.Modifiers));
        StartLine(6, settings.Folder() + "six.txt");
        ASSERT_TRUE(Main().StartLineBtns[5]->isChecked());
        SaveDialogChoice noDialogExpected(std::nullopt);
        QTest::keyClick(Main().LineWindows[5], press.Key, press.Modifiers);
        EXPECT_FALSE(Main().StartLineBtns[5]->isChecked());
        EXPECT_EQ(Main().StartHint(6), StartHintFor(QStringLiteral("Line 6")));
        EXPECT_TRUE(noDialogExpected.Showings.empty());
    }
}

TEST_F(MainFormTest, EnterInAStoppedLinesViewStartsIt) {
    StartUp(PackingSettings);
    SaveDialogChoice choice(settings.Folder() + "six.txt");
    QTest::keyClick(Main().LineWindows[5], Qt::Key_Return);
    ASSERT_EQ(choice.Showings.size(), 1u);
    EXPECT_EQ(choice.Showings[0].Title, "Save Line 6 Reports As");
    EXPECT_TRUE(Main().StartLineBtns[5]->isChecked());
    EXPECT_EQ(Main().StartHint(6), StopHintFor(QStringLiteral("Line 6")));
}

TEST_F(MainFormTest, EnterActsOnTheDisabledButtonOfALineThatIsOff) {
    StartUp();
    ASSERT_FALSE(Main().StartLineBtns[3]->isEnabled());
    SaveDialogChoice choice(settings.Folder() + "four.txt");
    QTest::keyClick(Main().LineWindows[3], Qt::Key_Enter);
    EXPECT_EQ(choice.Showings.size(), 1u);
    EXPECT_TRUE(Main().StartLineBtns[3]->isChecked());
    EXPECT_FALSE(Main().StartLineBtns[3]->isEnabled());
}

TEST_F(MainFormTest, OtherKeysInAViewDoNothing) {
    StartUp(PackingSettings);
    StartLine(6, settings.Folder() + "six.txt");
    SaveDialogChoice choice(std::nullopt);
    for (Qt::Key key :
         {Qt::Key_Space, Qt::Key_A, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Down, Qt::Key_F1}) {
        QTest::keyClick(Main().LineWindows[5], key);
        QTest::keyClick(Main().LineWindows[2], key);
    }
    EXPECT_TRUE(Main().StartLineBtns[5]->isChecked());
    EXPECT_FALSE(Main().StartLineBtns[2]->isChecked());
    EXPECT_TRUE(choice.Showings.empty());
}

TEST_F(MainFormTest, DoubleClickOnTheFrameOpensTheLabelDialogForThatLine) {
    StartUp(PackingSettings);
    QString shownCaption;
    int shownLine = 0;
    ModalDriver driver([&](QWidget* modal) {
        shownCaption = forms->SetLineLabelForm->OldCaption->text();
        shownLine = forms->SetLineLabelForm->LineNumber;
        modal->close();
    });
    // On the caption, and on the frame left of the start button.
    QTest::mouseDClick(Main().LineGroups[2], Qt::LeftButton, {}, QPoint(30, 6));
    EXPECT_EQ(shownCaption, QStringLiteral("Packing"));
    EXPECT_EQ(shownLine, 3);
    QTest::mouseDClick(Main().LineGroups[6], Qt::LeftButton, {}, QPoint(6, 80));
    EXPECT_EQ(shownLine, 7);
    EXPECT_EQ(driver.Seen, (std::vector<std::string>{"TSetLineLabelForm", "TSetLineLabelForm"}));
}

TEST_F(MainFormTest, DoubleClickInAViewOpensOnlyItsExpandedView) {
    StartUp(PackingSettings);
    QString title;
    ModalDriver driver([&](QWidget* modal) {
        title = modal->windowTitle();
        modal->close();
    });
    QTest::mouseDClick(Main().LineWindows[2]->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(title, QStringLiteral("Packing"));
    // Also on the view's own border, outside its viewport.
    QTest::mouseDClick(Main().LineWindows[5], Qt::LeftButton, {}, QPoint(0, 0));
    EXPECT_EQ(driver.Seen, (std::vector<std::string>{"TLine3Form", "TLine6Form"}));
    EXPECT_FALSE(driver.Stuck);
}

TEST_F(MainFormTest, StartButtonHintOfALineThatIsOffGivesWayToTheGroupHint) {
    StartUp(PackingSettings);
    Main().show();
    const auto tipOver = [&](int line) {
        QToolButton* button = Main().StartLineBtns[line - 1];
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &help);
        const QString text = QToolTip::text();
        QToolTip::hideText();
        return text;
    };
    EXPECT_EQ(tipOver(3), StartHintFor(QStringLiteral("Packing")));
    EXPECT_EQ(tipOver(2), QStringLiteral("Double click to change line label"));
}

TEST_F(MainFormTest, StartButtonImagesFollowTheStateAtAnySize) {
    StartUp();
    const QIcon icon = Main().StartLineBtns[0]->icon();
    const auto centre = [&](int size, QIcon::Mode mode, QIcon::State state) {
        const QImage image = icon.pixmap(QSize(size, size), 1.0, mode, state).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        return image.pixelColor(size / 2, size / 2);
    };
    for (int size : {16, 24, 40}) {
        SCOPED_TRACE(size);
        const QColor up = centre(size, QIcon::Normal, QIcon::Off);
        EXPECT_GT(up.green(), 120);
        EXPECT_LT(up.red(), 60);
        const QColor pressed = centre(size, QIcon::Active, QIcon::Off);
        EXPECT_EQ(pressed, up);
        const QColor down = centre(size, QIcon::Normal, QIcon::On);
        EXPECT_GT(down.red(), 180);
        EXPECT_LT(down.green(), 60);
        const QColor disabled = centre(size, QIcon::Disabled, QIcon::Off);
        EXPECT_EQ(disabled.red(), disabled.green());
        EXPECT_EQ(disabled.green(), disabled.blue());
        // The triangle points right: its tip row is filled near the right edge, the corner is not.
        const QImage image =
            icon.pixmap(QSize(size, size), 1.0, QIcon::Normal, QIcon::Off).toImage();
        EXPECT_GT(image.pixelColor(size * 12 / 16, size / 2).alpha(), 200);
        EXPECT_LT(image.pixelColor(size * 13 / 16, size * 3 / 16).alpha(), 50);
    }
    // Form scaling enlarges the button; the image grows with it.
    Main().show();
    Main().StartLineBtns[0]->resize(50, 50);
    EXPECT_EQ(Main().StartLineBtns[0]->iconSize(), QSize(32, 32));
}

// A box comes unasked, perhaps while the operator types a line's label: the keys they go on
// typing do not close it before it can be read.
TEST_F(MainFormTest, ABoxThatComesUnaskedIsNotClosedByKeysTypedAsItAppears) {
    StartUp();
    MessagePresenter recorder = SetMessagePresenter({});
    ShowMessageBox({"Tolvane", "Line 1: the report file cannot be written", MessageIcon::Error});
    QMessageBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* shown = qobject_cast<QMessageBox*>(window); shown && shown->isVisible())
            box = shown;
    ASSERT_NE(box, nullptr);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Escape})
        QTest::keyClick(box, key);
    EXPECT_TRUE(box->isVisible());
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ok->isEnabled(); }, 5000));
    const QPointer<QMessageBox> closing(box);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }, 5000));
    SetMessagePresenter(std::move(recorder));
}
