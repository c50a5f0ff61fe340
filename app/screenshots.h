#pragma once

#include <QString>

class FormSet;
class LineSimulator;

// Saves a PNG picture of every window into the folder, for looking over the layout: the main
// window, the port, port devices, stamping and label dialogs, line 1's expanded view and the
// About box. With the simulator, the pictures show the simulated plant at work: they wait until
// every started line has shown a few reports and the simulator's faulty line waits for its pulled
// adapter. False when a picture could not be saved.
bool SaveScreenshots(FormSet& forms, const QString& folder, LineSimulator* simulator = nullptr);
