#pragma once

#include "settings/settings_groups.h"

#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class TAboutForm;
class TEasterEggForm;
class TMainForm;
class TSerialForm;
class TSetLineLabelForm;
class TStampingForm;
class TLineForm;

// The program's windows. All are created hidden, in the program's order, and live until the set
// is destroyed, last created first. Each window reaches the others through the set when its
// handlers need them.
class FormSet {
public:
    FormSet();
    ~FormSet();
    FormSet(const FormSet&) = delete;
    FormSet& operator=(const FormSet&) = delete;

    TMainForm* MainForm = nullptr;
    TEasterEggForm* EasterEggForm = nullptr;
    TAboutForm* AboutForm = nullptr;
    TSerialForm* SerialForm = nullptr;
    TSetLineLabelForm* SetLineLabelForm = nullptr;
    TStampingForm* StampingForm = nullptr;
    std::array<TLineForm*, LineCount> LineForms{};

    // The controls that hold the settings groups, for the settings operations.
    SettingsControls Controls() const;

    // Every window, in the order of creation.
    std::vector<QWidget*> Windows() const;

private:
    template <class Form> Form* Add(std::unique_ptr<Form> form);

    std::vector<std::unique_ptr<QWidget>> windows_;
};
