#include "app/screenshots.h"

#include "app/line_simulator.h"
#include "ui/about_form.h"
#include "ui/form_set.h"
#include "ui/line_form.h"
#include "ui/main_form.h"
#include "ui/port_devices_form.h"
#include "ui/report_files_form.h"
#include "ui/report_view.h"
#include "ui/serial_form.h"
#include "ui/set_line_label_form.h"
#include "ui/stamping_form.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <cstdio>

namespace {

bool SaveWindow(QWidget* window, const QDir& folder, const QString& name) {
    const bool wasVisible = window->isVisible();
    window->show();
    window->raise();
    for (int pass = 0; pass < 5; ++pass)
        QApplication::processEvents();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    const bool saved = window->grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    if (!wasVisible)
        window->hide();
    return saved;
}

// Report lines as a line might send them, one long enough to run past the small view's edge.
void FillSampleLines(FormSet& forms, int line) {
    const QString samples[] = {
        QStringLiteral("07-Dec-26,15:04:09,LOT 42 OK"),
        QStringLiteral("07-Dec-26,15:04:12,LOT 43 COUNT 118 PASS"),
        QStringLiteral(
            "07-Dec-26,15:04:15,LOT 44 COUNT 120 FAIL SEAL PRESSURE 4.7 BAR BELOW LIMIT "
            "5.0 BAR - OPERATOR CHECK REQUIRED BEFORE THE NEXT LOT IS RELEASED TO PACKING"),
        QStringLiteral("07-Dec-26,15:04:18,LOT 45 OK"),
    };
    // The expanded view shows the same lines.
    for (const QString& sample : samples)
        forms.MainForm->LineWindows[line - 1]->AddLine(sample);
}

// The main window dragged one and a half times as wide: form scaling enlarges every panel, font
// and start button image.
bool SaveScaledMainWindow(FormSet& forms, const QDir& folder) {
    TMainForm* main = forms.MainForm;
    const QSize designed = main->size();
    main->activateWindow();
    QApplication::processEvents();
    main->resize(designed.width() * 3 / 2, designed.height());
    const bool saved = SaveWindow(main, folder, QStringLiteral("main_window_scaled"));
    main->resize(designed);
    QApplication::processEvents();
    return saved;
}

// Runs the event loop until the condition holds or the time is up; false when it never held.
template <typename Condition> bool WaitFor(Condition holds, int milliseconds) {
    const QDeadlineTimer deadline(milliseconds);
    while (!holds()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// The simulated plant at work: a few reports on every started line, then the faulty line's
// adapter pulled, its panel waiting for it.
void LetThePlantRun(FormSet& forms, LineSimulator& simulator) {
    const auto everyLineReported = [&forms] {
        for (int line = 1; line <= LineCount; ++line) {
            if (forms.Lines.Line(line).Started &&
                forms.MainForm->LineWindows[line - 1]->LineCount() < 4)
                return false;
        }
        return true;
    };
    if (!WaitFor(everyLineReported, 20000))
        std::fprintf(stderr, "not every started line has shown four reports\n");
    simulator.PullAdapterNow();
    const ProductionLine& faulty = forms.Lines.Line(LineSimulator::FaultyLine);
    if (!WaitFor([&faulty] { return faulty.PortStatus == PortState::Waiting; }, 5000))
        std::fprintf(stderr, "line %d does not wait for its adapter\n", LineSimulator::FaultyLine);
}

} // namespace

bool SaveScreenshots(FormSet& forms, const QString& folder, LineSimulator* simulator) {
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "could not create %s\n", qPrintable(folder));
        return false;
    }
    if (simulator != nullptr) {
        LetThePlantRun(forms, *simulator);
    } else {
        FillSampleLines(forms, 1);
        forms.MainForm->StartLineBtns[0]->setChecked(true);
    }
    forms.SetLineLabelForm->OldCaption->setText(forms.MainForm->Caption(1));
    forms.SetLineLabelForm->NewEdit->setText(QStringLiteral("Packing"));

    bool saved = SaveWindow(forms.MainForm, dir, QStringLiteral("main_window"));
    saved = SaveScaledMainWindow(forms, dir) && saved;
    saved = SaveWindow(forms.SerialForm, dir, QStringLiteral("port_dialog")) && saved;
    saved = SaveWindow(forms.PortDevicesForm, dir, QStringLiteral("port_devices_dialog")) && saved;
    saved = SaveWindow(forms.StampingForm, dir, QStringLiteral("stamping_dialog")) && saved;
    forms.ReportFilesForm->ShowReportFileSettings();
    saved = SaveWindow(forms.ReportFilesForm, dir, QStringLiteral("report_files_dialog")) && saved;
    saved = SaveWindow(forms.SetLineLabelForm, dir, QStringLiteral("label_dialog")) && saved;
    saved = SaveWindow(forms.LineForms[0], dir, QStringLiteral("expanded_view")) && saved;
    saved = SaveWindow(forms.AboutForm, dir, QStringLiteral("about_box")) && saved;
    return saved;
}
