// A program's libraries: found beside the program, loaded only when present and of the program's release.
#include <gtest/gtest.h>

#include <string>

#include "platform/plugin/plugin.h"

namespace {

const std::string kLibrary = STREAM_TEST_PLUGIN;

TEST(PluginLibrary, IsFoundRelativeToTheProgramsFolder) {
    const std::string path = platform::PluginLibraryPath("../lib/x86_64-linux-gnu/tessaly", "window");
    EXPECT_EQ(path.find(".."), std::string::npos) << path;
    EXPECT_NE(path.find("/lib/x86_64-linux-gnu/tessaly/window.so"), std::string::npos) << path;
    EXPECT_EQ(path.front(), '/') << path;
}

TEST(PluginLibrary, LoadsOnlyAnInstalledLibraryOfTheSameRelease) {
    std::string error;
    platform::PluginLibrary missing;
    EXPECT_FALSE(missing.Load(kLibrary + ".gone", "test-release-1", &error));
    EXPECT_EQ(error, kLibrary + ".gone is not installed");

    platform::PluginLibrary other_release;
    EXPECT_FALSE(other_release.Load(kLibrary, "test-release-2", &error));
    EXPECT_NE(error.find("is of release test-release-1, the program of test-release-2"), std::string::npos)
        << error;

    platform::PluginLibrary library;
    ASSERT_TRUE(library.Load(kLibrary, "test-release-1", &error)) << error;
    auto answer = reinterpret_cast<int (*)()>(library.Entry("test_plugin_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.Entry("no_such_entry"), nullptr);
}

}  // namespace
