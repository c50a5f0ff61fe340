#include "ui/main_form.h"

#include "capture/daily_report_file.h"
#include "capture/production_line.h"
#include "capture/stamps.h"
#include "runtime/ansi_text.h"
#include "runtime/message_box.h"
#include "runtime/system_log.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "ui/about_form.h"
#include "ui/design_fonts.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/line_form.h"
#include "ui/line_trouble_label.h"
#include "ui/plant_broker_form.h"
#include "ui/port_devices_form.h"
#include "ui/report_files_form.h"
#include "ui/report_view.h"
#include "ui/save_dialog.h"
#include "ui/scaling/gt_form.h"
#include "ui/set_line_label_form.h"
#include "ui/stamping_form.h"
#include "ui/start_button_icon.h"

#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <filesystem>

namespace {

// Design positions, client coordinates of the window; the button inside its group.
struct LinePanelDesign {
    QRect Group;
    QRect Button;
};

constexpr LinePanelDesign LinePanels[LineCount] = {
    {{16, 18, 484, 159}, {20, 67, 25, 25}},  {{520, 18, 484, 159}, {20, 67, 25, 25}},
    {{16, 186, 484, 159}, {20, 67, 25, 25}}, {{520, 186, 484, 159}, {20, 67, 25, 25}},
    {{16, 354, 484, 159}, {24, 67, 21, 25}}, {{520, 354, 484, 159}, {20, 67, 25, 25}},
    {{16, 522, 484, 159}, {20, 67, 25, 25}}, {{520, 522, 484, 159}, {20, 67, 25, 25}},
};
constexpr QRect LineWindowPlace(64, 23, 405, 121);
// The strip between the view and the group's bottom edge.
constexpr QRect LineTroublePlace(64, 144, 405, 13);

QFont TroubleFont() {
    QFont font = DesignFont(false);
    font.setPixelSize(11);
    return font;
}
constexpr QSize ClientSize(1016, 694);
// The button's image is 16 pixels square on a 25-pixel-high button, and grows with it.
constexpr int ImageSize = 16;
constexpr int ButtonHeight = 25;

const QString GroupHint = QStringLiteral("Double click to change line label");
constexpr int ReportNewsMs = 1000;

const QString StartWording = QStringLiteral("Click to start grabbing reports from ");
const QString StopWording = QStringLiteral("Click to stop grabbing reports from ");

void SetCaptionColour(QGroupBox* group, const QColor& colour) {
    QPalette colours = group->palette();
    colours.setColor(QPalette::WindowText, colour);
    colours.setColor(QPalette::Text, colour);
    group->setPalette(colours);
}

QColor ButtonFaceColour() {
    return QApplication::palette().color(QPalette::Button);
}

// The file that the line's report lines go to now: a daily line's file of the day.
std::string FileWrittenNow(const ProductionLine& line) {
    return ReportFileAt(line, line.ReportFile, CurrentDateTime());
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
}

// The same file, however it is spelt: links, "." and "..", a relative name.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    const auto spelt = [](const std::string& name) {
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(name, ignored);
        const std::filesystem::path canonical =
            std::filesystem::weakly_canonical(absolute, ignored);
        return (canonical.empty() ? absolute : canonical).lexically_normal();
    };
    return spelt(a) == spelt(b);
}

} // namespace

std::string ReportFileHint(const ReportWriterStatus& status) {
    std::string hint;
    if (status.ErrorCode != 0)
        hint = "the report file " + status.File + " cannot be written since " +
               status.FailingSince.toString(QStringLiteral("HH:mm:ss")).toStdString() + " (" +
               status.ErrorText + (status.Trouble.empty() ? "" : "; " + status.Trouble) +
               "): " + Plural(status.Held, " report line held", " report lines held") +
               (status.SpoolError.empty() ? "" : ", in memory only");
    // Lost past the hold limit, while the file fails or its writes do not finish.
    const std::uint64_t lost = status.Lost - status.LostAtFailure;
    if (lost > 0 && status.Unwritten > 0)
        hint += (hint.empty() ? "" : "\n") +
                Plural(lost, " report line lost", " report lines lost") +
                ": more than 64 MiB of report lines were waiting";
    return hint;
}

