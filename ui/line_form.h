#pragma once

#include "ui/fixed_dialog.h"

#include <memory>

class ProductionLines;
class QGroupBox;
class ReportStore;
class TLineTroubleLabel;
class TReportView;

// A line's expanded view: a large window with the same report lines as the line's small view,
// long ones wrapped, drawn from the same store. One class, one window per line (TLine1Form to
// TLine8Form), captioned with the line's caption.
class TLineForm : public TFixedDialog {
    Q_OBJECT

public:
    TLineForm(ProductionLines& lines, int line, std::shared_ptr<ReportStore> reports);

    QGroupBox* LineGroup = nullptr;
    TReportView* LineWindow = nullptr;
    // What is wrong with the line, as its panel in the main window says it.
    TLineTroubleLabel* LineTrouble = nullptr;
};
