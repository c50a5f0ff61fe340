#include "settings/settings_groups.h"

#include "settings/profile.h"
#include "settings/profile_document.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdio>
#include <exception>
#include <iterator>
#include <mutex>
#include <vector>

namespace {

constexpr const char* LineLabelsSection = "LineLabels";
constexpr const char* ComPortSection = "ComPortSettings";
constexpr const char* StampingSection = "StampingSettings";
constexpr const char* DirectoriesSection = "Directories";
constexpr const char* PortDevicesSection = "PortDevices";
constexpr const char* CaptureSection = "Capture";
constexpr const char* BrokerSection = "Broker";

// The port settings' keys (plus the line's letter), in the order of PortSettingKinds.
constexpr const char* PortKeyNames[] = {"ComPort", "BaudRate", "Parity", "DataBits", "StopBits"};
static_assert(std::size(PortKeyNames) == PortSettingKinds.size());

// "1".."8" for keys such as Line3 and DateStamp3; index 0..7.
std::string LineNumber(int index) {
    return std::to_string(index + 1);
}

// No letter for line 1, B to H for lines 2 to 8.
std::string PortLetter(int index) {
    return index == 0 ? std::string() : std::string(1, static_cast<char>('A' + index));
}

std::string DefaultCaption(int index) {
    return "Line " + LineNumber(index);
}

std::mutex unreadableMutex;
std::vector<std::string> unreadableValues; // as the operator is told them, in the order read

// The value as a message can show it: no control bytes, and not more than a line of text.
std::string Shown(const std::string& value) {
    constexpr std::size_t MaxShown = 40;
    std::string shown = value.substr(0, MaxShown);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return value.size() > MaxShown ? shown + "..." : shown;
}

// keep: what an unreadable value leaves the setting at instead of its default.
int ReadInteger(const ProfileDocument& document, const char* section, const std::string& key,
                int defaultValue, std::optional<int> keep = std::nullopt) {
    const auto text = document.Find(section, key);
    if (!text)
        return defaultValue;
    if (const auto value = ParseProfileInteger(*text))
        return *value;
    const std::string noted = std::string("[") + section + "] " + key + "=" + Shown(*text) +
                              (keep ? ", kept as it was" : ", taken as its default");
    std::lock_guard lock(unreadableMutex);
    if (std::find(unreadableValues.begin(), unreadableValues.end(), noted) ==
        unreadableValues.end())
        unreadableValues.push_back(noted);
    return keep.value_or(defaultValue);
}

std::optional<int> Kept(UnreadableValues unreadable, int current) {
    return unreadable == UnreadableValues::Kept ? std::optional<int>(current) : std::nullopt;
}

// An index outside the list leaves it with no selection.
int ListIndex(int index, int choices) {
    return index >= 0 && index < choices ? index : -1;
}

// Writes the keys of one group one by one, each reaching the file at once; the first key that
// cannot be written ends the group with the error, leaving the keys before it written.
class GroupWriter {
public:
    GroupWriter() : document_(ProfileDocument::Load(SettingsFileName())) {}
    GroupWriter(const GroupWriter&) = delete;
    GroupWriter& operator=(const GroupWriter&) = delete;
    // A group that was changed and never committed is a mistake of ours, not of the file.
    ~GroupWriter() { assert(committed_ || std::uncaught_exceptions() > 0); }

    void Write(const char* section, const std::string& key, const std::string& value) {
        document_.Set(section, key, value);
    }
    void WriteInteger(const char* section, const std::string& key, int value) {
        Write(section, key, std::to_string(value));
    }
    void Remove(const char* section, const std::string& key) { document_.Remove(section, key); }
    // One replace of the file for the whole group: a key at a time cost the port dialog's OK
    // forty synced rewrites, and a failure part-way left half a group written.
    void Commit() {
        committed_ = true;
        if (!PrepareSettingsFolder() || !document_.Save())
            throw EIniFileException("Unable to write to " + SettingsFileName());
    }

private:
    ProfileDocument document_;
    bool committed_ = false;
};

// A value in matching quotes loses them, as the port map reads it.
std::string Unquoted(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool LineInRange(int line) {
    return line >= 1 && line <= LineCount;
}

} // namespace

void LoadLineLabels(ProductionLines& lines) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        const auto caption = document.Find(LineLabelsSection, "Line" + LineNumber(i));
        lines.SetCaption(i + 1, caption.value_or(DefaultCaption(i)));
    }
}

