// The window tests need the application object of the program (its error report is under test)
// and run without a display.
#include <gtest/gtest.h>

#include "terminal/window/application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    corvel::CorvelApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
