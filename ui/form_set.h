#pragma once

#include "broker/plant_broker.h"
#include "capture/production_line.h"

#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class TAboutForm;
class TEasterEggForm;
class TMainForm;
class TPlantBrokerForm;
class TPortDevicesForm;
class TSerialForm;
class TSetLineLabelForm;
class TStampingForm;
class TLineForm;

// The program's production lines and its windows. The windows are created hidden, in the program's
// order, and live until the set is destroyed, last created first; the lines outlive them. The
// windows share what they know of a line through the lines, and reach another window through the
// set only to show it or to show a report line in it.
class FormSet {
public:
    FormSet();
    ~FormSet();
    FormSet(const FormSet&) = delete;
    FormSet& operator=(const FormSet&) = delete;

    ProductionLines Lines;
    // Forwarding to the plant's broker; destroyed after the ports have fallen silent.
    std::unique_ptr<PlantBroker> Broker;
    TMainForm* MainForm = nullptr;
    TEasterEggForm* EasterEggForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TSerialForm* SerialForm = nullptr;
    TSetLineLabelForm* SetLineLabelForm = nullptr;
    TStampingForm* StampingForm = nullptr;
    TPortDevicesForm* PortDevicesForm = nullptr;
    TPlantBrokerForm* PlantBrokerForm = nullptr;
    std::array<TLineForm*, LineCount> LineForms{};

    // The start-up sequence once the main window shows: the settings loaded into the lines and
    // shown in every window, then the ports set up.
    void StartUp();

    // Every window, in the order of creation.
    std::vector<QWidget*> Windows() const;

private:
    template <class Form> Form* Add(std::unique_ptr<Form> form);

    std::vector<std::unique_ptr<QWidget>> windows_;
};
