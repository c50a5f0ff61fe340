// The floor a report logger is measured against: one loop that polls the given terminals and
// stamps and appends each completed line to its file with one open, append and close, as the
// program's writers do. The terminals must already be raw. Ends on SIGTERM or SIGINT.
// Usage: append_floor DEVICE FILE [DEVICE FILE]...

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

// "07-Dec-26,15:04:09,", made again only when the second changes.
const std::string& Stamp() {
    static time_t second = -1;
    static std::string text;
    const time_t now = time(nullptr);
    if (now != second) {
        tm local{};
        localtime_r(&now, &local);
        char buffer[32];
        strftime(buffer, sizeof buffer, "%d-%b-%y,%H:%M:%S,", &local);
        text = buffer;
        second = now;
    }
    return text;
}

struct Line {
    int Device = -1;
    std::string File;
    std::string Pending;
};

void Append(const std::string& file, const std::string& text) {
    const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = write(fd, text.data(), text.size());
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s DEVICE FILE [DEVICE FILE]...\n", argv[0]);
        return 2;
    }
    std::signal(SIGTERM, [](int) { stopping = 1; });
    std::signal(SIGINT, [](int) { stopping = 1; });
    std::vector<Line> lines;
    std::vector<pollfd> polls;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int fd = open(argv[i], O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::perror(argv[i]);
            return 1;
        }
        lines.push_back({fd, argv[i + 1], {}});
        polls.push_back({fd, POLLIN, 0});
    }
    char buffer[65536];
    while (!stopping) {
        if (poll(polls.data(), polls.size(), 200) <= 0)
            continue;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if ((polls[i].revents & POLLIN) == 0)
                continue;
            const ssize_t got = read(lines[i].Device, buffer, sizeof buffer);
            for (ssize_t k = 0; k < got; ++k) {
                const char c = buffer[k];
                if (c == '\n') {
                    Append(lines[i].File, Stamp() + lines[i].Pending + "\r\n");
                    lines[i].Pending.clear();
                } else if (c != '\r') {
                    lines[i].Pending.push_back(c);
                }
            }
        }
    }
    return 0;
}