QString LineNoiseText(const LineNoise& noise) {
    const auto count = [](unsigned long n, const char* one, const char* many) {
        return QString::number(n) + QChar(' ') + QString::fromLatin1(n == 1 ? one : many);
    };
    return QStringLiteral("Line errors: ") +
           count(noise.Framing, "framing error", "framing errors") + QStringLiteral(", ") +
           count(noise.Parity, "parity error", "parity errors") + QStringLiteral(", ") +
           count(noise.Overrun, "overrun", "overruns") + QStringLiteral(", ") +
           count(noise.Breaks, "break", "breaks");
}

QColor LineCaptionColour(LineState state) {
    switch (state) {
    case LineState::Off:
        return GrayColour();
    // What stops reports reaching their file shows from across the room.
    case LineState::Waiting:
    case LineState::FileFailing:
        return QColor(139, 0, 0);
    case LineState::Silent:
        return QColor(200, 100, 0);
    case LineState::Capturing:
    case LineState::Stopped:
        break;
    }
    return QColor(Qt::black);
}

QString StartButtonHint(bool started, const QString& caption) {
    return (started ? StopWording : StartWording) + caption;
}

TMainForm::TMainForm(FormSet& forms) : QMainWindow(nullptr), forms_(forms), lines_(forms.Lines) {
    setObjectName(QStringLiteral("TMainForm"));
    setWindowTitle(QStringLiteral("Tolvane"));
    setFont(DesignFont());
    QPalette colours = palette();
    colours.setColor(QPalette::Window, ButtonFaceColour());
    setPalette(colours);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    CreateMenu();

    Bevel1 = new QFrame(client);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(1, 0, 1015, 2);

    for (int line = 1; line <= LineCount; ++line)
        CreateLinePanel(line);
    for (int i = 0; i + 1 < LineCount; ++i)
        setTabOrder(LineWindows[i], LineWindows[i + 1]);

    connect(&lines_, &ProductionLines::CaptionChanged, this, &TMainForm::ShowCaption);
    connect(&lines_, &ProductionLines::PortsSetUp, this, &TMainForm::RefreshLinePanels);
    connect(&lines_, &ProductionLines::PortChanged, this, &TMainForm::RefreshLinePanel);
    connect(&lines_, &ProductionLines::LineStateChanged, this, &TMainForm::RefreshLineLook);
    connect(&lines_, &ProductionLines::ReportsChanged, this,
            [this](int line) { RunHandler([this, line] { ReportFileNews(line); }); });

    // The held count in a failing line's hint grows with every report line: shown once a second.
    ReportNewsTimer = new QTimer(this);
    ReportNewsTimer->setObjectName(QStringLiteral("ReportNewsTimer"));
    ReportNewsTimer->setInterval(ReportNewsMs);
    connect(ReportNewsTimer, &QTimer::timeout, this, [this] {
        bool news = false;
        for (int line = 1; line <= LineCount; ++line) {
            bool& shown = reportNews_[static_cast<std::size_t>(line - 1)];
            if (!shown)
                continue;
            RefreshLinePanel(line);
            shown = !ReportFileHint(lines_.Line(line).Writer().Status()).empty();
            news = news || shown;
        }
        if (!news)
            ReportNewsTimer->stop();
    });

    StartupTimer = new QTimer(this);
    StartupTimer->setObjectName(QStringLiteral("StartupTimer"));
    StartupTimer->setInterval(250);
    connect(StartupTimer, &QTimer::timeout, this,
            [this] { RunHandler([this] { StartupTimerTimer(); }); });
    StartupTimer->start();

    resize(ClientSize.width(), ClientSize.height() + menuBar()->sizeHint().height());

    // Fits the window to the screen when it first shows and scales the panels when resized.
    GTForm1 = new GTForm(this);
    GTForm1->setObjectName(QStringLiteral("GTForm1"));
    GTForm1->SetGTDesignW(QStringLiteral("1680-0"));
    GTForm1->SetGTDesignH(QStringLiteral("1050-13"));
    GTForm1->SetGTClientWidth(ClientSize.width());
    GTForm1->SetGTClientHeight(ClientSize.height());
}

