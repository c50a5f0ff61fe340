#pragma once

#include "capture/line_capture.h"

class FormSet;

// What one line's capture reads and writes in the windows: the line's own port, its stamping
// check boxes, its start button, its two views and its save dialog's file name.
class FormLineEndpoints : public LineEndpoints {
public:
    FormLineEndpoints(const FormSet& forms, int line);

    char TakeChar() override;
    bool DateStampChecked() const override;
    bool TimeStampChecked() const override;
    bool Started() const override;
    void AddToViews(const std::string& reportLine) override;
    std::string ReportFileName() const override;

private:
    const FormSet& forms_;
    int index_;
};
