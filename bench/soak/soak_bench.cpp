// A shift in minutes: the program in-process, as bench/capture runs it, with eight lines each
// sending 500 report lines a second (default 10 minutes: 2.4 million lines). Resident memory and
// CPU are sampled every 5 s into soak.csv, and drawn against time into soak.png; at the end every
// numbered line of every report file is checked.
// Usage: soak_bench [seconds] [lines per second per line] [output folder] [ViewLimitMB]

#include "bench/program_under_test.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Sample {
    double Seconds = 0;
    double RssMiB = 0;
    double CpuPercent = 0; // of one core, over the 5 s before the sample
};

// Two panels, memory above CPU, against minutes.
void Draw(const std::vector<Sample>& samples, const std::string& file) {
    constexpr int Width = 900;
    constexpr int Height = 560;
    constexpr int Left = 70;
    constexpr int Right = 20;
    constexpr int PanelHeight = 210;
    constexpr int Tops[2] = {30, 300};
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double span = samples.empty() ? 1.0 : std::max(1.0, samples.back().Seconds);
    const char* titles[2] = {"Resident memory (MiB)", "CPU (% of one core)"};
    const QColor colours[2] = {QColor(0, 0, 128), QColor(160, 0, 0)};
    for (int panel = 0; panel < 2; ++panel) {
        double top = 1.0;
        for (const Sample& s : samples)
            top = std::max(top, panel == 0 ? s.RssMiB : s.CpuPercent);
        top *= 1.15;
        const QRect frame(Left, Tops[panel], Width - Left - Right, PanelHeight);
        painter.setPen(Qt::black);
        painter.drawRect(frame);
        painter.drawText(Left, Tops[panel] - 8, QString::fromLatin1(titles[panel]));
        for (int tick = 0; tick <= 4; ++tick) {
            const int y = frame.bottom() - tick * frame.height() / 4;
            painter.setPen(QColor(220, 220, 220));
            painter.drawLine(frame.left(), y, frame.right(), y);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, y - 8, Left - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(top * tick / 4, 'f', 1));
        }
        for (int minute = 0; minute <= static_cast<int>(span / 60); ++minute) {
            const int x = frame.left() + static_cast<int>(minute * 60 / span * frame.width());
            painter.drawText(QRect(x - 20, frame.bottom() + 4, 40, 16), Qt::AlignHCenter,
                             QString::number(minute));
        }
        QPolygonF curve;
        for (const Sample& s : samples)
            curve << QPointF(frame.left() + s.Seconds / span * frame.width(),
                             frame.bottom() -
                                 (panel == 0 ? s.RssMiB : s.CpuPercent) / top * frame.height());
        painter.setPen(QPen(colours[panel], 2));
        painter.drawPolyline(curve);
    }
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, Height - 22, Width, 18), Qt::AlignHCenter, QStringLiteral("minutes"));
    painter.end();
    image.save(QString::fromStdString(file));
}

class Soak : public ProgramUnderTest {
public:
    using ProgramUnderTest::ProgramUnderTest;

    void Run(int seconds, int perSecond, const std::string& out) {
        std::vector<std::string> files;
        for (int line = 1; line <= LineCount; ++line)
            files.push_back(StartLine(line, "soak-" + std::to_string(line) + ".txt"));
        std::atomic<bool> playing{true};
        std::array<int, LineCount> sent{};
        std::atomic<int> stalls{0};
        std::vector<std::thread> players;
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + std::chrono::seconds(seconds);
        for (std::size_t i = 0; i < LineCount; ++i)
            players.emplace_back([&, i] {
                // Each line on its own schedule, so a late write is caught up, not dropped.
                const auto period = std::chrono::nanoseconds(1000000000 / perSecond);
                Clock::time_point next = start;
                for (int& n = sent[i]; Clock::now() < end; ++n) {
                    std::this_thread::sleep_until(next);
                    next += period;
                    if (!WriteAll(lines_[i].Master, Payload(n) + "\r\n")) {
                        ++stalls;
                        return;
                    }
                }
            });

        std::vector<Sample> samples;
        double cpu = CpuSeconds();
        Clock::time_point last = start;
        samples.push_back({0, RssMiB(), 0});
        QEventLoop loop;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            const double cpuNow = CpuSeconds();
            const double wall = std::chrono::duration<double>(now - last).count();
            samples.push_back({std::chrono::duration<double>(now - start).count(), RssMiB(),
                               100.0 * (cpuNow - cpu) / wall});
            cpu = cpuNow;
            last = now;
            if (now >= end + std::chrono::seconds(2))
                loop.quit();
        });
        sampler.start(5000);
        loop.exec();
        for (std::thread& player : players)
            player.join();
        // What is still on its way reaches the files.
        QEventLoop settle;
        QTimer::singleShot(2000, &settle, &QEventLoop::quit);
        settle.exec();

        Check total;
        long played = 0;
        for (std::size_t i = 0; i < LineCount; ++i) {
            const Check check = CheckReport(FileText(files[i]), stamps_, sent[i]);
            total.Good += check.Good;
            total.Lost += check.Lost;
            total.Duplicated += check.Duplicated;
            total.Corrupted += check.Corrupted;
            played += sent[i];
        }
        FILE* csv = std::fopen((out + "soak.csv").c_str(), "w");
        if (csv) {
            std::fprintf(csv, "seconds,rss_mib,cpu_percent\n");
            for (const Sample& s : samples)
                std::fprintf(csv, "%.1f,%.2f,%.1f\n", s.Seconds, s.RssMiB, s.CpuPercent);
            std::fclose(csv);
        }
        Draw(samples, out + "soak.png");
        double peakCpu = 0;
        double meanCpu = 0;
        for (std::size_t k = 1; k < samples.size(); ++k) {
            peakCpu = std::max(peakCpu, samples[k].CpuPercent);
            meanCpu += samples[k].CpuPercent / static_cast<double>(samples.size() - 1);
        }
        std::printf("soak: %d lines x %d report lines/s for %d s: %ld played, %ld good, %ld lost, "
                    "%ld duplicated, %ld corrupted%s\n",
                    LineCount, perSecond, seconds, played, total.Good, total.Lost, total.Duplicated,
                    total.Corrupted, stalls ? " (a player stalled)" : "");
        std::printf("  RSS %.1f MiB at the start, %.1f MiB at the end; CPU mean %.0f%%, peak "
                    "%.0f%% of one core; %zu samples in %ssoak.csv, drawn in %ssoak.png\n",
                    samples.front().RssMiB, samples.back().RssMiB, meanCpu, peakCpu, samples.size(),
                    out.c_str(), out.c_str());
        std::printf("message boxes shown: %d\n", boxes_);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int perSecond = argc > 2 ? std::atoi(argv[2]) : 500;
    std::string out = argc > 3 ? argv[3] : ".";
    if (!out.empty() && out.back() != '/')
        out += '/';
    const std::string viewLimit =
        argc > 4 ? "[Capture]\r\nViewLimitMB=" + std::string(argv[4]) + "\r\n" : std::string();
    Soak soak(viewLimit);
    soak.Run(seconds, std::max(1, perSecond), out);
    return 0;
}