void TMainForm::CreateMenu() {
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu = menuBar()->addMenu(QStringLiteral("&Menu"));
    MainMenu->setObjectName(QStringLiteral("Menu"));
    const auto add = [this](const char* name, const QString& text, void (TMainForm::*handler)()) {
        QAction* action = MainMenu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
        return action;
    };
    MenuStamping = add("MenuStamping", QStringLiteral("Stamping"), &TMainForm::MenuStampingClick);
    MenuReportFiles =
        add("MenuReportFiles", QStringLiteral("Report Files"), &TMainForm::MenuReportFilesClick);
    MenuCom = add("MenuCom", QStringLiteral("COM Ports"), &TMainForm::MenuComClick);
    MenuPortDevices =
        add("MenuPortDevices", QStringLiteral("Port Devices"), &TMainForm::MenuPortDevicesClick);
    MenuPlantBroker =
        add("MenuPlantBroker", QStringLiteral("Plant Broker"), &TMainForm::MenuPlantBrokerClick);
    MenuResume =
        add("MenuResume", QStringLiteral("Resume Lines at Start-up"), &TMainForm::MenuResumeClick);
    MenuResume->setCheckable(true);
    MainMenu->addSeparator();
    MenuExit = add("MenuExit", QStringLiteral("Exit"), &TMainForm::MenuExitClick);
    MainMenu->addSeparator();
    MenuAbout = add("MenuAbout", QStringLiteral("About"), &TMainForm::MenuAboutClick);
}

void TMainForm::CreateLinePanel(int line) {
    const int i = line - 1;
    const QString n = QString::number(line);

    auto* group = new QGroupBox(QStringLiteral("Line ") + n, centralWidget());
    group->setObjectName(QStringLiteral("Line%1Group").arg(n));
    group->setGeometry(LinePanels[i].Group);
    group->setFont(DesignFont(true));
    group->setToolTip(GroupHint);
    SetCaptionColour(group, Qt::black);
    group->installEventFilter(this);
    LineGroups[i] = group;

    auto* button = new QToolButton(group);
    button->setObjectName(QStringLiteral("StartLine%1Btn").arg(n));
    button->setGeometry(LinePanels[i].Button);
    button->setCheckable(true);
    // Like the original image button it takes no focus: the keyboard works through the view.
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIcon(StartButtonIcon());
    button->setIconSize(QSize(ImageSize, ImageSize));
    button->installEventFilter(this);
    connect(button, &QToolButton::clicked, this,
            [this, line] { RunHandler([this, line] { StartLineBtnClick(line); }); });
    connect(button, &QToolButton::toggled, this, [this, line](bool down) {
        ProductionLine& production = lines_.Line(line);
        // A line's silence is counted from its start; a stopped line is never silent.
        production.Silent = false;
        if (down)
            production.LastReportAt.Store(CurrentDateTime().toMSecsSinceEpoch());
        lines_.SetStarted(line, down);
    });
    StartLineBtns[i] = button;
    SetStartHint(line, StartButtonHint(false, group->title()));
    startHintShown_[i] = true;

    auto* view = new TReportView(group, false);
    view->setObjectName(QStringLiteral("Line%1Window").arg(n));
    view->setGeometry(LineWindowPlace);
    view->setToolTip(QStringLiteral("Double click to expand window"));
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    LineWindows[i] = view;

    auto* trouble = new TLineTroubleLabel(group);
    trouble->setObjectName(QStringLiteral("Line%1Trouble").arg(n));
    trouble->setGeometry(LineTroublePlace);
    trouble->setFont(TroubleFont());
    LineTroubles[i] = trouble;

    auto* saveDialog = new TSaveDialog(this);
    saveDialog->setObjectName(QStringLiteral("SaveDialog%1").arg(n));
    SaveDialogs[i] = saveDialog;
}

