#include <gtest/gtest.h>

#include <QCoreApplication>

// The relay runs on the Qt event loop of the main thread, as in the application.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
