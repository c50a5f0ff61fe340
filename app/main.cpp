#include "app/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    // Answers for the terminal are given without asking for a display, so they work on a console.
    if (AsksForTerminalAnswer(argc, argv)) {
        QCoreApplication application(argc, argv);
        return RunTerminalAnswer();
    }
    QApplication application(argc, argv);
    return RunProgram(application);
}
