#pragma once
// The operations that move one settings group between the settings file and the production lines
// (or, for the port devices, the dialog) that hold it. A group is written whole or not at all; a
// failed write raises EIniFileException.

#include "capture/production_line.h"

#include <array>
#include <optional>
#include <string>

void LoadLineLabels(ProductionLines& lines);
void SaveLineLabels(const ProductionLines& lines);
// A value that is there but is no whole number ("ComPortB=xyz") reads as its key's default, or,
// with UnreadableValues::Kept, as what the line has: a reading again after a slip of the hand
// then leaves a running line as it was. Every such value is noted for TakeUnreadableValuesText.
enum class UnreadableValues { Default, Kept };
void LoadComPortSettings(ProductionLines& lines,
                         UnreadableValues unreadable = UnreadableValues::Default);
void SaveComPortSettings(const ProductionLines& lines);
// Both end by recomputing the lines' delimiter characters from their codes.
void LoadStampingSettings(ProductionLines& lines,
                          UnreadableValues unreadable = UnreadableValues::Default);
void SaveStampingSettings(ProductionLines& lines);
// Line 1..8; other numbers do nothing.
void LoadReportDirectory(int line, std::string& initialDir);
void SaveReportDirectory(int line, const std::string& fileName);

// The devices that the operator named for COM1 to COM16 (section PortDevices), index n - 1; empty
// where the port keeps its default device.
constexpr int PortDeviceCount = 16;
using PortDeviceNames = std::array<std::string, PortDeviceCount>;
PortDeviceNames LoadPortDevices();
// Writes COM1 to COM16; the key of an empty name is removed.
void SavePortDevices(const PortDeviceNames& devices);

// The values noted as no whole numbers since the last call, each once, as one sentence that names
// the settings file and what became of each; empty when there was none.
std::string TakeUnreadableValuesText();

// Section Capture: whether lines resume at start-up (default no), and the report file each line
// last started with, empty once it was stopped or turned off. Line 1..8.
bool LoadResumeAtStartup();
void SaveResumeAtStartup(bool resume);
std::string LoadResumeReportFile(int line);
// [Capture] ViewLimitMB: the MiB of report text that each line's views hold at most, 64 unless a
// whole number from 1 on is given. Read only: the file keeps what the operator wrote.
constexpr int DefaultViewLimitMB = 64;
int LoadViewLimitMB();
void SaveResumeReportFile(int line, const std::string& fileName);

// Section Capture, as the Report Files dialog writes it, whole: NewFileEachDay1..8 (default 0),
// NewFileAt (hh:mm, default 00:00, one time for every line) and SilenceMinutes1..8 (default 0,
// off). A time that is not hh:mm within a day reads as 00:00; minutes are kept to
// 0..MaxSilenceMinutes.
constexpr int MaxSilenceMinutes = 99999;
void LoadReportFileSettings(ProductionLines& lines);
void SaveReportFileSettings(const ProductionLines& lines);
// "06:30" is 390 minutes after midnight; "6:30" too. Anything else is nullopt.
std::optional<int> ParseTimeOfDay(const std::string& text);
// 390 gives "06:30".
std::string TimeOfDayText(int minutes);

// Section Broker: where report lines are forwarded to, as the settings file holds it. Empty
// values stand for the defaults, which the forwarder resolves (its port from the scheme, the
// topic prefix and client id from the host name).
struct BrokerSettings {
    bool Enabled = false;
    std::string Url;
    std::string TopicPrefix;
    std::string ClientId;
    std::string Username;
    std::string Password;

    bool operator==(const BrokerSettings&) const = default;
};
BrokerSettings LoadBrokerSettings();
// The file is written with mode 0600 while it holds a password.
void SaveBrokerSettings(const BrokerSettings& broker);
