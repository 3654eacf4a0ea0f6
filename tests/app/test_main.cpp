// The window tests need the application object of the program (its error report is under test)
// and run without a display, on one screen of a common desktop size.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryFile>

#include "terminal/window/application.h"

int main(int argc, char** argv) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QTemporaryFile screens;
    if (platform.isEmpty() || platform == "offscreen") {
        if (screens.open()) {
            screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,
                              "height": 1080, "logicalDpi": 96}]})");
            screens.flush();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
        } else {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
    }
    corvel::CorvelApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