void SaveLineLabels(const ProductionLines& lines) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i)
        writer.Write(LineLabelsSection, "Line" + LineNumber(i), lines.Line(i + 1).Caption);
    writer.Commit();
}

void LoadComPortSettings(ProductionLines& lines, UnreadableValues unreadable) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        PortSettings& port = lines.Line(i + 1).Port;
        for (std::size_t k = 0; k < PortSettingKinds.size(); ++k) {
            const PortSettingKind& kind = PortSettingKinds[k];
            const int index = ReadInteger(document, ComPortSection, PortKeyNames[k] + PortLetter(i),
                                          kind.Default(i + 1), Kept(unreadable, port.*kind.Index));
            port.*kind.Index = ListIndex(index, kind.Choices);
        }
    }
}

void SaveComPortSettings(const ProductionLines& lines) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i) {
        const PortSettings& port = lines.Line(i + 1).Port;
        for (std::size_t k = 0; k < PortSettingKinds.size(); ++k)
            writer.WriteInteger(ComPortSection, PortKeyNames[k] + PortLetter(i),
                                port.*PortSettingKinds[k].Index);
    }
    writer.Commit();
}

void LoadStampingSettings(ProductionLines& lines, UnreadableValues unreadable) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        const std::string n = LineNumber(i);
        ProductionLine& line = lines.Line(i + 1);
        line.DateStamp = ReadInteger(document, StampingSection, "DateStamp" + n, 1,
                                     Kept(unreadable, line.DateStamp ? 1 : 0)) != 0;
        line.TimeStamp = ReadInteger(document, StampingSection, "TimeStamp" + n, 1,
                                     Kept(unreadable, line.TimeStamp ? 1 : 0)) != 0;
        line.DelimiterCode = ListIndex(ReadInteger(document, StampingSection, "Delimiter" + n, 0,
                                                   Kept(unreadable, line.DelimiterCode)),
                                       DelimiterChoices);
    }
    RefreshDelimiters(lines);
}

void SaveStampingSettings(ProductionLines& lines) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i) {
        const std::string n = LineNumber(i);
        const ProductionLine& line = lines.Line(i + 1);
        writer.Write(StampingSection, "DateStamp" + n, line.DateStamp ? "1" : "0");
        writer.Write(StampingSection, "TimeStamp" + n, line.TimeStamp ? "1" : "0");
        writer.WriteInteger(StampingSection, "Delimiter" + n, line.DelimiterCode);
    }
    writer.Commit();
    RefreshDelimiters(lines);
}

void LoadReportDirectory(int line, std::string& initialDir) {
    if (!LineInRange(line))
        return;
    const auto document = ProfileDocument::Load(SettingsFileName());
    initialDir = document.Find(DirectoriesSection, "Line" + LineNumber(line - 1)).value_or("");
}

void SaveReportDirectory(int line, const std::string& fileName) {
    if (!LineInRange(line))
        return;
    // The folder keeps its trailing separator; a bare file name has no folder.
    const std::size_t slash = fileName.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    GroupWriter writer;
    writer.Write(DirectoriesSection, "Line" + LineNumber(line - 1), folder);
    writer.Commit();
}

PortDeviceNames LoadPortDevices() {
    const auto document = ProfileDocument::Load(SettingsFileName());
    PortDeviceNames devices;
    for (int n = 1; n <= PortDeviceCount; ++n)
        devices[n - 1] =
            Unquoted(document.Find(PortDevicesSection, "COM" + std::to_string(n)).value_or(""));
    return devices;
}

void SavePortDevices(const PortDeviceNames& devices) {
    GroupWriter writer;
    for (int n = 1; n <= PortDeviceCount; ++n) {
        const std::string key = "COM" + std::to_string(n);
        const std::string& device = devices[n - 1];
        if (device.empty())
            writer.Remove(PortDevicesSection, key);
        else
            writer.Write(PortDevicesSection, key, device);
    }
    writer.Commit();
}

std::string TakeUnreadableValuesText() {
    std::vector<std::string> values;
    {
        std::lock_guard lock(unreadableMutex);
        values.swap(unreadableValues);
    }
    if (values.empty())
        return std::string();
    std::string text = "The settings file " + SettingsFileName() + " has " +
                       (values.size() == 1 ? "a value that is" : "values that are") +
                       " not a whole number: ";
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i > 0 ? "; " : "") + values[i];
    return text + ".";
}

bool LoadResumeAtStartup() {
    const auto document = ProfileDocument::Load(SettingsFileName());
    return ReadInteger(document, CaptureSection, "ResumeAtStartup", 0) != 0;
}