int TMainForm::LineOf(const QObject* object) const {
    for (int i = 0; i < LineCount; ++i) {
        // Panels still being built have gaps.
        if (object == LineGroups[i] || object == StartLineBtns[i] ||
            (LineWindows[i] != nullptr &&
             (object == LineWindows[i] || object == LineWindows[i]->viewport())))
            return i + 1;
    }
    return 0;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const int line = LineOf(watched);
    if (line == 0)
        return QMainWindow::eventFilter(watched, event);
    const int i = line - 1;
    if (LineWindows[i] == nullptr)
        return QMainWindow::eventFilter(watched, event);
    const bool inView = watched == LineWindows[i] || watched == LineWindows[i]->viewport();
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        // A double-click inside a view is the view's alone; it never reaches the group.
        if (inView) {
            event->accept();
            RunHandler([this, line] { LineWindowDblClick(line); });
            return true;
        }
        if (watched == LineGroups[i]) {
            event->accept();
            RunHandler([this, line] { LineGroupDblClick(line); });
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (watched == LineWindows[i]) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            RunHandler([this, line, key] { LineWindowKeyDown(line, key); });
            return false; // the read-only view ignores the key anyway
        }
        break;
    case QEvent::Resize:
        if (watched == StartLineBtns[i]) {
            const int side = ImageSize * StartLineBtns[i]->height() / ButtonHeight;
            StartLineBtns[i]->setIconSize(QSize(side, side));
        }
        break;
    case QEvent::ToolTip:
        // A hint that is not shown leaves the group's hint to show, as for any control without one.
        if (watched == StartLineBtns[i] && !startHintShown_[i]) {
            const auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), LineGroups[i]->toolTip(), LineGroups[i]);
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TMainForm::Caption(int line) const {
    return LineGroups[line - 1]->title();
}

void TMainForm::SetStartHint(int line, const QString& hint) {
    StartLineBtns[line - 1]->setToolTip(hint);
}

QString TMainForm::StartHint(int line) const {
    return StartLineBtns[line - 1]->toolTip();
}

void TMainForm::SetStartHintShown(int line, bool shown) {
    startHintShown_[line - 1] = shown;
}

bool TMainForm::StartHintShown(int line) const {
    return startHintShown_[line - 1];
}

void TMainForm::ShowCaption(int line) {
    const QString caption = AnsiToQString(lines_.Line(line).Caption);
    LineGroups[line - 1]->setTitle(caption);
    // The hint keeps telling what a click will do: a started line is stopped by it.
    SetStartHint(line, StartButtonHint(lines_.Line(line).Started, caption));
}

void TMainForm::StartupTimerTimer() {
    StartupTimer->stop();
    move(x(), y() - 16);
    forms_.StartUp();
}

