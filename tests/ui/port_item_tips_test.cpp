// The COM Port lists' items name each port's device and whether it is present, as the dialog
// shows.

#include "serial/platform/port_map.h"
#include "tests/ui/forms_fixture.h"

#include <QComboBox>
#include <QGroupBox>

class PortItemTipsTest : public FormsTest {};

TEST_F(PortItemTipsTest, EachPortItemNamesItsDeviceAndWhetherItIsPresentWhenTheDialogShows) {
    StartUp();
    SetPortDevice(15, "/dev/null");
    SetPortDevice(16, settings.Folder() + "unplugged");
    Serial().show();
    for (const PortLists& lists : Serial().Ports) {
        QComboBox* list = lists.ComPort;
        SCOPED_TRACE(list->objectName().toStdString());
        EXPECT_EQ(list->itemText(0), QStringLiteral("1"));
        EXPECT_EQ(list->itemData(0, Qt::ToolTipRole).toString(),
                  QStringLiteral("COM1: %1, present")
                      .arg(QString::fromStdString(lines.Com(1).SlavePath())));
        EXPECT_EQ(list->itemData(14, Qt::ToolTipRole).toString(),
                  QStringLiteral("COM15: /dev/null, present, but not a serial device"));
        EXPECT_EQ(list->itemData(15, Qt::ToolTipRole).toString(),
                  QStringLiteral("COM16: %1unplugged, not present")
                      .arg(QString::fromStdString(settings.Folder())));
        EXPECT_EQ(list->itemText(16), QStringLiteral("Off"));
    }
    Serial().hide();
}
