#include "app/line_simulator.h"

#include "serial/platform/port_map.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <unistd.h>

TEST(LineSimulatorTest, ReportsLookLikeAProductionLineAndDifferPerLine) {
    const std::regex shape(R"(LOT \d{6} [A-Z]+-[1-8] SEQ \d{5} COUNT [ \d]{3} (PASS|FAIL)\r\n)");
    for (int line = 1; line <= 8; ++line) {
        const std::string report = LineSimulator::MakeReport(line, 42, 7);
        EXPECT_TRUE(std::regex_match(report, shape)) << report;
        EXPECT_NE(report.find("-" + std::to_string(line) + " "), std::string::npos) << report;
    }
    EXPECT_EQ(LineSimulator::MakeReport(3, 9, 1), LineSimulator::MakeReport(3, 9, 1));
}

TEST(LineSimulatorTest, PutsItsLinesIntoThePortMapAndSendsReportsOnThem) {
    LineSimulator simulator;
    ASSERT_TRUE(simulator.Start(2)) << simulator.Error();
    const auto paths = simulator.DevicePaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(PortDevicePath(1), paths[0]);
    EXPECT_EQ(PortDevicePath(2), paths[1]);

    const int fd = open(paths[0].c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.find("\r\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buffer[256];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    EXPECT_NE(received.find("LOT "), std::string::npos) << received;
    EXPECT_NE(received.find("\r\n"), std::string::npos);

    simulator.Stop();
    EXPECT_NE(PortDevicePath(1), paths[0]); // the overrides are gone with the simulator
}
