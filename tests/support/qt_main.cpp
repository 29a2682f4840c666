// main() for test binaries that need a QApplication (offscreen platform).
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Notavox");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
