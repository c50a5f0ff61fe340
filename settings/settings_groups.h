#pragma once
// The eight operations that move one settings group between the settings file and the controls
// that hold it. A failed write raises EIniFileException at the failing key.

#include "capture/line_capture.h"

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;

struct PortLists {
    QComboBox* ComPort = nullptr;
    QComboBox* BaudRate = nullptr;
    QComboBox* Parity = nullptr;
    QComboBox* DataBits = nullptr;
    QComboBox* StopBits = nullptr;
};

// The controls that hold the settings between loads and saves, per line 1..8 at index 0..7.
struct SettingsControls {
    std::array<QGroupBox*, LineCount> LineGroups{}; // main window captions
    std::array<PortLists, LineCount> Ports{};       // port dialog lists
    std::array<QCheckBox*, LineCount> DateStampBoxes{};
    std::array<QCheckBox*, LineCount> TimeStampBoxes{};
    std::array<QComboBox*, LineCount> DelimiterBoxes{};
    CaptureLines* Lines = nullptr; // whose delimiters follow the lists
};

void LoadLineLabels(const SettingsControls& controls);
void SaveLineLabels(const SettingsControls& controls);
void LoadComPortSettings(const SettingsControls& controls);
void SaveComPortSettings(const SettingsControls& controls);
void LoadStampingSettings(const SettingsControls& controls);
void SaveStampingSettings(const SettingsControls& controls);
// Line 1..8; other numbers do nothing.
void LoadReportDirectory(int line, std::string& initialDir);
void SaveReportDirectory(int line, const std::string& fileName);
