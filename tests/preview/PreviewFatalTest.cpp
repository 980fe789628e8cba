// A preview that cannot draw says why to its owner, once: the GL compiler or linker log, or the
// missing part. What the owner does with it (the application stops) is its own business.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <map>
#include <optional>

#include "gpu/Device.h"
#include "preview/Coordinator.h"
#include "preview/MetalTextureView.h"
#include "shaders/ShaderLibrary.h"

namespace {

struct FatalCase {
    const char* name;
    const char* vertex;    // replaces the built-in function; "" keeps it, nullptr removes it
    const char* fragment;  // the same
    const char* reason;    // the reason given, as a pattern
};

const FatalCase fatalCases[] = {
    {"brokenVertex", "#version 330 core\nvoid main() { gl_Position = ; }\n", "",
     "textureVertexShader did not compile: .*0:2\\([0-9]+\\): error: .*"},
    {"brokenFragment", "",
     "#version 330 core\nout vec4 colour;\nvoid main() { colour = undefinedThing; }\n",
     "textureFragmentShader did not compile: .*0:3\\([0-9]+\\): error: .*undefinedThing.*"},
    // Compiles, but takes its input as another type than the vertex function gives it.
    {"unlinkable", "",
     "#version 330 core\nin vec3 textureCoordinate;\nout vec4 colour;\n"
     "void main() { colour = vec4(textureCoordinate, 1.0); }\n",
     "the preview program did not link: .*error: .*textureCoordinate.*"},
    {"missingFragment", "", nullptr, "no function textureFragmentShader in the shader library"},
};

class PreviewFailure : public ::testing::TestWithParam<FatalCase> {};

TEST_P(PreviewFailure, IsReportedOnceWithItsReason) {
    const FatalCase& row = GetParam();
    std::map<std::string, std::string> functions = ShaderLibrary::defaultLibrary()->functions();
    for (const auto& [name, source] : {std::pair{"textureVertexShader", row.vertex},
                                       std::pair{"textureFragmentShader", row.fragment}}) {
        if (source == nullptr) functions.erase(name);
        if (source != nullptr && *source != '\0') functions[name] = source;
    }
    const auto device = gpu::Device::create();
    const auto coordinator = Coordinator::make(device, nullptr, ShaderLibrary(functions));
    ASSERT_TRUE(coordinator);

    std::vector<std::string> reasons;
    QWidget window;
    const MetalTextureView value{device->newTexture(8, 8), device};
    QWidget* view = value.makeNSView(
        coordinator, [&](const std::string& reason) { reasons.push_back(reason); }, &window);
    value.updateNSView(view, *coordinator);
    view->resize(64, 64);
    window.resize(64, 64);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reasons.empty(); }, 30000)) << "no failure reported";
    value.updateNSView(view, *coordinator);  // a later draw is no second report
    QTest::qWait(0);
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + row.reason + QStringLiteral("$"),
                                   QRegularExpression::DotMatchesEverythingOption)
                    .match(QString::fromStdString(reasons[0]))
                    .hasMatch())
        << reasons[0];
}

INSTANTIATE_TEST_SUITE_P(Shaders, PreviewFailure, ::testing::ValuesIn(fatalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PreviewWithoutItsParts, NoShaderLibraryOrNoCommandQueueGivesNoCoordinator) {
    gpu::DeviceFaults noQueue;
    noQueue.noCommandQueue = true;
    EXPECT_FALSE(Coordinator::make(gpu::Device::create(), nullptr, std::nullopt));
    EXPECT_FALSE(Coordinator::make(gpu::Device::create("CPU", noQueue), nullptr));
}

}  // namespace
