#include "ui/line_form.h"

#include "capture/production_line.h"
#include "runtime/ansi_text.h"
#include "ui/design_fonts.h"
#include "ui/line_trouble_label.h"
#include "ui/report_view.h"

#include <QGroupBox>

TLineForm::TLineForm(ProductionLines& lines, int line, std::shared_ptr<ReportStore> reports)
    : TFixedDialog(QStringLiteral("TLine%1Form").arg(line), QStringLiteral("Line %1").arg(line),
                   QSize(1016, 683), true) {
    LineGroup = new QGroupBox(this);
    LineGroup->setObjectName(QStringLiteral("LineGroup"));
    LineGroup->setGeometry(16, 22, 985, 639);
    LineGroup->setFont(DesignFont(true));

    LineWindow = new TReportView(LineGroup, true, std::move(reports));
    LineWindow->setObjectName(QStringLiteral("LineWindow"));
    LineWindow->setGeometry(24, 23, 937, 594);

    LineTrouble = new TLineTroubleLabel(LineGroup);
    LineTrouble->setObjectName(QStringLiteral("LineTrouble"));
    LineTrouble->setGeometry(24, 619, 937, 16);
    LineTrouble->setFont(DesignFont(false));

    connect(&lines, &ProductionLines::CaptionChanged, this, [this, &lines, line](int changed) {
        if (changed == line)
            setWindowTitle(AnsiToQString(lines.Line(line).Caption));
    });
}
