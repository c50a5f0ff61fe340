// The program measured end to end over pseudo-terminals: the program's own windows and ports,
// lines started through their start buttons (the save dialog answered in-process), production
// lines played on the masters from other threads. Prints:
//   (a) report lines per second one line sustains, every line checked in the report file, and
//       the share it reaches of the floor: the same lines opened, appended and closed in a loop;
//   (b) the same with all eight lines at once;
//   (c) latency from the LF on the master to the line in the report file at 10 lines per second;
//   (d) CPU of the idle program with eight ports open;
//   (e) OK in COM Ports with eight lines on and sending: how long ports stay closed, from the first
//       close to the last open, and the whole OK with its settings file write, when nothing
//       changed and when every line swaps its COM port with its neighbour's; every line checked;
//   (f) latency from the write of each line (its LF last) to the whole line in its file with all
//       eight lines sending 500 report lines a second each, for a number of seconds.
// Usage: capture_bench [lines for (a)] [lines per line for (b)] [samples for (c)] [idle seconds]
//        [OK rounds for (e)] [seconds for (f)]

#include "bench/program_under_test.h"
#include "capture/stamps.h"
#include "runtime/message_box.h"
#include "serial/apd_com_port.h"
#include "serial/platform/port_map.h"
#include "settings/profile.h"
#include "ui/form_set.h"
#include "ui/main_form.h"
#include "ui/save_dialog.h"
#include "ui/serial_form.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <atomic>
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
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class Bench : public ProgramUnderTest {
public:
    // Floods the given lines with `count` numbered report lines each, as fast as the program
    // takes them, and checks every line of every report file.
    void Flood(const char* title, const char* tag, const std::vector<int>& which, int count) {
        std::vector<std::string> files;
        for (int line : which)
            files.push_back(StartLine(line, std::string(tag) + std::to_string(line) + ".txt"));
        const long long lineBytes = static_cast<long long>(stamps_.size()) + 15;
        const long long fileBytes = lineBytes * count;
        std::string stream;
        stream.reserve(static_cast<std::size_t>(count) * 15);
        for (int i = 0; i < count; ++i)
            stream += Payload(i) + "\r\n";

        const double rssBefore = RssMiB();
        const double cpuBefore = CpuSeconds();
        std::atomic<int> failedWrites{0};
        const Clock::time_point start = Clock::now();
        std::vector<std::thread> writers;
        for (int line : which)
            writers.emplace_back([&, line] {
                if (!WriteAll(lines_[static_cast<std::size_t>(line - 1)].Master, stream))
                    ++failedWrites;
            });

        // The program runs in this thread; the files are looked at every few milliseconds.
        QEventLoop loop;
        QTimer watch;
        Clock::time_point done = start;
        Clock::time_point lastGrowth = start;
        long long lastTotal = 0;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            long long total = 0;
            bool complete = true;
            for (const std::string& file : files) {
                const long long size = FileSize(file);
                total += std::max(0LL, size);
                complete = complete && size >= fileBytes;
            }
            const Clock::time_point now = Clock::now();
            if (total != lastTotal) {
                lastTotal = total;
                lastGrowth = now;
            }
            if (complete || now - lastGrowth > std::chrono::seconds(10)) {
                done = complete ? now : lastGrowth;
                loop.quit();
            }
        });
        watch.start(2);
        loop.exec();
        for (std::thread& writer : writers)
            writer.join();
        const double seconds = std::chrono::duration<double>(done - start).count();
        const double cpu = CpuSeconds() - cpuBefore;

        Check total;
        for (const std::string& file : files) {
            const Check check = CheckReport(FileText(file), stamps_, count);
            total.Good += check.Good;
            total.Lost += check.Lost;
            total.Duplicated += check.Duplicated;
            total.Corrupted += check.Corrupted;
        }
        const double lines = static_cast<double>(count) * static_cast<double>(which.size());
        std::printf("%s: %zu line(s) x %d report lines in %.3f s\n", title, which.size(), count,
                    seconds);
        std::printf("  rate: %.0f report lines/s in all, %.0f per line\n", lines / seconds,
                    lines / seconds / static_cast<double>(which.size()));
        std::printf("  checked: %ld good, %ld lost, %ld duplicated, %ld corrupted%s\n", total.Good,
                    total.Lost, total.Duplicated, total.Corrupted,
                    failedWrites ? " (a writer stalled)" : "");
        std::printf("  CPU: %.0f%% of one core; RSS %.1f -> %.1f MiB (+%.0f bytes per line in "
                    "the views)\n",
                    100.0 * cpu / seconds, rssBefore, RssMiB(),
                    (RssMiB() - rssBefore) * 1048576.0 / lines);
        const double floor = Floor(which.size(), count);
        std::printf("  floor (open, append, close of the same lines in one loop): %.0f lines/s; "
                    "the program reaches %.2f of it\n",
                    floor, lines / seconds / floor);
        std::fflush(stdout);
    }

    // The floor of this design: every report line opened, appended and closed, the files taken in
    // turn, with nothing else to do, into the same folder.
    double Floor(std::size_t files, int count) {
        std::vector<std::string> names;
        for (std::size_t f = 0; f < files; ++f)
            names.push_back(Folder() + "floor-" + std::to_string(f) + ".txt");
        std::vector<std::string> texts;
        for (int i = 0; i < count; ++i)
            texts.push_back(stamps_ + Payload(i) + "\r\n");
        const Clock::time_point start = Clock::now();
        for (const std::string& text : texts)
            for (const std::string& name : names) {
                const int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
                if (fd < 0 ||
                    write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
                    throw std::runtime_error("the floor's file cannot be written");
                close(fd);
            }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (const std::string& name : names)
            std::remove(name.c_str());
        return static_cast<double>(count) * static_cast<double>(files) / seconds;
    }

    // One line at `perSecond` lines per second: time from the write of the line's LF to the
    // line's full length in the report file, seen by inotify in another thread.
    void Latency(int samples, int perSecond) {
        // The floods' files go to disk first: their write-back would otherwise share the
        // machine with the measured lines.
        sync();
        const std::string file = StartLine(1, "latency.txt");
        const long long lineBytes = static_cast<long long>(stamps_.size()) + 15;
        std::vector<double> micros;
        std::atomic<int> timeouts{0};
        QEventLoop loop;
        std::thread player([&] {
            const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            inotify_add_watch(watch, Folder().c_str(),
                              IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
            Clock::time_point tick = Clock::now();
            char events[4096];
            for (int i = 0; i < samples; ++i) {
                tick += std::chrono::microseconds(1000000 / perSecond);
                std::this_thread::sleep_until(tick);
                const std::string bytes = Payload(i) + "\r\n";
                // All but the LF first, so the clock starts at the byte that completes the line.
                WriteAll(lines_[0].Master, bytes.substr(0, bytes.size() - 1));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                while (read(watch, events, sizeof events) > 0) {
                }
                const Clock::time_point sent = Clock::now();
                WriteAll(lines_[0].Master, "\n");
                const long long wanted = lineBytes * (i + 1);
                bool arrived = false;
                while (!arrived) {
                    if (FileSize(file) >= wanted) {
                        arrived = true;
                        break;
                    }
                    pollfd ready{watch, POLLIN, 0};
                    if (poll(&ready, 1, 2000) <= 0)
                        break;
                    while (read(watch, events, sizeof events) > 0) {
                    }
                }
                if (arrived)
                    micros.push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                else
                    ++timeouts;
            }
            close(watch);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        player.join();
        std::sort(micros.begin(), micros.end());
        const auto at = [&](double q) {
            return micros.empty() ? 0.0
                                  : micros[std::min(micros.size() - 1,
                                                    static_cast<std::size_t>(q * micros.size()))];
        };
        const Check check = CheckReport(FileText(file), stamps_, samples);
        std::printf("(c) latency LF -> line in file, %d lines/s, %zu samples: p50 %.0f us, p99 "
                    "%.0f us, max %.0f us; %d never arrived; file: %ld good, %ld lost, %ld "
                    "duplicated, %ld corrupted\n",
                    perSecond, micros.size(), at(0.50), at(0.99),
                    micros.empty() ? 0 : micros.back(), timeouts.load(), check.Good, check.Lost,
                    check.Duplicated, check.Corrupted);
        std::fflush(stdout);
    }

    // Every line at `perSecond` lines per second for `seconds`: time from each line's write to
    // its whole length in its file, the files looked at whenever inotify says the folder changed.
    void SteadyLatency(int seconds, int perSecond) {
        sync();
        std::vector<std::string> files;
        for (int line = 1; line <= LineCount; ++line)
            files.push_back(StartLine(line, "steady-" + std::to_string(line) + ".txt"));
        const long long lineBytes = static_cast<long long>(stamps_.size()) + 15;
        const int count = seconds * perSecond;
        using Stamp = std::atomic<long long>; // ns of the steady clock
        std::vector<std::unique_ptr<Stamp[]>> sent;
        for (int line = 0; line < LineCount; ++line)
            sent.push_back(std::make_unique<Stamp[]>(static_cast<std::size_t>(count)));
        const auto now = [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                       Clock::now().time_since_epoch())
                .count();
        };
        std::vector<double> micros;
        std::atomic<bool> playing{true};
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        inotify_add_watch(watch, Folder().c_str(), IN_MODIFY | IN_CREATE | IN_CLOSE_WRITE);
        std::thread watcher([&] {
            std::array<long long, LineCount> seen{};
            char events[4096];
            for (bool more = true; more;) {
                more = playing;
                pollfd ready{watch, POLLIN, 0};
                poll(&ready, 1, 100);
                while (read(watch, events, sizeof events) > 0) {
                }
                const long long at = now();
                for (std::size_t i = 0; i < LineCount; ++i) {
                    const long long whole =
                        std::min<long long>(FileSize(files[i]) / lineBytes, count);
                    for (; seen[i] < whole; ++seen[i])
                        micros.push_back(static_cast<double>(at - sent[i][seen[i]]) / 1e3);
                }
                if (!more)
                    break;
                bool all = true;
                for (long long n : seen)
                    all = all && n == count;
                if (all)
                    break;
            }
        });
        Clock::time_point tick = Clock::now();
        QEventLoop loop;
        std::thread player([&] {
            for (int n = 0; n < count; ++n) {
                tick += std::chrono::microseconds(1000000 / perSecond);
                std::this_thread::sleep_until(tick);
                const std::string bytes = Payload(n) + "\r\n";
                for (std::size_t i = 0; i < LineCount; ++i) {
                    sent[i][n] = now();
                    WriteAll(lines_[i].Master, bytes);
                }
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        player.join();
        QEventLoop settle;
        QTimer::singleShot(2000, &settle, &QEventLoop::quit);
        settle.exec();
        playing = false;
        watcher.join();
        close(watch);
        std::sort(micros.begin(), micros.end());
        const auto at = [&](double q) {
            return micros.empty() ? 0.0
                                  : micros[std::min(micros.size() - 1,
                                                    static_cast<std::size_t>(q * micros.size()))];
        };
        long good = 0;
        long bad = 0;
        for (std::size_t i = 0; i < LineCount; ++i) {
            const Check check = CheckReport(FileText(files[i]), stamps_, count);
            good += check.Good;
            bad += check.Lost + check.Duplicated + check.Corrupted;
        }
        std::printf("(f) latency write -> line in file, %d lines x %d lines/s for %d s, %zu "
                    "samples: p50 %.0f us, p99 %.0f us, max %.0f us; files: %ld good, %ld lost, "
                    "duplicated or corrupted\n",
                    LineCount, perSecond, seconds, micros.size(), at(0.50), at(0.99),
                    micros.empty() ? 0 : micros.back(), good, bad);
        std::fflush(stdout);
    }

    // The program left alone with every port open.
    void Idle(int seconds) {
        QEventLoop loop;
        const double before = CpuSeconds();
        const Clock::time_point start = Clock::now();
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("(d) idle with %d ports open: %.3f%% of one core over %.1f s\n", LineCount,
                    100.0 * (CpuSeconds() - before) / wall, wall);
        std::fflush(stdout);
    }

    void PortSetUp(int rounds) {
        TSerialForm& serial = *forms_->SerialForm;
        Clock::time_point firstClose{};
        Clock::time_point lastOpen{};
        int closes = 0;
        for (TApdComPort* port : serial.ComPorts) {
            port->SetOnPortClose([&](QObject&) {
                if (closes++ == 0)
                    firstClose = Clock::now();
            });
            port->SetOnPortOpen([&](QObject&) { lastOpen = Clock::now(); });
        }
        const auto pump = [](int ms) {
            QEventLoop loop;
            QTimer::singleShot(ms, &loop, &QEventLoop::quit);
            loop.exec();
        };
        const auto millis = [](Clock::duration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        const auto measure = [&](const char* title, bool swap) {
            std::vector<double> closed;
            std::vector<double> whole;
            for (int round = 0; round < rounds; ++round) {
                pump(50);
                if (swap)
                    for (std::size_t i = 0; i < LineCount; i += 2) {
                        QComboBox* a = serial.Ports[i].ComPort;
                        QComboBox* b = serial.Ports[i + 1].ComPort;
                        const int first = a->currentIndex();
                        a->setCurrentIndex(b->currentIndex());
                        b->setCurrentIndex(first);
                    }
                closes = 0;
                const Clock::time_point start = Clock::now();
                serial.OKBtnClick();
                whole.push_back(millis(Clock::now() - start));
                closed.push_back(closes > 0 ? millis(lastOpen - firstClose) : 0.0);
            }
            std::sort(closed.begin(), closed.end());
            std::sort(whole.begin(), whole.end());
            std::printf("(e) OK, eight lines on, %s, %d rounds: ports closed median %.1f ms, max "
                        "%.1f ms; whole OK median %.1f ms, max %.1f ms\n",
                        title, rounds, closed[closed.size() / 2], closed.back(),
                        whole[whole.size() / 2], whole.back());
        };

        std::vector<std::string> files;
        for (int line = 1; line <= LineCount; ++line)
            files.push_back(StartLine(line, "ok-" + std::to_string(line) + ".txt"));
        // Every line sends a report line every 5 ms, in two halves, so OK finds lines half-way.
        std::atomic<bool> sending{true};
        std::array<int, LineCount> sent{};
        std::vector<std::thread> players;
        for (std::size_t i = 0; i < LineCount; ++i)
            players.emplace_back([&, i] {
                for (int& n = sent[i]; sending; ++n) {
                    const std::string text = Payload(n) + "\r\n";
                    WriteAll(lines_[i].Master, text.substr(0, 5));
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    WriteAll(lines_[i].Master, text.substr(5));
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                }
            });
        measure("nothing changed, every line sending", false);
        sending = false;
        for (std::thread& player : players)
            player.join();
        pump(500);
        long lost = 0;
        long corrupted = 0;
        for (std::size_t i = 0; i < LineCount; ++i) {
            const Check check = CheckReport(FileText(files[i]), stamps_, sent[i]);
            lost += check.Lost;
            corrupted += check.Corrupted + check.Duplicated;
        }
        std::printf("  checked: %ld lost, %ld corrupted or duplicated\n", lost, corrupted);
        // Lines that trade ports mid-line would splice their halves, so this one runs quiet.
        measure("every line swaps its COM port with its neighbour's", true);
        for (TApdComPort* port : serial.ComPorts) {
            port->SetOnPortClose({});
            port->SetOnPortOpen({});
        }
        std::fflush(stdout);
    }
};

int Argument(int argc, char** argv, int index, int fallback) {
    return argc > index ? std::atoi(argv[index]) : fallback;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int single = Argument(argc, argv, 1, 200000);
    const int eachOfEight = Argument(argc, argv, 2, 50000);
    const int samples = Argument(argc, argv, 3, 200);
    const int idleSeconds = Argument(argc, argv, 4, 10);
    const int okRounds = Argument(argc, argv, 5, 20);
    const int steadySeconds = Argument(argc, argv, 6, 0);

    // A measure given 0 is left out.
    Bench bench;
    if (idleSeconds > 0)
        bench.Idle(idleSeconds);
    if (single > 0)
        bench.Flood("(a) flood, one line", "flood-one-", {1}, single);
    if (eachOfEight > 0)
        bench.Flood("(b) flood, eight lines", "flood-eight-", {1, 2, 3, 4, 5, 6, 7, 8},
                    eachOfEight);
    if (samples > 0)
        bench.Latency(samples, 10);
    if (okRounds > 0)
        bench.PortSetUp(okRounds);
    if (steadySeconds > 0)
        bench.SteadyLatency(steadySeconds, 500);
    std::printf("message boxes shown: %d\n", bench.Boxes());
    return 0;
}
