#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/XdgContainerLocator.h"
#include "receiver/Configuration.h"
#include "tests/platform/EnvironmentVariable.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> locate() {
    return XdgContainerLocator().containerDirectory(config::appGroupIdentifier);
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode;
}

// Sets the process umask for a test's scope.
class Umask {
  public:
    explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
    ~Umask() { ::umask(previous_); }

  private:
    mode_t previous_;
};

TEST(XdgContainerLocator, NoFolderWithoutAnAbsoluteRuntimeDirectory) {
    TempDirectory runtime;
    const fs::path workingDirectory = fs::current_path();
    fs::current_path(runtime.path());
    {
        EnvironmentVariable unset("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_EQ(locate(), std::nullopt);
    }
    {
        EnvironmentVariable empty("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(locate(), std::nullopt);
    }
    {
        fs::create_directory(runtime.path() / "relative");
        EnvironmentVariable relative("XDG_RUNTIME_DIR", "relative");
        EXPECT_EQ(locate(), std::nullopt);
        // Nothing was made under the working directory either.
        EXPECT_TRUE(fs::is_empty(runtime.path() / "relative"));
    }
    fs::current_path(workingDirectory);
}

TEST(XdgContainerLocator, CreatesThePrivateGroupFolderWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
        TempDirectory runtime;
        EnvironmentVariable xdg("XDG_RUNTIME_DIR", runtime.path().string());
        Umask umask(mask);
        const auto folder = locate();
        ASSERT_TRUE(folder) << "umask " << mask;
        EXPECT_EQ(*folder, runtime.path() / "group.com.lumetra.visualizer");
        EXPECT_TRUE(S_ISDIR(modeOf(*folder)));
        EXPECT_EQ(modeOf(*folder) & 07777, 0700u) << "umask " << mask;
    }
}

TEST(XdgContainerLocator, ReusesAnExistingFolderAndItsFiles) {
    TempDirectory runtime;
    EnvironmentVariable xdg("XDG_RUNTIME_DIR", runtime.path().string());
    const fs::path group = runtime.path() / "group.com.lumetra.visualizer";
    fs::create_directory(group);
    std::ofstream(group / "shared_texture.bin") << "frame";
    EXPECT_EQ(locate(), group);
    EXPECT_EQ(fs::file_size(group / "shared_texture.bin"), 5u);
    // Asking again gives the same folder.
    EXPECT_EQ(locate(), group);
}

TEST(XdgContainerLocator, NoFolderWhenItCannotBeMade) {
    TempDirectory runtime;
    {
        // The runtime directory does not exist: parents are not made.
        EnvironmentVariable xdg("XDG_RUNTIME_DIR", (runtime.path() / "missing").string());
        EXPECT_EQ(locate(), std::nullopt);
        EXPECT_FALSE(fs::exists(runtime.path() / "missing"));
    }
    {
        // The runtime directory is a plain file.
        std::ofstream(runtime.path() / "plain") << "x";
        EnvironmentVariable xdg("XDG_RUNTIME_DIR", (runtime.path() / "plain").string());
        EXPECT_EQ(locate(), std::nullopt);
    }
    {
        // A plain file stands where the group folder belongs.
        fs::create_directory(runtime.path() / "taken");
        std::ofstream(runtime.path() / "taken" / "group.com.lumetra.visualizer") << "x";
        EnvironmentVariable xdg("XDG_RUNTIME_DIR", (runtime.path() / "taken").string());
        EXPECT_EQ(locate(), std::nullopt);
    }
}

TEST(XdgContainerLocator, AGroupNameNeverLeavesTheRuntimeDirectory) {
    TempDirectory runtime;
    fs::create_directory(runtime.path() / "xdg");
    EnvironmentVariable xdg("XDG_RUNTIME_DIR", (runtime.path() / "xdg").string());
    XdgContainerLocator locator;
    EXPECT_EQ(locator.containerDirectory("../escaped"), std::nullopt);
    EXPECT_EQ(locator.containerDirectory(".."), std::nullopt);
    EXPECT_EQ(locator.containerDirectory(""), std::nullopt);
    EXPECT_FALSE(fs::exists(runtime.path() / "escaped"));
}

}  // namespace
