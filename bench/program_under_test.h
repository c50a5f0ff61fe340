#pragma once
// The program measured end to end over pseudo-terminals, for the benchmarks: its own windows and
// ports against a settings file with every line on COM1 to COM8, lines started through their
// start buttons (the save dialog answered in-process), production lines played on the masters,
// and a check of every numbered report line in the files.

#include "bench/resident_bytes.h"
#include "capture/stamps.h"
#include "runtime/message_box.h"
#include "serial/platform/port_map.h"
#include "settings/profile.h"
#include "ui/form_set.h"
#include "ui/main_form.h"
#include "ui/save_dialog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

// One production line's far end: the master of a pseudo-terminal whose slave is COMn. The slave
// stays open here too, so the terminal outlives the program's opens and closes.
struct Line {
    int Master = -1;
    int Slave = -1;
};

inline std::array<Line, LineCount> OpenLines() {
    std::array<Line, LineCount> lines{};
    for (int n = 1; n <= LineCount; ++n) {
        Line& line = lines[static_cast<std::size_t>(n - 1)];
        char name[256] = {};
        if (openpty(&line.Master, &line.Slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
        fcntl(line.Master, F_SETFL, fcntl(line.Master, F_GETFL) | O_NONBLOCK);
        fcntl(line.Master, F_SETFD, FD_CLOEXEC);
        fcntl(line.Slave, F_SETFD, FD_CLOEXEC);
        SetPortDevice(n, name);
    }
    return lines;
}

// Writes every byte, waiting for room as the program reads; false if the slave stays full.
inline bool WriteAll(int master, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd room{master, POLLOUT, 0};
        if (poll(&room, 1, 20000) == 0)
            return false;
    }
    return true;
}

inline long long FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

inline std::string FileText(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    return file.readAll().toStdString();
}

inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

inline double RssMiB() {
    return ResidentBytes() / 1048576.0;
}

inline std::string Payload(int number) {
    char text[32];
    std::snprintf(text, sizeof text, "LOT %06d OK", number);
    return text;
}

// What a report file holds after numbered lines: lines in order, and every line not so.
struct Check {
    long Good = 0;
    long Lost = 0;
    long Duplicated = 0;
    long Corrupted = 0;
};

// True when a line's stamps have the shape of the stamps the program wrote at the start: the
// clock is the real one, so digits may differ, letters may (a new month), the rest may not.
inline bool StampsFit(const std::string& line, const std::string& stamps) {
    if (line.size() < stamps.size())
        return false;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const auto a = static_cast<unsigned char>(stamps[i]);
        const auto b = static_cast<unsigned char>(line[i]);
        if (std::isdigit(a) ? !std::isdigit(b) : std::isalpha(a) ? !std::isalpha(b) : a != b)
            return false;
    }
    return true;
}

inline Check CheckReport(const std::string& text, const std::string& stamps, int count) {
    Check check;
    int next = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        int number = -1;
        if (line.size() == stamps.size() + 13 && StampsFit(line, stamps) &&
            line.compare(stamps.size(), 4, "LOT ") == 0)
            number = std::atoi(line.c_str() + stamps.size() + 4);
        if (number < 0 || line.compare(stamps.size(), std::string::npos, Payload(number)) != 0) {
            ++check.Corrupted;
        } else if (number < next) {
            ++check.Duplicated;
        } else {
            check.Lost += number - next;
            ++check.Good;
            next = number + 1;
        }
    }
    check.Lost += std::max(0, count - next);
    return check;
}

class ProgramUnderTest {
public:
    // extraSettings: more of the settings file, CR LF lines after the port settings.
    explicit ProgramUnderTest(const std::string& extraSettings = std::string())
        : lines_(OpenLines()) {
        // The program's own clock: reading it is part of every report line's cost.
        stamps_ = DateStamp() + "," + TimeStamp() + ",";
        SetMessagePresenter([this](const MessageBoxRequest& box) {
            ++boxes_;
            std::fprintf(stderr, "message box: %s\n", box.Text.c_str());
        });
        SetSettingsFileName(Folder() + "Tolvane.ini");
        std::string settings = "[ComPortSettings]\r\n";
        const char* keys[] = {"ComPort",  "ComPortB", "ComPortC", "ComPortD",
                              "ComPortE", "ComPortF", "ComPortG", "ComPortH"};
        for (int n = 0; n < LineCount; ++n)
            settings += std::string(keys[n]) + "=" + std::to_string(n) + "\r\n";
        settings += extraSettings;
        QFile file(QFile::decodeName((Folder() + "Tolvane.ini").c_str()));
        if (!file.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the settings file");
        file.write(settings.data(), static_cast<qint64>(settings.size()));
        file.close();
        forms_ = std::make_unique<FormSet>();
        forms_->MainForm->StartupTimerTimer();
    }

    std::string Folder() const { return QFile::encodeName(dir_.path()).toStdString() + "/"; }
    int Boxes() const { return boxes_; }

    // Starts the line afresh (stopping it first) with a new report file, as the operator does.
    std::string StartLine(int line, const std::string& name) {
        const std::string file = Folder() + name;
        QToolButton* button = forms_->MainForm->StartLineBtns[static_cast<std::size_t>(line - 1)];
        if (button->isChecked())
            button->click();
        auto previous = TSaveDialog::SetExecuteHook([&](TSaveDialog& dialog) {
            dialog.FileName = file;
            return true;
        });
        button->click();
        TSaveDialog::SetExecuteHook(std::move(previous));
        return file;
    }

protected:
    QTemporaryDir dir_;
    std::array<Line, LineCount> lines_;
    std::string stamps_;
    int boxes_ = 0;
    std::unique_ptr<FormSet> forms_;
};