void SaveResumeAtStartup(bool resume) {
    GroupWriter writer;
    writer.Write(CaptureSection, "ResumeAtStartup", resume ? "1" : "0");
    writer.Commit();
}

std::string LoadResumeReportFile(int line) {
    if (!LineInRange(line))
        return std::string();
    const auto document = ProfileDocument::Load(SettingsFileName());
    return document.Find(CaptureSection, "ReportFile" + LineNumber(line - 1)).value_or("");
}

int LoadViewLimitMB() {
    // Up to a terabyte; past that a size_t of bytes would not be sure to hold it.
    constexpr int MaxMB = 1 << 20;
    const auto document = ProfileDocument::Load(SettingsFileName());
    const int mb = ReadInteger(document, CaptureSection, "ViewLimitMB", DefaultViewLimitMB);
    return mb >= 1 && mb <= MaxMB ? mb : DefaultViewLimitMB;
}

void SaveResumeReportFile(int line, const std::string& fileName) {
    if (!LineInRange(line))
        return;
    GroupWriter writer;
    writer.Write(CaptureSection, "ReportFile" + LineNumber(line - 1), fileName);
    writer.Commit();
}

std::optional<int> ParseTimeOfDay(const std::string& text) {
    const std::size_t colon = text.find(':');
    const auto digits = [&text](std::size_t from, std::size_t to) {
        return from < to && std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                                        text.begin() + static_cast<std::ptrdiff_t>(to),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    if (colon == std::string::npos || colon > 2 || text.size() != colon + 3 || !digits(0, colon) ||
        !digits(colon + 1, text.size()))
        return std::nullopt;
    const int hours = std::stoi(text.substr(0, colon));
    const int minutes = std::stoi(text.substr(colon + 1));
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return hours * 60 + minutes;
}

std::string TimeOfDayText(int minutes) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", (minutes / 60) % 24, minutes % 60);
    return text;
}

void LoadReportFileSettings(ProductionLines& lines) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    const int newFileAt =
        ParseTimeOfDay(document.Find(CaptureSection, "NewFileAt").value_or("")).value_or(0);
    for (int i = 0; i < LineCount; ++i) {
        const std::string n = LineNumber(i);
        ProductionLine& line = lines.Line(i + 1);
        line.NewFileEachDay.Store(ReadInteger(document, CaptureSection, "NewFileEachDay" + n, 0) !=
                                  0);
        line.NewFileAt.Store(newFileAt);
        line.SilenceMinutes = std::clamp(
            ReadInteger(document, CaptureSection, "SilenceMinutes" + n, 0), 0, MaxSilenceMinutes);
    }
}

void SaveReportFileSettings(const ProductionLines& lines) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i)
        writer.Write(CaptureSection, "NewFileEachDay" + LineNumber(i),
                     lines.Line(i + 1).NewFileEachDay.Load() ? "1" : "0");
    writer.Write(CaptureSection, "NewFileAt", TimeOfDayText(lines.Line(1).NewFileAt.Load()));
    for (int i = 0; i < LineCount; ++i)
        writer.WriteInteger(CaptureSection, "SilenceMinutes" + LineNumber(i),
                            lines.Line(i + 1).SilenceMinutes);
    writer.Commit();
}

BrokerSettings LoadBrokerSettings() {
    const auto document = ProfileDocument::Load(SettingsFileName());
    const auto text = [&](const char* key) {
        return document.Find(BrokerSection, key).value_or("");
    };
    BrokerSettings broker;
    broker.Enabled = ReadInteger(document, BrokerSection, "Enabled", 0) != 0;
    broker.Url = text("Url");
    broker.TopicPrefix = text("TopicPrefix");
    broker.ClientId = text("ClientId");
    broker.Username = text("Username");
    broker.Password = text("Password");
    return broker;
}

void SaveBrokerSettings(const BrokerSettings& broker) {
    GroupWriter writer;
    writer.Write(BrokerSection, "Enabled", broker.Enabled ? "1" : "0");
    writer.Write(BrokerSection, "Url", broker.Url);
    writer.Write(BrokerSection, "TopicPrefix", broker.TopicPrefix);
    writer.Write(BrokerSection, "ClientId", broker.ClientId);
    writer.Write(BrokerSection, "Username", broker.Username);
    if (broker.Password.empty())
        writer.Remove(BrokerSection, "Password");
    else
        writer.Write(BrokerSection, "Password", broker.Password);
    writer.Commit();
}