void TMainForm::StartLineBtnClick(int line) {
    const int i = line - 1;
    QToolButton* button = StartLineBtns[i];
    if (!button->isChecked()) {
        SetStartHint(line, StartButtonHint(false, Caption(line)));
        SystemLog(LogLevel::Notice, lines_.Line(line).Caption + ": stopped");
        ForgetResumeFile(line);
        RefreshLineLook(line);
        TellHeldAtStop(line);
        return;
    }
    // Stopped while the operator chooses a file: report lines completed meanwhile are discarded.
    button->setChecked(false);
    TSaveDialog* dialog = SaveDialogs[i];
    LoadReportDirectory(line, dialog->InitialDir);
    dialog->FileName.clear();
    dialog->Title = "Save " + QStringToAnsi(Caption(line)) + " Reports As";
    for (;;) {
        if (!dialog->Execute())
            return;
        // Two lines in one file interleave with nothing to tell them apart: asked first, and
        // No goes back to the dialog.
        const int other = LineReportingTo(dialog->FileName, line);
        if (other == 0 ||
            AskYesNo({"Tolvane",
                      dialog->FileName + " is already the report file of " +
                          lines_.Line(other).Caption +
                          "; the reports of both lines would be mixed in it. Use it anyway?",
                      MessageIcon::Question}))
            break;
    }
    // A folder that cannot be stored ends the start here: the line stays stopped.
    SaveReportDirectory(line, dialog->FileName);
    StartCapture(line, dialog->FileName);
    SystemLog(LogLevel::Notice, lines_.Line(line).Caption + ": started, reporting to " +
                                    FileWrittenNow(lines_.Line(line)));
    if (const std::string news = TellUnsavedLines(line); !news.empty())
        ShowMessageBox({"Tolvane", news, MessageIcon::Warning});
    // Remembered for a resume after a power cut; a file that cannot take it is told, and the
    // line captures all the same.
    resumeFiles_[static_cast<std::size_t>(i)] = dialog->FileName;
    try {
        SaveResumeReportFile(line, dialog->FileName);
    } catch (const EIniFileException& error) {
        ShowException(error);
    }
}

int TMainForm::LineReportingTo(const std::string& file, int except) const {
    // A line with a new file each day writes its dated file, under whichever name it was chosen.
    const std::string written = ReportFileAt(lines_.Line(except), file, CurrentDateTime());
    for (int other = 1; other <= LineCount; ++other) {
        const ProductionLine& production = lines_.Line(other);
        if (other == except)
            continue;
        if (production.Started && (SameFile(production.ReportFile, file) ||
                                   SameFile(FileWrittenNow(production), written)))
            return other;
        // A stopped line still holding report lines for the file writes them there once it works.
        if (const ReportWriterStatus held = lines_.Line(other).Writer().Status();
            held.Held > 0 && SameFile(held.File, file))
            return other;
    }
    return 0;
}

void TMainForm::TellHeldAtStop(int line) {
    const ReportWriterStatus status = lines_.Line(line).Writer().Status();
    if (status.Held == 0)
        return;
    ShowMessageBox(
        {"Tolvane",
         lines_.Line(line).Caption + " is stopped with " +
             Plural(status.Held, " report line", " report lines") + " held for the report file " +
             status.File +
             ".\r\rThey are written to it as soon as it can be written again, or saved in " +
             UnsavedFileName(FormSet::UnsavedFolder(), status.File) + " at Exit.",
         MessageIcon::Warning});
}

void TMainForm::StartCapture(int line, const std::string& reportFile) {
    const int i = line - 1;
    // The expanded view shows the same store, so it is emptied too.
    LineWindows[i]->ClearLines();
    SetStartHint(line, StartButtonHint(true, Caption(line)));
    lines_.Line(line).ReportFile = reportFile;
    StartLineBtns[i]->setChecked(true);
    RefreshLineLook(line);
}

std::string TMainForm::TellUnsavedLines(int line) {
    // Lines an earlier end set aside are the operator's to put back; nothing else says so now.
    const std::string news = UnsavedLinesNews(lines_.Line(line), FormSet::UnsavedFolder());
    if (!news.empty())
        SystemLog(LogLevel::Warning, news);
    return news;
}

void TMainForm::ForgetResumeFile(int line) {
    std::string& remembered = resumeFiles_[static_cast<std::size_t>(line - 1)];
    if (remembered.empty())
        return;
    remembered.clear();
    try {
        SaveResumeReportFile(line, std::string());
    } catch (const EIniFileException& error) {
        ShowException(error);
    }
}

void TMainForm::MenuResumeClick() {
    try {
        SaveResumeAtStartup(MenuResume->isChecked());
    } catch (const EIniFileException& error) {
        MenuResume->setChecked(!MenuResume->isChecked());
        ShowException(error);
    }
}

