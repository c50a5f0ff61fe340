#pragma once

#include "capture/line_capture.h"
#include "serial/apd_com_port.h"

#include <memory>

class ReportStore;

// What one line's capture takes from its port and gives to the store that its two views show.
// Used on the port's dispatch thread: it touches no widget.
class FormLineEndpoints : public LineEndpoints {
public:
    // Without a dispatcher no byte is taken.
    FormLineEndpoints(TApdBaseDispatcher* dispatcher, ReportStore& store)
        : dispatcher_(dispatcher), store_(store) {}

    char TakeChar() override;
    void AddToViews(const std::string& reportLine) override;

private:
    TApdBaseDispatcher* dispatcher_;
    ReportStore& store_;
};

// The line's capture pipeline as its port's dispatch thread runs it: the characters-available and
// the LF data trigger complete, stamp and hand over the report lines there, never waiting for the
// GUI thread. The line and the store outlive the port's threads.
TPortThreadTriggerEvent LineCaptureOnPortThread(ProductionLine& line,
                                                std::shared_ptr<ReportStore> store);
