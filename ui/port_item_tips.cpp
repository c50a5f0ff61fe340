#include "ui/port_item_tips.h"

#include "serial/platform/port_inspection.h"

#include <QComboBox>
#include <QEvent>
#include <QRegularExpression>
#include <QWidget>

namespace {

constexpr int PortItems = 16;

QString PortItemTip(const PortInspection& port) {
    const QString device = QString::fromLocal8Bit(port.Device.Path.c_str());
    QString state = QStringLiteral("not present");
    if (port.Exists)
        state = port.Driver.empty() ? QStringLiteral("present, but not a serial device")
                                    : QStringLiteral("present");
    return QStringLiteral("COM%1: %2, %3").arg(port.Number).arg(device, state);
}

class ShowWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            SetPortItemTips(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

void SetPortItemTips(QWidget* dialog) {
    static const QRegularExpression portList(QStringLiteral("^ComPort[B-H]?ComboBox$"));
    const auto lists = dialog->findChildren<QComboBox*>(portList);
    if (lists.isEmpty())
        return;
    for (int n = 1; n <= PortItems; ++n) {
        const QString tip = PortItemTip(InspectPort(n));
        for (QComboBox* list : lists) {
            if (n <= list->count())
                list->setItemData(n - 1, tip, Qt::ToolTipRole);
        }
    }
}

void KeepPortItemTipsCurrent(QWidget* dialog) {
    SetPortItemTips(dialog);
    dialog->installEventFilter(new ShowWatcher(dialog));
}
