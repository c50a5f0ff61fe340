#pragma once

#include <QString>

class FormSet;

// Saves a PNG picture of every window into the folder, for looking over the layout: the main
// window, the port, port devices, stamping and label dialogs, line 1's expanded view and the
// About box. False when a picture could not be saved.
bool SaveScreenshots(FormSet& forms, const QString& folder);
