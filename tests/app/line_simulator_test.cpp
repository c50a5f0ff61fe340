#include "app/line_simulator.h"

#include "serial/platform/port_map.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

TEST(LineSimulatorTest, ReportsLookLikeAProductionLineAndDifferPerLine) {
    for (int line = 1; line <= 8; ++line) {
        const std::string report = LineSimulator::MakeReport(line, 42, 7);
        unsigned lot = 0, sequence = 0, count = 0;
        int station = 0, consumed = 0;
        char name[16] = {}, result[8] = {};
        ASSERT_EQ(std::sscanf(report.c_str(), "LOT %6u %15[A-Z]-%d SEQ %5u COUNT %u %7[A-Z]%n",
                              &lot, name, &station, &sequence, &count, result, &consumed),
                  6)
            << report;
        EXPECT_EQ(station, line);
        EXPECT_EQ(sequence, 42u);
        EXPECT_TRUE(std::string(result) == "PASS" || std::string(result) == "FAIL") << report;
        EXPECT_EQ(report.substr(static_cast<size_t>(consumed)), "\r\n") << report;
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
