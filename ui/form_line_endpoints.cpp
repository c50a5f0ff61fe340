#include "ui/form_line_endpoints.h"

#include "ui/report_store.h"

char FormLineEndpoints::TakeChar() {
    BYTE c = 0;
    return dispatcher_ && dispatcher_->GetChar(c) == 0 ? static_cast<char>(c) : char{0};
}

void FormLineEndpoints::AddToViews(const std::string& reportLine) {
    // Without memory to show the line, it still went to its file.
    store_.Append(reportLine);
}

TPortThreadTriggerEvent LineCaptureOnPortThread(ProductionLine& line,
                                                std::shared_ptr<ReportStore> store) {
    return [&line, store = std::move(store)](TApdBaseDispatcher& dispatcher, UINT msg,
                                             std::uint16_t value) {
        FormLineEndpoints endpoints(&dispatcher, *store);
        if (msg == TriggerAvailMessage)
            HandleTriggerAvail(line, endpoints, value);
        else
            HandleTriggerData(line, endpoints, value);
    };
}
