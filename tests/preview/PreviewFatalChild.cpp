// A preview whose construction must stop the process, one way per mode; the fatal tests run it
// as a child process and read what it leaves on standard error. Exits 3 if it is still alive
// after its view has been shown.
#include <QApplication>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <map>
#include <memory>

#include "gpu/Device.h"
#include "preview/Coordinator.h"
#include "shaders/ShaderLibrary.h"
#include "tests/preview/KeepGlDriversLoaded.h"

namespace {

constexpr int stillAlive = 3;

std::optional<ShaderLibrary> libraryFor(const std::string& mode) {
    std::optional<ShaderLibrary> library = ShaderLibrary::defaultLibrary();
    if (!library) return library;
    std::map<std::string, std::string> functions = library->functions();
    if (mode == "no-library") return std::nullopt;
    if (mode == "broken-vertex") {
        functions["textureVertexShader"] = "#version 330 core\nvoid main() { gl_Position = ; }\n";
    } else if (mode == "broken-fragment") {
        functions["textureFragmentShader"] =
            "#version 330 core\nout vec4 colour;\nvoid main() { colour = undefinedThing; }\n";
    } else if (mode == "unlinkable") {
        // Compiles, but takes its input as another type than the vertex function gives it.
        functions["textureFragmentShader"] =
            "#version 330 core\nin vec3 textureCoordinate;\nout vec4 colour;\n"
            "void main() { colour = vec4(textureCoordinate, 1.0); }\n";
    } else if (mode == "missing-fragment") {
        functions.erase("textureFragmentShader");
    }
    return ShaderLibrary(std::move(functions));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);

    gpu::DeviceFaults faults;
    faults.noCommandQueue = mode == "no-command-queue";
    const auto device = gpu::Device::create("CPU", faults);
    const MetalTextureView value{nullptr, device};
    const auto coordinator =
        std::make_shared<MetalTextureView::Coordinator>(device, nullptr, libraryFor(mode));

    QWidget window;
    QWidget* view = value.makeNSView(coordinator, &window);
    value.updateNSView(view, *coordinator);
    view->resize(64, 64);
    window.resize(64, 64);
    window.show();
    QTimer::singleShot(5000, &application, [] { QApplication::exit(stillAlive); });
    const int status = application.exec();
    keepGlDriversLoaded();
    return status;
}
