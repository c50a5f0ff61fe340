#include "tests/support/mosquitto_broker.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

sockaddr_in LocalAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool TakesConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LocalAddress(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs the program with its output into `output` (or /dev/null).
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int out =
        ::open(output.empty() ? "/dev/null" : output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// A broker or client that does not act on SIGTERM is killed after a few seconds, so that no test
// waits for it for ever.
void End(pid_t& pid, int signal) {
    if (pid <= 0)
        return;
    ::kill(pid, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

} // namespace

int FreeLocalPort() {
    // Below the kernel's range for outgoing connections, so that a broker stopped by a test finds
    // its port still free when it starts again, not taken by some client's connection.
    static std::minstd_rand pick(static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int port = 20000 + static_cast<int>(pick() % 12000);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = LocalAddress(port);
        const bool free =
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    return 0;
}

MosquittoBroker::MosquittoBroker() {
    char folder[] = "/tmp/tolvane-broker-XXXXXX";
    folder_ = ::mkdtemp(folder);
    port_ = FreeLocalPort();
    const passwd* user = ::getpwuid(::getuid());
    std::ofstream config(folder_ + "/mosquitto.conf");
    config << "listener " << port_ << " 127.0.0.1\n"
           << "allow_anonymous true\n"
           << "persistence true\n"
           << "persistence_location " << folder_ << "/\n"
           << "max_queued_messages 100000\n"
           << "user " << (user != nullptr ? user->pw_name : "root") << "\n";
    config.close();
    Start();
}

MosquittoBroker::~MosquittoBroker() {
    Stop();
    std::filesystem::remove_all(folder_);
}

bool MosquittoBroker::Start() {
    if (pid_ > 0)
        return true;
    pid_ = Spawn({"mosquitto", "-c", folder_ + "/mosquitto.conf"}, folder_ + "/mosquitto.log");
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!TakesConnections(port_)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "mosquitto never took connections on port " << port_;
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void MosquittoBroker::Stop() {
    End(pid_, SIGTERM);
}

TopicSubscriber::TopicSubscriber(const MosquittoBroker& broker, const std::string& filter) {
    static int count = 0;
    output_ = broker.Folder() + "/subscriber" + std::to_string(++count) + ".txt";
    const std::string id =
        "tolvane-test-subscriber-" + std::to_string(::getpid()) + "-" + std::to_string(count);
    pid_ = Spawn({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-q",
                  "1", "-c", "-i", id, "-v", "-t", filter, "-t", "$SYS/broker/version"},
                 output_);
}

TopicSubscriber::~TopicSubscriber() {
    End(pid_, SIGTERM);
}

bool TopicSubscriber::WaitUntilSubscribed() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        for (const auto& message : Messages())
            if (message.first == "$SYS/broker/version")
                return true;
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the subscriber never got its subscription";
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
}

std::vector<std::pair<std::string, std::string>> TopicSubscriber::Messages() const {
    std::ifstream in(output_);
    std::vector<std::pair<std::string, std::string>> messages;
    std::string line;
    // A line still being written has no line feed yet: it is left for the next look.
    while (std::getline(in, line) && !in.eof()) {
        const std::size_t space = line.find(' ');
        messages.emplace_back(line.substr(0, space),
                              space == std::string::npos ? std::string() : line.substr(space + 1));
    }
    return messages;
}
