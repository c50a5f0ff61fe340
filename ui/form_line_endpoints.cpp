#include "ui/form_line_endpoints.h"

#include "runtime/ansi_text.h"
#include "serial/apd_com_port.h"
#include "ui/form_set.h"
#include "ui/line_form.h"
#include "ui/main_form.h"
#include "ui/report_view.h"
#include "ui/save_dialog.h"
#include "ui/serial_form.h"
#include "ui/stamping_form.h"

#include <QCheckBox>
#include <QToolButton>

FormLineEndpoints::FormLineEndpoints(const FormSet& forms, int line)
    : forms_(forms), index_(line - 1) {}

char FormLineEndpoints::TakeChar() {
    return forms_.SerialForm->ComPorts[index_]->GetChar();
}

bool FormLineEndpoints::DateStampChecked() const {
    return forms_.StampingForm->DateStampBoxes[index_]->isChecked();
}

bool FormLineEndpoints::TimeStampChecked() const {
    return forms_.StampingForm->TimeStampBoxes[index_]->isChecked();
}

bool FormLineEndpoints::Started() const {
    return forms_.MainForm->StartLineBtns[index_]->isChecked();
}

void FormLineEndpoints::AddToViews(const std::string& reportLine) {
    const QString text = AnsiToQString(reportLine);
    forms_.MainForm->LineWindows[index_]->AddLine(text);
    forms_.LineForms[index_]->LineWindow->AddLine(text);
}

std::string FormLineEndpoints::ReportFileName() const {
    return forms_.MainForm->SaveDialogs[index_]->FileName;
}
