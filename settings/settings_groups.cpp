#include "settings/settings_groups.h"

#include "runtime/ansi_text.h"
#include "settings/profile.h"
#include "settings/profile_document.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>

namespace {

constexpr const char* LineLabelsSection = "LineLabels";
constexpr const char* ComPortSection = "ComPortSettings";
constexpr const char* StampingSection = "StampingSettings";
constexpr const char* DirectoriesSection = "Directories";

// One port setting of a line: its key (plus the line's letter), its list and its defaults.
struct PortKey {
    const char* Name;
    QComboBox* PortLists::*List;
    int DefaultLine1;
    int DefaultOtherLines;
};

// In the order in which each line's keys are written.
constexpr PortKey PortKeys[] = {
    {"ComPort", &PortLists::ComPort, 0, 16},  {"BaudRate", &PortLists::BaudRate, 3, 3},
    {"Parity", &PortLists::Parity, 0, 0},     {"DataBits", &PortLists::DataBits, 1, 1},
    {"StopBits", &PortLists::StopBits, 0, 0},
};

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

int ReadInteger(const ProfileDocument& document, const char* section, const std::string& key,
                int defaultValue) {
    const auto text = document.Find(section, key);
    const auto value = text ? ParseProfileInteger(*text) : std::nullopt;
    return value.value_or(defaultValue);
}

// An index outside the list leaves it with no selection.
void SelectIndex(QComboBox* list, int index) {
    if (list != nullptr)
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

int SelectedIndex(const QComboBox* list) {
    return list != nullptr ? list->currentIndex() : -1;
}

// Writes the keys of one group one by one, each reaching the file at once; the first key that
// cannot be written ends the group with the error, leaving the keys before it written.
class GroupWriter {
public:
    GroupWriter() : document_(ProfileDocument::Load(SettingsFileName())) {}

    void Write(const char* section, const std::string& key, const std::string& value) {
        document_.Set(section, key, value);
        if (!PrepareSettingsFolder() || !document_.Save())
            throw EIniFileException("Unable to write to " + SettingsFileName());
    }
    void WriteInteger(const char* section, const std::string& key, int value) {
        Write(section, key, std::to_string(value));
    }

private:
    ProfileDocument document_;
};

void RefreshDelimitersFromLists(const SettingsControls& controls) {
    if (controls.Lines == nullptr)
        return;
    std::array<int, LineCount> codes{};
    for (int i = 0; i < LineCount; ++i)
        codes[i] = SelectedIndex(controls.DelimiterBoxes[i]);
    RefreshDelimiters(*controls.Lines, codes);
}

bool LineInRange(int line) {
    return line >= 1 && line <= LineCount;
}

} // namespace

void LoadLineLabels(const SettingsControls& controls) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        const auto caption = document.Find(LineLabelsSection, "Line" + LineNumber(i));
        if (controls.LineGroups[i] != nullptr)
            controls.LineGroups[i]->setTitle(AnsiToQString(caption.value_or(DefaultCaption(i))));
    }
}

void SaveLineLabels(const SettingsControls& controls) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i) {
        const QGroupBox* group = controls.LineGroups[i];
        writer.Write(LineLabelsSection, "Line" + LineNumber(i),
                     group != nullptr ? QStringToAnsi(group->title()) : DefaultCaption(i));
    }
}

void LoadComPortSettings(const SettingsControls& controls) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        for (const PortKey& key : PortKeys) {
            const int fallback = i == 0 ? key.DefaultLine1 : key.DefaultOtherLines;
            SelectIndex(controls.Ports[i].*key.List,
                        ReadInteger(document, ComPortSection, key.Name + PortLetter(i), fallback));
        }
    }
}

void SaveComPortSettings(const SettingsControls& controls) {
    GroupWriter writer;
    for (int i = 0; i < LineCount; ++i) {
        for (const PortKey& key : PortKeys)
            writer.WriteInteger(ComPortSection, key.Name + PortLetter(i),
                                SelectedIndex(controls.Ports[i].*key.List));
    }
}

void LoadStampingSettings(const SettingsControls& controls) {
    const auto document = ProfileDocument::Load(SettingsFileName());
    for (int i = 0; i < LineCount; ++i) {
        const std::string n = LineNumber(i);
        const bool date = ReadInteger(document, StampingSection, "DateStamp" + n, 1) != 0;
        const bool time = ReadInteger(document, StampingSection, "TimeStamp" + n, 1) != 0;
        const int delimiter = ReadInteger(document, StampingSection, "Delimiter" + n, 0);
        if (controls.DateStampBoxes[i] != nullptr)
            controls.DateStampBoxes[i]->setChecked(date);
        if (controls.TimeStampBoxes[i] != nullptr)
            controls.TimeStampBoxes[i]->setChecked(time);
        SelectIndex(controls.DelimiterBoxes[i], delimiter);
    }
    RefreshDelimitersFromLists(controls);
}

void SaveStampingSettings(const SettingsControls& controls) {
    GroupWriter writer;
    const auto flag = [](const QCheckBox* box) { // a missing box keeps the default, on
        return box == nullptr || box->isChecked() ? "1" : "0";
    };
    for (int i = 0; i < LineCount; ++i) {
        const std::string n = LineNumber(i);
        writer.Write(StampingSection, "DateStamp" + n, flag(controls.DateStampBoxes[i]));
        writer.Write(StampingSection, "TimeStamp" + n, flag(controls.TimeStampBoxes[i]));
        writer.WriteInteger(StampingSection, "Delimiter" + n,
                            SelectedIndex(controls.DelimiterBoxes[i]));
    }
    RefreshDelimitersFromLists(controls);
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
}
