#pragma once

#include "broker/plant_broker.h"
#include "capture/production_line.h"
#include "lines/line_ports.h"

#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

class FormLineViews;
class TAboutForm;
class TEasterEggForm;
class TMainForm;
class TPlantBrokerForm;
class TPortDevicesForm;
class TReportFilesForm;
class TSerialForm;
class TSetLineLabelForm;
class TStampingForm;
class TLineForm;

// The program's production lines, their ports and its windows. The windows are created hidden, in
// the program's order, and live until the set is destroyed, last created first; the lines and
// their ports outlive them. The
// windows share what they know of a line through the lines, and reach another window through the
// set only to show it or to show a report line in it.
class FormSet {
public:
    FormSet();
    ~FormSet();
    FormSet(const FormSet&) = delete;
    FormSet& operator=(const FormSet&) = delete;

    ProductionLines Lines;
    // Forwarding to the plant's broker; destroyed after the ports, once they are silent.
    std::unique_ptr<PlantBroker> Broker;
    LinePorts Ports{Lines};
    TMainForm* MainForm = nullptr;
    TEasterEggForm* EasterEggForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TSerialForm* SerialForm = nullptr;
    TSetLineLabelForm* SetLineLabelForm = nullptr;
    TStampingForm* StampingForm = nullptr;
    TPortDevicesForm* PortDevicesForm = nullptr;
    TReportFilesForm* ReportFilesForm = nullptr;
    TPlantBrokerForm* PlantBrokerForm = nullptr;
    std::array<TLineForm*, LineCount> LineForms{};

    // The settings loaded into the lines and shown in every window, once: before the main window
    // first shows, so that its panels are right from the first paint.
    void LoadSettings();
    // The start-up sequence once the main window shows: the settings loaded unless they are, the
    // lines to resume started, then the ports set up.
    void StartUp();

    // The end of capture, as at Exit: every port falls silent and closes, then every writer
    // finishes, and what cannot be written is saved beside the settings. Once; the windows stay.
    void StopCapture();

    // The settings file's folder, where the report lines still held at the end are saved.
    static std::string UnsavedFolder();

    // Every window, in the order of creation.
    std::vector<QWidget*> Windows() const;

private:
    template <class Form> Form* Add(std::unique_ptr<Form> form);

    std::vector<std::unique_ptr<QWidget>> windows_;
    bool captureStopped_ = false;
    bool settingsLoaded_ = false;
    // Where each line's capture shows its report lines.
    std::array<std::unique_ptr<FormLineViews>, LineCount> views_;
};