void TMainForm::LoadResumeSettings() {
    for (int line = 1; line <= LineCount; ++line)
        resumeFiles_[static_cast<std::size_t>(line - 1)] = LoadResumeReportFile(line);
    MenuResume->setChecked(LoadResumeAtStartup());
}

void TMainForm::ResumeLines() {
    if (!MenuResume->isChecked())
        return;
    std::string unsaved; // one box for every resumed line's, not one to close for each
    for (int line = 1; line <= LineCount; ++line) {
        // A line that is off forgot its file when its panel took the off look.
        const std::string& file = resumeFiles_[static_cast<std::size_t>(line - 1)];
        if (lines_.SwitchedOff(line) || file.empty())
            continue;
        StartCapture(line, file);
        SystemLog(LogLevel::Notice, lines_.Line(line).Caption +
                                        ": resumed at start-up, reporting to " +
                                        FileWrittenNow(lines_.Line(line)));
        // Before the ports open: the rest of the line that the last stop cut completes it.
        if (lines_.Line(line).Started)
            if (const std::string news =
                    TakeBackPartialLine(lines_.Line(line), FormSet::UnsavedFolder());
                !news.empty())
                SystemLog(LogLevel::Notice, news);
        if (const std::string news = TellUnsavedLines(line); !news.empty())
            unsaved += (unsaved.empty() ? "" : "\r\r") + news;
    }
    if (!unsaved.empty())
        ShowMessageBox({"Tolvane", unsaved, MessageIcon::Warning});
}

void TMainForm::RefreshLinePanels() {
    for (int line = 1; line <= LineCount; ++line)
        RefreshLinePanel(line);
}

void TMainForm::RefreshLinePanel(int line) {
    const int i = line - 1;
    TReportView* expanded = forms_.LineForms[i]->LineWindow;
    if (lines_.SwitchedOff(line)) {
        // Its port is closed by now: a line switched off while started stops as the button stops
        // it, saying so and what it still holds.
        if (StartLineBtns[i]->isChecked()) {
            StartLineBtns[i]->setChecked(false);
            SystemLog(LogLevel::Notice, lines_.Line(line).Caption + ": stopped, switched off");
            TellHeldAtStop(line);
        }
        StartLineBtns[i]->setEnabled(false);
        SetStartHint(line, StartButtonHint(false, Caption(line)));
        SetStartHintShown(line, false);
        ForgetResumeFile(line);
        LineWindows[i]->ClearLines(); // and the expanded view, which shows the same store
        LineWindows[i]->SetBackground(ButtonFaceColour());
        expanded->SetBackground(ButtonFaceColour());
    } else {
        StartLineBtns[i]->setEnabled(true);
        SetStartHintShown(line, true);
        LineWindows[i]->SetBackground(NavyColour());
        expanded->SetBackground(NavyColour());
    }
    RefreshLineLook(line);
}

void TMainForm::RefreshLineLook(int line) {
    const int i = line - 1;
    const ProductionLine& production = lines_.Line(line);
    const LineState state = LineStateOf(lines_, line);
    SetCaptionColour(LineGroups[i], LineCaptionColour(state));
    const ReportWriterStatus reports = lines_.Line(line).Writer().Status();
    // Each news once, for the hint and for the line beneath the view.
    const bool waiting = state != LineState::Off && production.PortStatus == PortState::Waiting;
    const bool silent = state != LineState::Off && production.Silent;
    const QString portNews = waiting ? MessageToQString(production.PortNews) : QString();
    const QString silence = silent ? QString::fromStdString(SilenceNews(production)) : QString();
    // Held report lines are written whether the line is on or off, started or stopped.
    const QString fileNews = MessageToQString(ReportFileHint(reports));

    QString hint = GroupHint;
    if (waiting)
        hint += QChar('\n') + portNews;
    if (silent)
        hint += QChar('\n') + silence;
    if (state != LineState::Off) {
        // Where the line's report lines go, unless its failure already names that file.
        const std::string file = FileWrittenNow(production);
        if (production.Started && !file.empty() &&
            !(reports.ErrorCode != 0 && reports.File == file))
            hint += QStringLiteral("\nReporting to ") + QString::fromLocal8Bit(file);
        if (production.Noise.Any())
            hint += QChar('\n') + LineNoiseText(production.Noise);
    }
    if (!fileNews.isEmpty())
        hint += QChar('\n') + fileNews;
    LineGroups[i]->setToolTip(hint);

    // In sight beneath the view: what puts report lines at risk first, then a silence.
    QString trouble = !fileNews.isEmpty() ? fileNews.section(QChar('\n'), 0, 0)
                      : waiting           ? portNews
                                          : silence;
    const QColor colour = LineCaptionColour(
        fileNews.isEmpty() && !waiting ? LineState::Silent : LineState::FileFailing);
    if (!trouble.isEmpty())
        trouble[0] = trouble[0].toUpper();
    LineTroubles[i]->SetTrouble(trouble, colour);
    // The expanded view may be what the operator left open.
    if (TLineForm* expanded = forms_.LineForms[i])
        expanded->LineTrouble->SetTrouble(trouble, colour);
}

