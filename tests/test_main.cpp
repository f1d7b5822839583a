// Test entry point: engine tests get a QGuiApplication, window tests a QApplication, both on
// the offscreen platform, so painter and image-format code behave as in the programs.
#include <gtest/gtest.h>

#ifdef MATTORA_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

#include "core/hugepages.h"
#include "photo/photofile.h"

int main(int argc, char** argv) {
    preferHugePages(argv);
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    TestApplication app(argc, argv);
    installDamageDetector();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
