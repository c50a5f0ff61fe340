// Forwarding to a real Mosquitto broker, measured end to end over pseudo-terminals: the CPU per
// report line at 8 lines x 500 report lines/s with forwarding off and then on, and the time from
// the line feed to the subscriber's delivery. The broker and the sender's and the subscriber's
// threads are not counted; every report line is checked to have arrived.
//
//   broker_bench [SECONDS]   (10 by default, per phase)

#include "bench/program_under_test.h"
#include "broker/plant_broker.h"
#include "settings/settings_groups.h"
#include "tests/support/mosquitto_broker.h"

#include <QApplication>
#include <atomic>
#include <mosquitto.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int Rate = 500; // report lines per second per line

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Subscribes to every line's topic in this process; records when each report line came.
class Subscriber {
public:
    Subscriber(int port, int perLine) : delivered_(LineCount * static_cast<std::size_t>(perLine)) {
        perLine_ = perLine;
        mosquitto_lib_init();
        client_ = mosquitto_new("broker-bench-subscriber", true, this);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void*, int) {
            mosquitto_subscribe(m, nullptr, "bench/+", 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* message) {
                static_cast<Subscriber*>(self)->Take(message);
            });
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
        while (!subscribed_)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    // Report line `number` (0-based) of every line counts from here.
    void Reset(int perLine) {
        std::lock_guard lock(mutex_);
        perLine_ = perLine;
        delivered_.assign(LineCount * static_cast<std::size_t>(perLine), Clock::time_point{});
        count_ = 0;
    }
    long Count() const { return count_; }
    double CpuSeconds() const { return cpu_; }
    std::vector<Clock::time_point> Delivered() {
        std::lock_guard lock(mutex_);
        return delivered_;
    }

private:
    void Take(const mosquitto_message* message) {
        const auto now = Clock::now();
        const std::string topic = message->topic;
        const std::string payload(static_cast<const char*>(message->payload),
                                  static_cast<std::size_t>(message->payloadlen));
        const int line = topic.back() - '0';
        const std::size_t lot = payload.find("LOT ");
        if (line >= 1 && line <= LineCount && lot != std::string::npos) {
            const int number = std::atoi(payload.c_str() + lot + 4);
            std::lock_guard lock(mutex_);
            const std::size_t at = static_cast<std::size_t>((line - 1) * perLine_ + number);
            if (number >= 0 && number < perLine_ && delivered_[at] == Clock::time_point{}) {
                delivered_[at] = now;
                ++count_;
            }
        }
        cpu_ = ThreadCpuSeconds();
    }

    mosquitto* client_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    int perLine_ = 0;
    std::vector<Clock::time_point> delivered_;
    std::atomic<long> count_{0};
    std::atomic<double> cpu_{0};
};

class BrokerBench : public ProgramUnderTest {
public:
    void Forward(const std::string& url) {
        BrokerSettings broker;
        broker.Enabled = true;
        broker.Url = url;
        broker.TopicPrefix = "bench";
        SaveBrokerSettings(broker);
        forms_->Broker->ApplySettings();
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!forms_->Broker->Status().Connected && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    std::uint64_t Waiting() const { return forms_->Broker->Status().Waiting; }

    struct Phase {
        double CpuPerLine = 0; // µs
        long Checked = 0;      // report lines found whole in their files
        long Wrong = 0;        // lost, duplicated or corrupted in the files
        std::vector<Clock::time_point> Sent;
    };

    // Eight lines at Rate report lines/s for `seconds`; the program's CPU, without the sender's
    // and the subscriber's threads.
    Phase Run(const std::string& name, int seconds, Subscriber& subscriber, bool waitDelivery) {
        const int perLine = Rate * seconds;
        std::array<std::string, LineCount> files;
        for (int line = 1; line <= LineCount; ++line)
            files[line - 1] = StartLine(line, name + std::to_string(line) + ".txt");
        subscriber.Reset(perLine);
        Phase phase;
        phase.Sent.assign(LineCount * static_cast<std::size_t>(perLine), Clock::time_point{});
        std::atomic<bool> done{false};
        std::atomic<double> senderCpu{0};
        const double subscriberBefore = subscriber.CpuSeconds();
        const double before = CpuSeconds();
        std::thread sender([&] {
            const double start = ThreadCpuSeconds();
            const auto begin = Clock::now();
            for (int number = 0; number < perLine; ++number) {
                std::this_thread::sleep_until(begin +
                                              std::chrono::microseconds(1000000 / Rate) * number);
                const std::string text = Payload(number) + "\r\n";
                for (int line = 0; line < LineCount; ++line) {
                    phase.Sent[static_cast<std::size_t>(line * perLine + number)] = Clock::now();
                    WriteAll(lines_[static_cast<std::size_t>(line)].Master, text);
                }
            }
            senderCpu = ThreadCpuSeconds() - start;
            done = true;
        });
        const auto total = static_cast<long>(LineCount) * perLine;
        const auto deadline = Clock::now() + std::chrono::seconds(seconds + 60);
        const auto filesComplete = [&] {
            for (const std::string& file : files)
                if (FileSize(file) <
                    static_cast<long long>(perLine) * static_cast<long long>(stamps_.size() + 15))
                    return false;
            return true;
        };
        while ((!done || !filesComplete() || (waitDelivery && subscriber.Count() < total)) &&
               Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        sender.join();
        const double cpu =
            CpuSeconds() - before - senderCpu - (subscriber.CpuSeconds() - subscriberBefore);
        phase.CpuPerLine = 1e6 * cpu / static_cast<double>(total);
        for (const std::string& file : files) {
            const Check check = CheckReport(FileText(file), stamps_, perLine);
            phase.Checked += check.Good;
            phase.Wrong += check.Lost + check.Duplicated + check.Corrupted;
        }
        return phase;
    }
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    MosquittoBroker broker;
    Subscriber subscriber(broker.Port(), Rate * seconds);
    BrokerBench bench;
    const BrokerBench::Phase off = bench.Run("off", seconds, subscriber, false);
    bench.Forward(broker.Url());
    const BrokerBench::Phase on = bench.Run("on", seconds, subscriber, true);
    const std::vector<Clock::time_point> delivered = subscriber.Delivered();
    std::vector<double> latency;
    for (std::size_t i = 0; i < delivered.size(); ++i)
        if (delivered[i] != Clock::time_point{})
            latency.push_back(
                std::chrono::duration<double, std::micro>(delivered[i] - on.Sent[i]).count());
    std::printf("8 lines x %d report lines/s for %d s per phase\n", Rate, seconds);
    std::printf("forwarding off: %.1f us CPU per report line; files: %ld whole, %ld wrong\n",
                off.CpuPerLine, off.Checked, off.Wrong);
    std::printf(
        "forwarding on:  %.1f us CPU per report line (%+.0f %%); files: %ld whole, %ld wrong\n",
        on.CpuPerLine, 100.0 * (on.CpuPerLine / off.CpuPerLine - 1), on.Checked, on.Wrong);
    std::printf("delivered to the subscriber: %zu of %zu; LF to delivery p50 %.2f ms, p99 %.2f ms, "
                "max %.2f ms\n",
                latency.size(), delivered.size(), Percentile(latency, 0.5) / 1000,
                Percentile(latency, 0.99) / 1000, Percentile(latency, 1.0) / 1000);
    std::printf("message boxes: %d\n", bench.Boxes());
    return latency.size() == delivered.size() && off.Wrong == 0 && on.Wrong == 0 ? 0 : 1;
}
