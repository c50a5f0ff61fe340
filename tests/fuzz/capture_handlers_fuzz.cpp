// The capture handlers against "split at LF, drop CR": bytes arrive in chunks split anywhere and
// are announced as the serial layer announces them (at each LF the bytes before it, then the
// trigger; at a chunk's end everything left), with foreign triggers and empty announcements mixed
// in and the line started and stopped between report lines.
#include "tests/fuzz/capture_line_glue.h"

#include <fstream>
#include <iterator>
#include <utility>

namespace {

constexpr std::size_t RingSize = 8192; // no announcement offers more than the receive ring holds

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Expected {
    std::vector<std::string> Lines; // every completed line, started or not
    std::string Pending;
};

Expected SplitAtLineFeeds(const std::string& bytes) {
    Expected expected;
    for (char c : bytes) {
        if (c == '\n')
            expected.Lines.push_back(std::exchange(expected.Pending, {}));
        else if (c != '\r')
            expected.Pending += c;
    }
    return expected;
}

} // namespace

void FuzzCaptureHandlers(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return;
    FuzzChoices choices(data[0]);
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string reportFile = FuzzScratchDir() + "/report.txt";
    FuzzCaptureLine& line = FuzzCaptureLine::Fresh(reportFile);

    std::vector<bool> startedAtLine;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t chunk = 1 + choices.Below(std::min(bytes.size() - at, RingSize));
        const std::size_t end = at + chunk;
        line.Receive(bytes.substr(at, chunk));
        std::size_t scanned = line.Unread() - chunk; // bytes before this chunk, already offered: 0
        for (std::size_t i = at; i < end; ++i, ++scanned) {
            if (choices.Below(16) == 0)
                line.Data(FuzzCaptureLine::Trigger + 8); // another trigger's event changes nothing
            if (bytes[i] != '\n')
                continue;
            if (scanned > 0)
                line.Avail(static_cast<std::uint16_t>(scanned));
            line.SetStarted(choices.Below(4) != 0);
            startedAtLine.push_back(line.Started());
            line.Data(FuzzCaptureLine::Trigger);
            scanned = 0; // the LF is still unread and comes first in the next announcement
        }
        if (choices.Below(8) == 0)
            line.Avail(0);
        line.Avail(static_cast<std::uint16_t>(line.Unread()));
        at = end;
    }

    const Expected expected = SplitAtLineFeeds(bytes);
    std::vector<std::string> shown;
    std::string file;
    for (std::size_t i = 0; i < expected.Lines.size(); ++i) {
        if (!startedAtLine[i])
            continue;
        shown.push_back(expected.Lines[i]);
        file += expected.Lines[i] + "\r\n";
    }
    FuzzExpect(line.Unread() == 0, "every announced byte is taken");
    FuzzExpect(line.Pending() == expected.Pending, "text after the last LF waits for the next");
    FuzzExpect(line.Views == shown, "the views show the started lines, split at LF, CR dropped");
    FuzzExpect(line.ReportsWritten(), "every report line is written");
    FuzzExpect(ReadFile(reportFile) == file,
               "the report file holds the started lines, CR LF ended");
    line.Release();
}
