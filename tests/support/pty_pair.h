#pragma once
// A pseudo-terminal pair standing in for a serial line: the slave is put into the port map as
// COMn, so the serial layer opens it like a port; the test plays the other end of the line on the
// master, whose line discipline is raw, so bytes pass both ways unchanged. The helper keeps a
// descriptor of the slave too, so the terminal and its settings outlive the serial layer's opens
// and closes.

#include <chrono>
#include <cstddef>
#include <string>

class PtyPair {
public:
    explicit PtyPair(int comNumber);
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    // Closes both ends and clears the port map's entry.
    ~PtyPair();

    int ComNumber() const { return comNumber_; }
    const std::string& SlavePath() const { return slavePath_; }
    // "\\.\COMn", the name the serial layer opens.
    std::string DeviceName() const;

    // Sends bytes down the line. The slave holds only about 4 KiB: the rest goes as the reader
    // makes room. False (with a test failure) when nothing could be written for `patience`.
    bool Write(const std::string& bytes,
               std::chrono::milliseconds patience = std::chrono::seconds(20));
    // As many of the bytes as the slave takes now, without waiting; returns how many.
    std::size_t WriteSome(const std::string& bytes);
    // What the serial layer sent: waits until count bytes came or `patience` passed without any.
    std::string Read(std::size_t count,
                     std::chrono::milliseconds patience = std::chrono::seconds(20));
    // Bytes the serial layer sent that are waiting now, without waiting.
    std::string ReadAvailable();

    // Bytes sent down the line that no reader of the slave has taken yet.
    std::size_t Unread() const;
    // The baud rate the slave is set to, as a termios speed (B9600 ...).
    unsigned BaudSetting() const;

    // Unplugs the line: closes the master; bytes not yet read by the slave are lost.
    void Close();

private:
    int comNumber_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
