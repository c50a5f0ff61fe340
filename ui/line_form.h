#pragma once

#include "ui/fixed_dialog.h"

class ProductionLines;
class QGroupBox;
class TReportView;

// A line's expanded view: a large window with the same report lines as the line's small view,
// long ones wrapped. One class, one window per line (TLine1Form to TLine8Form), captioned with the
// line's caption.
class TLineForm : public TFixedDialog {
    Q_OBJECT

public:
    TLineForm(ProductionLines& lines, int line);

    QGroupBox* LineGroup = nullptr;
    TReportView* LineWindow = nullptr;
};
