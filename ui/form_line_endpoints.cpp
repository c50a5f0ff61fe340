#include "ui/form_line_endpoints.h"

#include "runtime/ansi_text.h"
#include "serial/apd_com_port.h"
#include "ui/form_set.h"
#include "ui/line_form.h"
#include "ui/main_form.h"
#include "ui/report_view.h"
#include "ui/serial_form.h"

FormLineEndpoints::FormLineEndpoints(const FormSet& forms, int line)
    : forms_(forms), index_(line - 1) {}

char FormLineEndpoints::TakeChar() {
    return forms_.SerialForm->ComPorts[index_]->GetChar();
}

void FormLineEndpoints::AddToViews(const std::string& reportLine) {
    const QString text = AnsiToQString(reportLine);
    forms_.MainForm->LineWindows[index_]->AddLine(text);
    forms_.LineForms[index_]->LineWindow->AddLine(text);
}
