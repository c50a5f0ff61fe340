#include "ui/form_set.h"

#include "ui/about_form.h"
#include "ui/easter_egg_form.h"
#include "ui/line_form.h"
#include "ui/main_form.h"
#include "ui/serial_form.h"
#include "ui/set_line_label_form.h"
#include "ui/stamping_form.h"

template <class Form> Form* FormSet::Add(std::unique_ptr<Form> form) {
    Form* created = form.get();
    windows_.push_back(std::move(form));
    return created;
}

FormSet::FormSet() {
    MainForm = Add(std::make_unique<TMainForm>(*this));
    // The About box is given its picture window when it is made, so the picture window comes
    // first of the two.
    EasterEggForm = Add(std::make_unique<TEasterEggForm>());
    AboutForm = Add(std::make_unique<TAboutForm>(EasterEggForm));
    SerialForm = Add(std::make_unique<TSerialForm>(*this));
    SetLineLabelForm = Add(std::make_unique<TSetLineLabelForm>(*this));
    StampingForm = Add(std::make_unique<TStampingForm>(*this));
    for (int line = 1; line <= LineCount; ++line)
        LineForms[line - 1] = Add(std::make_unique<TLineForm>(line));
}

FormSet::~FormSet() {
    // Last created first. The port dialog silences and closes its ports before any of its own
    // parts go, so no port event reaches a window that is gone.
    while (!windows_.empty())
        windows_.pop_back();
}

SettingsControls FormSet::Controls() const {
    SettingsControls controls;
    controls.LineGroups = MainForm->LineGroups;
    controls.Ports = SerialForm->Ports;
    controls.DateStampBoxes = StampingForm->DateStampBoxes;
    controls.TimeStampBoxes = StampingForm->TimeStampBoxes;
    controls.DelimiterBoxes = StampingForm->DelimiterBoxes;
    controls.Lines = &SerialForm->Lines;
    return controls;
}

std::vector<QWidget*> FormSet::Windows() const {
    std::vector<QWidget*> windows;
    for (const auto& window : windows_)
        windows.push_back(window.get());
    return windows;
}
