#include <QApplication>
#include <gtest/gtest.h>

// Every test binary runs inside a real QApplication on the offscreen platform unless told
// otherwise.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tolvane");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
