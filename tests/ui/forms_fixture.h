#pragma once
// What the window tests share: a settings file of their own, the program's windows after the
// start-up sequence, message boxes recorded, and ways to act inside modal windows.

#include "capture/stamps.h"
#include "serial/apd_com_port.h"
#include "settings/profile.h"
#include "tests/support/message_box_recorder.h"
#include "tests/support/pty_pair.h"
#include "ui/form_set.h"
#include "ui/main_form.h"
#include "ui/report_view.h"
#include "ui/save_dialog.h"
#include "ui/serial_form.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A settings file in a fresh temporary folder, made the program's settings file while it lives.
class TemporarySettings {
public:
    TemporarySettings() { SetSettingsFileName(Path()); }
    ~TemporarySettings() { SetSettingsFileName(std::string()); }

    std::string Folder() const { return QFile::encodeName(dir_.path()).toStdString() + "/"; }
    std::string Path() const { return Folder() + "Tolvane.ini"; }
    bool Exists() const { return QFile::exists(QFile::decodeName(Path().c_str())); }
    // Lines are given with LF and written with CR LF, as the program writes them.
    void Write(const std::string& text) const {
        std::string crlf;
        for (char c : text) {
            if (c == '\n')
                crlf += '\r';
            crlf += c;
        }
        QFile file(QFile::decodeName(Path().c_str()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(crlf.data(), static_cast<qint64>(crlf.size()));
    }
    std::string Value(const std::string& section, const std::string& key) const {
        return GetPrivateProfileString(section, key, "<missing>", Path());
    }
    // A path that can never be written, not even by root: its folder is a file.
    std::string UnwritablePath(const std::string& name) const {
        const std::string blocker = Folder() + "not-a-folder";
        QFile file(QFile::decodeName(blocker.c_str()));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return blocker + "/" + name;
    }
    // Points the program at a settings file that cannot be written.
    void MakeUnwritable() const { SetSettingsFileName(UnwritablePath("Tolvane.ini")); }

private:
    QTemporaryDir dir_;
};

// Chooses the report file (or cancels) in place of the save dialog, and records each showing.
class SaveDialogChoice {
public:
    struct Showing {
        std::string Title;
        std::string InitialDir;
        std::string FileNameAtShow;
        std::string Dialog;
    };

    // The file is chosen at the first `choices` showings, and the later ones are cancelled.
    explicit SaveDialogChoice(std::optional<std::string> fileName, std::size_t choices = SIZE_MAX)
        : fileName_(std::move(fileName)) {
        previous_ = TSaveDialog::SetExecuteHook([this, choices](TSaveDialog& dialog) {
            Showings.push_back({dialog.Title, dialog.InitialDir, dialog.FileName,
                                dialog.objectName().toStdString()});
            if (!fileName_ || Showings.size() > choices)
                return false;
            dialog.FileName = *fileName_;
            return true;
        });
    }
    ~SaveDialogChoice() { TSaveDialog::SetExecuteHook(std::move(previous_)); }
    SaveDialogChoice(const SaveDialogChoice&) = delete;
    SaveDialogChoice& operator=(const SaveDialogChoice&) = delete;

    std::vector<Showing> Showings;

private:
    std::optional<std::string> fileName_;
    TSaveDialog::ExecuteFunction previous_;
};

// Acts on each modal window as it shows, from inside its event loop. The action must close the
// window; one still open long after its action is closed here and noted, so that a fault fails
// the test instead of hanging it.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(std::function<void(QWidget*)> action) : action_(std::move(action)) {
        qApp->installEventFilter(this);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    ~ModalDriver() override { qApp->removeEventFilter(this); }

    std::vector<std::string> Seen; // objectNames of the modal windows, in order of showing
    bool Stuck = false;

protected:
    // A window shown again between two ticks is a new showing all the same.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            shown_ = static_cast<QWidget*>(watched);
        return false;
    }

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        if (modal != current_ || modal == shown_) {
            current_ = modal;
            shown_ = nullptr;
            ticksOpen_ = 0;
            Seen.push_back(modal->objectName().toStdString());
            action_(modal);
            return;
        }
        if (++ticksOpen_ > 2000) {
            Stuck = true;
            modal->close();
        }
    }

    std::function<void(QWidget*)> action_;
    QTimer timer_;
    QPointer<QWidget> current_;
    QPointer<QWidget> shown_;
    int ticksOpen_ = 0;
};

// COM1 to COM16 as pseudo-terminals while it lives, so that every port the program opens exists;
// a test plays a production line on a port's master side.
class SerialLines {
public:
    SerialLines() {
        for (int n = 1; n <= 16; ++n)
            ports_.push_back(std::make_unique<PtyPair>(n));
    }
    PtyPair& Com(int n) { return *ports_[static_cast<std::size_t>(n - 1)]; }

private:
    std::vector<std::unique_ptr<PtyPair>> ports_;
};

// The clock fixed at 7 December 2026, 15:04:09 while it lives.
class FixedClock {
public:
    FixedClock() {
        SetClock([] { return QDateTime(QDate(2026, 12, 7), QTime(15, 4, 9)); });
    }
    ~FixedClock() { SetClock({}); }
};

// The program's windows, started up against the test's own settings file.
class FormsTest : public ::testing::Test {
protected:
    // Writes the settings (when given), creates the windows and runs the start-up sequence.
    void StartUp(const std::string& settingsText = std::string()) {
        if (!settingsText.empty())
            settings.Write(settingsText);
        forms = std::make_unique<FormSet>();
        forms->MainForm->StartupTimerTimer();
    }

    TMainForm& Main() { return *forms->MainForm; }
    TSerialForm& Serial() { return *forms->SerialForm; }
    ProductionLine& Line(int line) { return forms->Lines.Line(line); }

    // A report line completing on line N, as the port's data trigger delivers it.
    void CompleteReportLine(int line, const std::string& text) {
        LineCapture& capture = Line(line).Capture;
        capture.PendingText += text;
        forms->Ports.ComPortTrigger(line, nullptr, TriggerDataMessage, capture.LineTriggerHandle);
        // The line's writer has had its turn before the test looks at the file.
        Line(line).Writer().WaitUntilTried(std::chrono::seconds(10));
    }

    // Starts line N with the report file of that name.
    void StartLine(int line, const std::string& fileName) {
        SaveDialogChoice choice(fileName);
        Main().StartLineBtns[line - 1]->click();
    }

    // The report file's contents, empty when it does not exist.
    static std::string FileText(const std::string& fileName) {
        QFile file(QFile::decodeName(fileName.c_str()));
        if (!file.open(QIODevice::ReadOnly))
            return std::string();
        return file.readAll().toStdString();
    }

    TemporarySettings settings;
    MessageBoxRecorder boxes;
    FixedClock clock;
    SerialLines lines;
    std::unique_ptr<FormSet> forms;
};
