#include "tests/support/TempDirectory.h"

#include <cstdlib>
#include <string>
#include <system_error>

TempDirectory::TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lmv-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}
