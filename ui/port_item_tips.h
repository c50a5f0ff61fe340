#pragma once

class QWidget;

// Gives the items COM1 to COM16 of the dialog's COM Port lists (ComPortComboBox to
// ComPortHComboBox) tooltips naming each port's device and whether it is present, such as
// "COM3: /dev/ttyUSB0, present". The items' texts stay.
void SetPortItemTips(QWidget* dialog);

// Refreshes those tooltips each time the dialog is shown, since adapters come and go.
void KeepPortItemTipsCurrent(QWidget* dialog);
