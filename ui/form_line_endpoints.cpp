#include "ui/form_line_endpoints.h"

#include "serial/apd_com_port.h"
#include "ui/form_set.h"
#include "ui/main_form.h"
#include "ui/report_view.h"

FormLineEndpoints::FormLineEndpoints(const FormSet& forms, int line)
    : forms_(forms), index_(line - 1) {}

char FormLineEndpoints::TakeChar() {
    return forms_.Ports.ComPorts[index_]->GetChar();
}

void FormLineEndpoints::AddToViews(const std::string& reportLine) {
    // The expanded view shows the same store. Without memory to show the line, it still goes to
    // its file.
    forms_.MainForm->LineWindows[index_]->Store().Append(reportLine);
}
