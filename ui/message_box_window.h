#pragma once

// Makes the program's boxes real modal message boxes (QMessageBox) and its beep the system's.
void UseMessageBoxWindows();
