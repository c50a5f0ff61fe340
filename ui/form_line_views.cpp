#include "ui/form_line_views.h"

#include "ui/report_store.h"

void FormLineViews::AddToViews(const std::string& reportLine) {
    // Without memory to show the line, it still went to its file.
    store_->Append(reportLine);
}
