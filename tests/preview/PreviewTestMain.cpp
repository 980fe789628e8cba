#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

#include "preview/MetalTextureView.h"
#include "tests/preview/KeepGlDriversLoaded.h"

// The preview needs a real display (xcb under Xvfb): the offscreen platform cannot host a GL
// widget. The format must be the default before the application object exists.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    const int status = RUN_ALL_TESTS();
    keepGlDriversLoaded();
    return status;
}
