#pragma once

#include "capture/line_capture.h"

class FormSet;

// What one line's capture takes from and gives to the windows: the line's own port and the store
// that its two views show.
class FormLineEndpoints : public LineEndpoints {
public:
    FormLineEndpoints(const FormSet& forms, int line);

    char TakeChar() override;
    void AddToViews(const std::string& reportLine) override;

private:
    const FormSet& forms_;
    int index_;
};
