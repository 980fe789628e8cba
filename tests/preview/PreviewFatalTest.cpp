// A preview that cannot draw says why to its owner, once: the GL compiler or linker log, or the
// missing part. What the owner does with it (the application stops) is its own business.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include "gpu/Device.h"
#include "preview/Coordinator.h"
#include "preview/MetalTextureView.h"
#include "shaders/ShaderLibrary.h"

namespace {

struct FatalCase {
    const char* name;
    const char* function;  // of the built-in library
    const char* source;    // replaces it; nullptr removes it
    const char* reason;    // the reason given, as a pattern
};

const FatalCase fatalCases[] = {
    {"brokenVertex", "textureVertexShader", "#version 330 core\nvoid main() { gl_Position = ; }\n",
     "textureVertexShader did not compile: .*0:2\\([0-9]+\\): error: .*"},
    {"brokenFragment", "textureFragmentShader",
     "#version 330 core\nout vec4 colour;\nvoid main() { colour = undefinedThing; }\n",
     "textureFragmentShader did not compile: .*0:3\\([0-9]+\\): error: .*undefinedThing.*"},
    // Compiles, but takes its input as another type than the vertex function gives it.
    {"unlinkable", "textureFragmentShader",
     "#version 330 core\nin vec3 textureCoordinate;\nout vec4 colour;\n"
     "void main() { colour = vec4(textureCoordinate, 1.0); }\n",
     "the preview program did not link: .*error: .*textureCoordinate.*"},
    {"missingFragment", "textureFragmentShader", nullptr,
     "no function textureFragmentShader in the shader library"},
};

class PreviewFailure : public ::testing::TestWithParam<FatalCase> {};

TEST_P(PreviewFailure, IsReportedOnceWithItsReason) {
    const FatalCase& row = GetParam();
    auto functions = ShaderLibrary::defaultLibrary()->functions();
    functions.erase(row.function);
    if (row.source) functions.emplace(row.function, row.source);
    const auto device = gpu::Device::create();
    const auto coordinator = Coordinator::make(device, nullptr, ShaderLibrary(functions));
    ASSERT_TRUE(coordinator);

    std::vector<std::string> reasons;
    const MetalTextureView value{device->newTexture(8, 8), device};
    const std::unique_ptr<QWidget> view(value.makeNSView(
        coordinator, [&](const std::string& reason) { reasons.push_back(reason); }));
    value.updateNSView(view.get(), *coordinator);
    view->resize(64, 64);
    view->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reasons.empty(); }, 30000)) << "no failure reported";
    value.updateNSView(view.get(), *coordinator);  // a later draw is no second report
    QTest::qWait(0);
    ASSERT_EQ(reasons.size(), 1u);
    const QRegularExpression pattern(QStringLiteral("^%1$").arg(row.reason),
                                     QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(pattern.match(QString::fromStdString(reasons[0])).hasMatch()) << reasons[0];
}

INSTANTIATE_TEST_SUITE_P(Shaders, PreviewFailure, ::testing::ValuesIn(fatalCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
