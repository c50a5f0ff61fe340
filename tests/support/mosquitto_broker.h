#pragma once
// A real Mosquitto broker for a test: started on 127.0.0.1 on a free port with a configuration
// file and a persistence folder of its own, stopped and started again on the same port; and a
// subscriber (mosquitto_sub) whose messages the test reads.

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A TCP port on 127.0.0.1 that nothing listens on just now.
int FreeLocalPort();

class MosquittoBroker {
public:
    MosquittoBroker();
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int Port() const { return port_; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    // Starts it and waits until it takes connections; false (with a test failure) if it never
    // does.
    bool Start();
    // Ends it as its service would (SIGTERM), keeping its sessions for the next start.
    void Stop();
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// mosquitto_sub on one topic filter, QoS 1, with a session the broker keeps while it is away.
class TopicSubscriber {
public:
    TopicSubscriber(const MosquittoBroker& broker, const std::string& filter);
    ~TopicSubscriber();
    TopicSubscriber(const TopicSubscriber&) = delete;
    TopicSubscriber& operator=(const TopicSubscriber&) = delete;

    // Waits until the broker has taken the subscription; false (with a test failure) if not.
    bool WaitUntilSubscribed();
    // Every message so far, topic and payload, in order of arrival.
    std::vector<std::pair<std::string, std::string>> Messages() const;

private:
    std::string output_;
    pid_t pid_ = -1;
};
