// Where the programs keep and find their files: the receivers' folder (the executable's, --dir, or the user's
// own when installed) and read-only data files (beside the program, else in the package's share folder).
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A temporary tree shaped like an installation: <root>/usr/bin is the executable's folder,
// <root>/usr/share/streamsuite the share folder (made only by tests of an installed program) and
// <root>/home/.config the user's config home. Whether a folder can be written is the test's choice.
class FolderRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ =
            fs::temp_directory_path() / ("folder_rules_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "usr/bin");
        facts_.executable_folder = (root_ / "usr/bin").string();
        facts_.shared_data_folder = (root_ / "usr/share/streamsuite").string();
        facts_.config_home = (root_ / "home/.config").string();
        facts_.can_write = [this](const std::string&) { return writable_; };
        saved_folder_ = platform::ProgramFolder();
    }
    void TearDown() override {
        platform::SetProgramFolder(saved_folder_);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void Install() { fs::create_directories(facts_.shared_data_folder); }
    static void Touch(const fs::path& file) { std::ofstream(file) << "127.0.0.1\r\n"; }
    std::string Use(const std::string& dir_option, const std::string& program = "quillon") {
        std::string error;
        EXPECT_TRUE(platform::UseReceiverFolder(dir_option, program, facts_, &error)) << error;
        return platform::ProgramFolder();
    }

    fs::path root_;
    platform::FolderFacts facts_;
    bool writable_ = true;
    std::string saved_folder_;
};

TEST_F(FolderRulesTest, WritableProgramFolderOfABuildIsKept) {
    EXPECT_EQ(Use(""), facts_.executable_folder);
    EXPECT_FALSE(fs::exists(facts_.config_home)) << "no user folder is made when none is needed";
}

TEST_F(FolderRulesTest, ReadOnlyProgramFolderGivesEachReceiverItsOwnUserFolderMadeOnFirstUse) {
    Install();
    writable_ = false;
    EXPECT_EQ(Use("", "quillon"), facts_.config_home + "/quillon");
    EXPECT_TRUE(fs::is_directory(facts_.config_home + "/quillon"));
    EXPECT_EQ(Use("", "brondel"), facts_.config_home + "/brondel");
    EXPECT_TRUE(fs::is_directory(facts_.config_home + "/brondel"));
    EXPECT_EQ(Use("", "quillon"), facts_.config_home + "/quillon") << "an existing user folder is reused";
}

TEST_F(FolderRulesTest, InstalledProgramFolderIsNotWrittenEvenWhenRootCould) {
    Install();
    EXPECT_EQ(Use(""), facts_.config_home + "/quillon");
}

TEST_F(FolderRulesTest, InitTxtBesideTheProgramKeepsItsFolder) {
    Install();
    writable_ = false;
    Touch(root_ / "usr/bin/init.txt");
    EXPECT_EQ(Use(""), facts_.executable_folder);
}

TEST_F(FolderRulesTest, DirOptionWinsAndMustNameAFolder) {
    Install();
    writable_ = false;
    Touch(root_ / "usr/bin/init.txt");
    const fs::path chosen = root_ / "chosen";
    fs::create_directories(chosen);
    EXPECT_EQ(Use(chosen.string()), chosen.string());

    std::string error;
    EXPECT_FALSE(platform::UseReceiverFolder((root_ / "missing").string(), "quillon", facts_, &error));
    EXPECT_NE(error.find("missing does not exist"), std::string::npos) << error;
    EXPECT_FALSE(
        platform::UseReceiverFolder((root_ / "usr/bin/init.txt").string(), "quillon", facts_, &error))
        << "a file is no folder";
    EXPECT_EQ(platform::ProgramFolder(), chosen.string()) << "a refused choice leaves the folder as it was";
}

TEST_F(FolderRulesTest, NoUsableFolderIsReportedWithTheWayOut) {
    writable_ = false;
    facts_.config_home.clear();
    std::string error;
    EXPECT_FALSE(platform::UseReceiverFolder("", "quillon", facts_, &error));
    EXPECT_NE(error.find("--dir"), std::string::npos) << error;

    facts_.config_home = (root_ / "home/.config").string();
    Touch(root_ / "home");  // a file where the home folder should be
    error.clear();
    EXPECT_FALSE(platform::UseReceiverFolder("", "quillon", facts_, &error));
    EXPECT_NE(error.find("cannot create the folder " + facts_.config_home + "/quillon"), std::string::npos)
        << error;
}

TEST_F(FolderRulesTest, DataFilesComeFromBesideTheProgramElseFromTheShareFolder) {
    Install();
    platform::SetProgramFolder(facts_.executable_folder);
    const fs::path beside = root_ / "usr/bin/stream.wav";
    const fs::path shared = root_ / "usr/share/streamsuite/stream.wav";
    EXPECT_EQ(platform::FindDataFile("stream.wav", facts_), beside.string())
        << "neither: the first place looked";
    Touch(shared);
    EXPECT_EQ(platform::FindDataFile("stream.wav", facts_), shared.string());
    Touch(beside);
    EXPECT_EQ(platform::FindDataFile("stream.wav", facts_), beside.string());
}

}  // namespace
