#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    // Child processes of death tests start afresh (no fork of a process that has Qt threads).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