void TMainForm::FollowReportFile(int line, const ReportWriterStatus& status) {
    const auto i = static_cast<std::size_t>(line - 1);
    reportMending_[i].Follow(lines_.Line(line).Caption, status);
    reportNews_[i] = !ReportFileHint(status).empty();
    if (reportNews_[i] && !ReportNewsTimer->isActive())
        ReportNewsTimer->start();
    RefreshLinePanel(line);
}

void TMainForm::ReportFileNews(int line) {
    const int i = line - 1;
    const ReportWriterStatus status = lines_.Line(line).Writer().Status();
    FollowReportFile(line, status);
    if (reportBoxOpen_[i])
        return; // looked at again when the open box closes
    if (!reportFileTold_[i].TakeNews(status))
        return;
    reportBoxOpen_[i] = true;
    // The box never waits for a person: the news that comes while it is open is looked at when
    // it closes.
    QPointer<TMainForm> self(this);
    ShowMessageBox(
        {"Tolvane",
         ReportFileErrorText(lines_.Line(line).Caption, FileWrittenNow(lines_.Line(line)), status),
         MessageIcon::Error},
        [self, line] {
            if (self.isNull())
                return;
            self->reportBoxOpen_[static_cast<std::size_t>(line - 1)] = false;
            RunHandler([&] { self->ReportFileNews(line); });
        });
}

void TMainForm::LineGroupDblClick(int line) {
    EditLineLabel(line);
}

void TMainForm::LineWindowDblClick(int line) {
    forms_.LineForms[line - 1]->exec();
}

void TMainForm::LineWindowKeyDown(int line, int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return;
    // Acts whether or not the button is enabled, exactly as a click would.
    QToolButton* button = StartLineBtns[line - 1];
    button->setChecked(!button->isChecked());
    StartLineBtnClick(line);
}

void TMainForm::EditLineLabel(int line) {
    TSetLineLabelForm* dialog = forms_.SetLineLabelForm;
    dialog->LineNumber = line;
    dialog->OldCaption->setText(line >= 1 && line <= LineCount ? Caption(line) : QString());
    dialog->NewEdit->clear();
    dialog->exec();
}

void TMainForm::MenuStampingClick() {
    forms_.StampingForm->exec();
}

void TMainForm::MenuReportFilesClick() {
    forms_.ReportFilesForm->ShowReportFileSettings();
    forms_.ReportFilesForm->exec();
}

void TMainForm::MenuComClick() {
    portDialog_->exec();
}

void TMainForm::MenuPortDevicesClick() {
    forms_.PortDevicesForm->exec();
}

void TMainForm::MenuPlantBrokerClick() {
    forms_.PlantBrokerForm->exec();
}

void TMainForm::MenuExitClick() {
    close();
}

void TMainForm::MenuAboutClick() {
    forms_.AboutForm->ShowAboutBox();
}
