#include <gtest/gtest.h>

#include "shaders/ShaderLibrary.h"

TEST(ShaderLibrary, BuiltInLibraryHoldsBothFunctionsAsGlsl330Core) {
    const std::optional<ShaderLibrary> library = ShaderLibrary::defaultLibrary();
    ASSERT_TRUE(library.has_value());
    for (const char* name : {"textureVertexShader", "textureFragmentShader"}) {
        const std::optional<std::string> source = library->newFunctionWithName(name);
        ASSERT_TRUE(source.has_value()) << name;
        EXPECT_EQ(source->rfind("#version 330 core\n", 0), 0u) << name;
    }
    EXPECT_EQ(library->functions().size(), 2u);
}

TEST(ShaderLibrary, LooksFunctionsUpByExactName) {
    const ShaderLibrary library(
        std::map<std::string, std::string>{{"textureVertexShader", "vertex"}});
    EXPECT_EQ(library.newFunctionWithName("textureVertexShader"), "vertex");
    EXPECT_FALSE(library.newFunctionWithName("textureFragmentShader").has_value());
    EXPECT_FALSE(library.newFunctionWithName("TextureVertexShader").has_value());
    EXPECT_FALSE(library.newFunctionWithName("textureVertexShader.vert").has_value());
}
