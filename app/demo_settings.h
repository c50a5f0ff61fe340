#pragma once
// The simulated plant's own settings, kept in its demo folder beside its report files.

#include <string>

// On first use (no settings file yet) writes the demo's settings into the run's settings file,
// already named and inside `folder`: all eight lines on COM1 to COM8 named after their machines,
// date and time stamps with a mix of delimiters, resume at start-up on, and every line started
// into <folder>/line<N>.txt. A later run finds the file and uses it as it was left. Tells on
// standard error where the demo keeps its files. False when the settings could not be written.
bool PrepareDemoSettings(const std::string& folder);
