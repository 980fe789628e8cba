#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "format/Configuration.h"
#include "platform/XdgSharedFolderLocator.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

const std::string group(config::sharedFolderName);

// The folder for `name` with XDG_RUNTIME_DIR set to `runtime`, or unset when there is none.
std::optional<fs::path> locate(const std::optional<std::string>& runtime,
                               const std::string& name = group) {
    if (runtime) ::setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
    if (!runtime) ::unsetenv("XDG_RUNTIME_DIR");
    return XdgSharedFolderLocator().sharedFolder(name);
}

class XdgSharedFolderLocatorTest : public testing::Test {
    void TearDown() override { ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1); }
    const char* const variable_ = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved_ = variable_ ? variable_ : "";
};

TEST_F(XdgSharedFolderLocatorTest, APrivateFolderMadeOnlyInsideAnAbsoluteRuntimeDirectory) {
    TempDirectory temp;
    const fs::path root = temp.path(), workingDirectory = fs::current_path();
    fs::create_directories(root / "xdg" / "relative");
    std::ofstream(root / "plain") << "x";
    fs::create_directory(root / "taken");
    std::ofstream(root / "taken" / group) << "x";  // a plain file where the folder belongs
    fs::current_path(root / "xdg");
    const std::pair<std::optional<std::string>, std::string> refused[] = {
        {std::nullopt, group},   {"", group},
        {"relative", group},     {root / "missing", group},  // parents are not made
        {root / "plain", group}, {root / "taken", group},
        {root / "xdg", ".."},    {root / "xdg", "../escaped"},  // never outside the folder
        {root / "xdg", ""}};
    for (const auto& [runtime, name] : refused) {
        EXPECT_EQ(locate(runtime, name), std::nullopt)
            << runtime.value_or("(unset)") << " " << name;
    }
    fs::current_path(workingDirectory);
    EXPECT_TRUE(fs::is_empty(root / "xdg" / "relative"));  // nothing was made on the way
    EXPECT_FALSE(fs::exists(root / "missing") || fs::exists(root / "escaped"));

    for (const mode_t mask : {0, 022, 0777}) {
        const fs::path runtime = root / ("umask" + std::to_string(mask));
        fs::create_directory(runtime);
        const mode_t previousMask = ::umask(mask);
        const auto folder = locate(runtime.string());
        ::umask(previousMask);
        ASSERT_EQ(folder, runtime / group) << "umask " << mask;
        struct stat status {};
        ASSERT_EQ(::stat(folder->c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & (S_IFMT | 07777), S_IFDIR | 0700u) << "umask " << mask;
        std::ofstream(*folder / "shared_texture.bin") << "frame";
        EXPECT_EQ(locate(runtime.string()), folder);  // the same folder, with what it holds
        EXPECT_EQ(fs::file_size(*folder / "shared_texture.bin"), 5u);
    }
}

}  // namespace
