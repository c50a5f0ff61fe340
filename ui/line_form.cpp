#include "ui/line_form.h"

#include "ui/design_fonts.h"
#include "ui/report_view.h"

#include <QGroupBox>

TLineForm::TLineForm(int line)
    : TFixedDialog(QStringLiteral("TLine%1Form").arg(line), QStringLiteral("Line %1").arg(line),
                   QSize(1016, 683), true) {
    LineGroup = new QGroupBox(this);
    LineGroup->setObjectName(QStringLiteral("LineGroup"));
    LineGroup->setGeometry(16, 22, 985, 639);
    LineGroup->setFont(DesignFont(true));

    LineWindow = new TReportView(LineGroup, true);
    LineWindow->setObjectName(QStringLiteral("LineWindow"));
    LineWindow->setGeometry(24, 23, 937, 594);
}
