// Quillon's and Brondel's real windows on Qt's offscreen platform: the decoded picture shows mirrored in its
// rectangle and the Japanese captions are drawn. STREAM_SCREENSHOT_DIR=/some/folder keeps quillon.png and
// brondel.png there.
#include <gtest/gtest.h>

#include <QMainWindow>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "media/picture_file.h"
#include "platform/ui/qt/gui_frontend.h"
#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "receiver/brondel_window.h"
#include "receiver/quillon_window.h"

namespace {

std::vector<std::uint8_t> Sample(const char* name) {
    std::vector<std::uint8_t> picture;
    std::string error;
    EXPECT_TRUE(picture_file::ReadPicture(std::string(STREAM_SAMPLES_DIR) + "/" + name, picture, error))
        << error;
    picture.resize(230400);
    return picture;
}

// The picture's pixel (column, buffer row) as Qt reads it.
QRgb Pixel(const std::vector<std::uint8_t>& picture, int column, int row) {
    const std::uint8_t* p = picture.data() + (row * 320 + column) * 3;
    return qRgb(p[2], p[1], p[0]);
}

class ReceiverWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        hMainWnd = nullptr;
        platform::SetWaveOutBackend("null");
        folder_ = std::filesystem::temp_directory_path() / ("receiver_gui_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        platform::SetProgramFolder(folder_.string());
        boxes_ = platform::SetMessageBoxHandler([](const std::string&, const std::string&) {});
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(boxes_);
        platform::SetWaveOutBackend("auto");
        hMainWnd = nullptr;
        std::filesystem::remove_all(folder_);
    }
    void WriteInit(const std::string& text) { std::ofstream(folder_ / "init.txt") << text; }
    static void Keep(platform::GuiFrontend& gui, const char* name) {
        const QString folder = qEnvironmentVariable("STREAM_SCREENSHOT_DIR");
        if (!folder.isEmpty()) {
            EXPECT_TRUE(gui.Window()->grab().save(folder + "/" + name));
        }
    }

    std::filesystem::path folder_;
    platform::MessageBoxHandler boxes_;
};

TEST_F(ReceiverWindows, QuillonShowsItsPictureMirroredAndDoubled) {
    WriteInit("127.0.0.1\n");
    receiver::QuillonWindow w;
    platform::GuiFrontend gui(w.GetForm());
    w.Form_Load();
    gui.Show();
    const auto picture = Sample("fruits.ppm");
    std::copy(picture.begin(), picture.end(), w.BmpBuf.begin());
    w.Text1.SetText("接続しました。");
    w.RecvBitMapShow();
    const QImage shown = gui.Widget("Picture2")->grab().toImage();
    ASSERT_GE(shown.width(), 650);
    // Screen (x, y) in the doubled rectangle shows column 319 - (x - 10) / 2 of scene line (y - 10) / 2.
    for (int y = 10; y < 490; y += 37) {
        for (int x = 10; x < 650; x += 41) {
            ASSERT_EQ(shown.pixel(x, y), Pixel(picture, 319 - (x - 10) / 2, 239 - (y - 10) / 2))
                << x << "," << y;
        }
    }
    EXPECT_EQ(gui.Window()->windowTitle(), "Quillon Ver1.10");
    Keep(gui, "quillon.png");
}

TEST_F(ReceiverWindows, BrondelShowsTwoPicturesSideBySide) {
    WriteInit("127.0.0.1,127.0.0.2,200\n");
    receiver::BrondelWindow w;
    platform::GuiFrontend gui(w.GetForm());
    w.Form_Load();
    gui.Show();
    const auto left = Sample("butterfly.ppm");
    const auto right = Sample("building.ppm");
    std::copy(left.begin(), left.end(), w.BmpBuf(0).begin());
    std::copy(right.begin(), right.end(), w.BmpBuf(1).begin());
    w.fShow = {platform::kTrue, platform::kTrue};
    w.Text1[0]->SetText("接続しました。");
    w.Text1[1]->SetText("接続しました。");
    w.mnuCon[0]->SetCaption("切断1");
    w.mnuCon[1]->SetCaption("切断2");
    w.RecvBitMapShow();
    const QImage shown = gui.Widget("Picture2")->grab().toImage();
    for (int y = 10; y < 250; y += 23) {
        ASSERT_EQ(shown.pixel(10, y), Pixel(left, 319, 239 - (y - 10)));
        ASSERT_EQ(shown.pixel(329, y), Pixel(left, 0, 239 - (y - 10)));
        ASSERT_EQ(shown.pixel(330, y), Pixel(right, 319, 239 - (y - 10)));
        ASSERT_EQ(shown.pixel(649, y), Pixel(right, 0, 239 - (y - 10)));
    }
    EXPECT_EQ(gui.Window()->windowTitle(), "Brondel Ver1.10");
    w.Timer1.SetInterval(0);
    Keep(gui, "brondel.png");
}

}  // namespace
