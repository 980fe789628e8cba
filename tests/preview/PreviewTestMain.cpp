#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "preview/MetalTextureView.h"
#include "tests/preview/KeepGlDriversLoaded.h"

// On a real display (xcb under Xvfb); the format is the default before the application exists.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    const int status = RUN_ALL_TESTS();
    keepGlDriversLoaded();
    return status;
}
