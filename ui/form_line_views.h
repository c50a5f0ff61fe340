#pragma once

#include "capture/line_capture.h"

#include <memory>

class ReportStore;

// Where one line's capture shows its report lines: the store that its two views show. Used on the
// port's own threads: it touches no widget, and keeps the store while it lives.
class FormLineViews : public LineViews {
public:
    explicit FormLineViews(std::shared_ptr<ReportStore> store) : store_(std::move(store)) {}

    void AddToViews(const std::string& reportLine) override;

private:
    std::shared_ptr<ReportStore> store_;
};
