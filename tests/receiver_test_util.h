// Shared by the receivers' suites: a temporary program folder with its own init.txt (always 127.0.0.1),
// a silent sound output, message boxes recorded instead of shown, and bounded waits on the real loop.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "csock_test_util.h"
#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "platform/window/window.h"
#include "platform/winsock/winsock.h"

namespace receiver_test {

class ReceiverTest : public csock_test::EventLoopTest {
  protected:
    void SetUp() override {
        hMainWnd = nullptr;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() / ("receiver_" + std::to_string(::getpid()) + "_" +
                                                         info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        previous_folder_ = platform::ProgramFolder();
        platform::SetProgramFolder(dir_.string());
        ASSERT_TRUE(platform::SetWaveOutBackend("null"));
        previous_boxes_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&) {
            boxes_.push_back(text);
            if (on_box_) on_box_(text);
        });
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(previous_boxes_);
        platform::SetWaveOutBackend("auto");
        platform::SetProgramFolder(previous_folder_);
        while (winsock::WSACleanup() == 0) {
        }
        hMainWnd = nullptr;
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void WriteInit(const std::string& text) { std::ofstream(dir_ / "init.txt", std::ios::binary) << text; }
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
    std::string previous_folder_;
    std::vector<std::string> boxes_;
    std::function<void(const std::string&)> on_box_;
    platform::MessageBoxHandler previous_boxes_;
};

}  // namespace receiver_test
