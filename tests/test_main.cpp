// Test entry point: every test binary gets a QApplication on the offscreen platform,
// so widget, painter and image-format code behave as in the program.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/hugepages.h"

int main(int argc, char** argv) {
    preferHugePages(argv);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
