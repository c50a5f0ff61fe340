#pragma once

class QCoreApplication;

// The program without any window, for a computer with no screen: the lines, their ports and
// writers and the settings file, under a plain QCoreApplication. Every line that is on and has a
// report file captures into it; errors go to the system log and to standard error. SIGTERM and
// SIGINT end it as Exit does, SIGHUP reads the settings file again. Returns the exit code.
int RunHeadless(QCoreApplication& application);
