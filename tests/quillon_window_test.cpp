// Quillon's window without a server: init.txt, the two layouts, painting into the picture box (looked at
// pixel by pixel), the snapshot file, the close box and the Exit item.
#include "receiver/quillon_window.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "receiver_test_util.h"

using receiver::QuillonWindow;

namespace {

class QuillonWindowTest : public receiver_test::ReceiverTest {
  protected:
    void TearDown() override {
        window_.reset();
        ReceiverTest::TearDown();
    }
    QuillonWindow& Load(const std::string* init) {
        if (init != nullptr) WriteInit(*init);
        window_ = std::make_unique<QuillonWindow>();
        window_->Form_Load();
        return *window_;
    }
    QuillonWindow& Load(const std::string& init) { return Load(&init); }

    // A picture whose every pixel tells its place: blue = column & 0xFF, green = row, red = column >> 8.
    void FillPicture() {
        auto& buf = window_->BmpBuf;
        for (int row = 0; row < 240; ++row) {
            for (int x = 0; x < 320; ++x) {
                std::uint8_t* p = buf.data() + (row * 320 + x) * 3;
                p[0] = static_cast<std::uint8_t>(x & 0xFF);
                p[1] = static_cast<std::uint8_t>(row);
                p[2] = static_cast<std::uint8_t>(x >> 8);
            }
        }
        buf[230400] = 0x5A;
    }
    // The buffer pixel (column, row) that the picture box shows at (sx, sy).
    platform::Color Expected(int column, int row) const {
        return platform::Rgb(column >> 8, row, column & 0xFF);
    }

    std::vector<std::uint8_t> ReadFile(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::unique_ptr<QuillonWindow> window_;
};

TEST_F(QuillonWindowTest, LoadsItsWindowAndAnAddressOnlyInitFile) {
    QuillonWindow& w = Load("127.0.0.1\r\n");
    const platform::Form& form = w.GetForm();
    EXPECT_EQ(form.Caption(), "Quillon Ver1.10");
    EXPECT_EQ(form.BackColor(), platform::Rgb(192, 192, 255));
    EXPECT_EQ(w.Text2.Text(), "127.0.0.1");
    EXPECT_EQ(w.NamedServer(), "127.0.0.1");
    EXPECT_EQ(w.PictureSize, 0);
    EXPECT_EQ(w.Combo1.Text(), "640X480");
    EXPECT_EQ(w.Combo1.Items(), (std::vector<std::string>{"640X480", "320X240"}));
    EXPECT_EQ(w.Label1.Caption(), "サイズ");
    EXPECT_EQ(w.Command3.Caption(), "撮影");
    EXPECT_FALSE(w.Command3.Enabled());
    EXPECT_EQ(w.mnuConnect.Caption(), "接続");
    EXPECT_EQ(w.mnu_Danger.Caption(), "警告");
    EXPECT_EQ(w.mnuEnd.Caption(), "終了");
    EXPECT_EQ(w.Picture2.GetPlace(), (platform::Place{0, 0, 661, 501}));
    EXPECT_EQ(w.Text1.GetPlace(), (platform::Place{8, 512, 257, 25}));
    EXPECT_EQ(w.Command3.GetPlace(), (platform::Place{432, 544, 57, 25}));
    EXPECT_EQ(w.Codec.敷居, 15);
    EXPECT_EQ(w.DrawWidth, -320);
    EXPECT_EQ(w.DrawHeight, 240);
    EXPECT_EQ(hMainWnd, w.Handle());
    EXPECT_TRUE(boxes_.empty());
    w.GetForm().Activate();
    EXPECT_TRUE(form.Topmost());
}

TEST_F(QuillonWindowTest, SizeItems) {
    {
        QuillonWindow& w = Load("SIZE=1\r\n");
        EXPECT_EQ(w.PictureSize, 1);
        EXPECT_EQ(w.Text2.Text(), "SIZE=1") << "the item goes into the address box as it stands";
        EXPECT_EQ(w.NamedServer(), "") << "but it names no server";
        EXPECT_EQ(w.Combo1.Text(), "320X240");
        EXPECT_EQ(w.Picture2.GetPlace(), (platform::Place{0, 0, 365, 277}));
        EXPECT_EQ(w.Text3.GetPlace(), (platform::Place{8, 352, 353, 25}));
        EXPECT_EQ(w.Label1.GetPlace(), (platform::Place{192, 296, 37, 11}));
        EXPECT_LT(w.GetForm().ClientWidth(), 373);
    }
    {
        QuillonWindow& w = Load("127.0.0.1,SIZE\n");
        EXPECT_EQ(w.PictureSize, 0) << "SIZE without a digit";
        EXPECT_EQ(w.Combo1.Text(), "640X480");
    }
    {
        QuillonWindow& w = Load("127.0.0.1\nSIZE2\n");
        EXPECT_EQ(w.PictureSize, 2);
        EXPECT_EQ(w.Combo1.Text(), "640X480");
        EXPECT_EQ(w.Picture2.GetPlace(), (platform::Place{0, 0, 661, 501}));
    }
}

TEST_F(QuillonWindowTest, QuotedItemsAndTheItemLimit) {
    {
        QuillonWindow& w = Load("\"127.0.0.1, the hall\",\"a,b\" , SIZE=1\n");
        EXPECT_EQ(w.Text2.Text(), "127.0.0.1, the hall");
        EXPECT_EQ(w.Items[1], "a,b");
        EXPECT_EQ(w.PictureSize, 1);
        EXPECT_TRUE(boxes_.empty());
    }
    {
        QuillonWindow& w = Load("127.0.0.1,2,3,4,5,6,7,8,9,10,11\n");
        EXPECT_EQ(w.Text2.Text(), "127.0.0.1") << "eleven items are allowed";
        EXPECT_TRUE(boxes_.empty());
    }
    {
        QuillonWindow& w = Load("127.0.0.1,SIZE=1,3,4,5,6,7,8,9,10,11,12\n");
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0], "INIT.TXT ファイルが見つかりません。");
        EXPECT_EQ(w.Text2.Text(), "192.168.0.100");
        EXPECT_EQ(w.PictureSize, 1) << "the size read before the error stays";
    }
}

TEST_F(QuillonWindowTest, AMissingInitFileIsAskedForAndAnEmptyOneIsSaidToBeEmpty) {
    // No dialog can ask (no window): one line names the option and the folder.
    {
        QuillonWindow& w = Load(nullptr);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_NE(boxes_[0].find("--server HOST"), std::string::npos) << boxes_[0];
        EXPECT_NE(boxes_[0].find(PathOf("init.txt")), std::string::npos) << boxes_[0];
        EXPECT_EQ(w.Text2.Text(), "192.168.0.100");
        EXPECT_EQ(w.NamedServer(), "") << "the built-in default is the user's own choice only";
    }
    // A window asks for the address and writes init.txt; a cancelled question writes nothing.
    std::vector<std::optional<std::string>> answers = {std::nullopt, "127.0.0.5"};
    const platform::InputBoxHandler previous =
        platform::SetInputBoxHandler([&](const std::string&, const std::string&, const std::string&) {
            std::optional<std::string> answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        });
    boxes_.clear();
    Load(nullptr);
    EXPECT_FALSE(std::filesystem::exists(PathOf("init.txt")));
    QuillonWindow& w = Load(nullptr);
    platform::SetInputBoxHandler(previous);
    EXPECT_EQ(w.NamedServer(), "127.0.0.5");
    EXPECT_EQ(w.Text2.Text(), "127.0.0.5");
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Load(nullptr).NamedServer(), "127.0.0.5") << "the next start reads the file";

    Load("");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "INIT.TXT ファイルが空です。");
}

TEST_F(QuillonWindowTest, TheServerOptionStandsInForTheFirstItem) {
    WriteInit("127.0.0.1,SIZE=1\n");
    QuillonWindow w;
    w.SetServer("127.0.0.7");
    w.Form_Load();
    EXPECT_EQ(w.Text2.Text(), "127.0.0.7");
    EXPECT_EQ(w.NamedServer(), "127.0.0.7");
    EXPECT_EQ(w.PictureSize, 1) << "the file's other items still count";
}

TEST_F(QuillonWindowTest, PaintsMirroredIntoTheSmallRectangle) {
    QuillonWindow& w = Load("SIZE=1\n");
    FillPicture();
    w.RecvBitMapShow();
    const platform::Surface& s = w.Picture2.GetSurface();
    const platform::Color back = w.Picture2.Background();
    for (int sy = 20; sy < 260; sy += 7) {
        for (int sx = 20; sx < 340; sx += 3) {
            const int column = 319 - (sx - 20);
            const int row = 239 - (sy - 20);
            ASSERT_EQ(s.PixelAt(sx, sy), Expected(column, row)) << sx << "," << sy;
        }
    }
    EXPECT_EQ(s.PixelAt(19, 100), back);
    EXPECT_EQ(s.PixelAt(340, 100), back);
    EXPECT_EQ(s.PixelAt(100, 19), back);
    EXPECT_EQ(s.PixelAt(100, 260), back);
    EXPECT_EQ(w.Stats().Frames(), 1);
}

TEST_F(QuillonWindowTest, PaintsMirroredAndDoubledIntoTheLargeRectangle) {
    QuillonWindow& w = Load("127.0.0.1\n");
    FillPicture();
    w.RecvBitMapShow();
    const platform::Surface& s = w.Picture2.GetSurface();
    for (int sy = 10; sy < 490; sy += 5) {
        for (int sx = 10; sx < 650; sx += 3) {
            const int column = 319 - (sx - 10) / 2;
            const int row = 239 - (sy - 10) / 2;
            ASSERT_EQ(s.PixelAt(sx, sy), Expected(column, row)) << sx << "," << sy;
        }
    }
    EXPECT_EQ(s.PixelAt(9, 200), w.Picture2.Background());
    EXPECT_EQ(s.PixelAt(650, 200), w.Picture2.Background());
    EXPECT_EQ(s.PixelAt(200, 490), w.Picture2.Background());

    // Choosing 320X240 clears the area; the next frame is painted unscaled at 20, 20.
    ASSERT_TRUE(w.Combo1.UserSelect(1));
    EXPECT_EQ(w.PictureSize, 1);
    EXPECT_EQ(s.PixelAt(30, 30), w.Picture2.Background());
    w.RecvBitMapShow();
    EXPECT_EQ(s.PixelAt(20, 20), Expected(319, 239));
}

TEST_F(QuillonWindowTest, SnapshotHoldsTheWholeBufferAndReplacesTheOldFile) {
    QuillonWindow& w = Load("SIZE=1\n");
    FillPicture();
    // An older, longer file must not leave its tail behind.
    std::ofstream(PathOf("PICTUTE.BMP"), std::ios::binary) << std::string(300000, 'x');
    w.RecvBitMapShow();
    EXPECT_EQ(ReadFile("PICTUTE.BMP").size(), 300000u) << "no snapshot without a request";
    w.Command3_Click();
    w.RecvBitMapShow();
    EXPECT_EQ(w.fSnap, platform::kFalse);
    const std::vector<std::uint8_t> small = ReadFile("PICTUTE.BMP");
    ASSERT_EQ(small.size(), 230455u);
    const auto u32 = [&](int at) {
        return small[at] | small[at + 1] << 8 | small[at + 2] << 16 |
               static_cast<std::uint32_t>(small[at + 3]) << 24;
    };
    EXPECT_EQ(small[0], 'B');
    EXPECT_EQ(small[1], 'M');
    EXPECT_EQ(u32(2), 230454u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 320u);
    EXPECT_EQ(u32(22), 240u);
    EXPECT_EQ(u32(34), 230401u);
    EXPECT_TRUE(std::equal(w.BmpBuf.begin(), w.BmpBuf.end(), small.begin() + 54));

    ASSERT_TRUE(w.Combo1.UserSelect(0));
    w.Command3_Click();
    w.RecvBitMapShow();
    EXPECT_EQ(ReadFile("PICTUTE.BMP"), small) << "the same frame gives the same file at either size";
}

TEST_F(QuillonWindowTest, ASnapshotThatCannotBeWrittenIsReportedAndSpent) {
    QuillonWindow& w = Load("127.0.0.1\n");
    std::filesystem::create_directory(PathOf("PICTUTE.BMP"));  // a folder in the file's place
    w.Command3_Click();
    w.RecvBitMapShow();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "画像を保存できません: " + PathOf("PICTUTE.BMP"));
    EXPECT_EQ(w.fSnap, platform::kFalse);
    w.RecvBitMapShow();
    EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(QuillonWindowTest, OnlyTheExitItemEndsTheProgram) {
    QuillonWindow& w = Load("127.0.0.1\n");
    EXPECT_FALSE(w.GetForm().RequestClose(platform::UnloadMode::kCloseBox));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "終了ボタンで終了してください。");
    EXPECT_FALSE(w.GetForm().Unloaded());

    // Nothing was started: Exit tears down first.
    ASSERT_TRUE(w.mnuEnd.UserClick());
    EXPECT_TRUE(w.GetForm().Unloaded());
    EXPECT_EQ(hMainWnd, nullptr);
}

TEST_F(QuillonWindowTest, ThePaintingGuardSkipsANestedCall) {
    QuillonWindow& w = Load("127.0.0.1\n");
    w.fBusy = platform::kTrue;
    w.fSnap = platform::kTrue;
    w.RecvBitMapShow();
    EXPECT_EQ(w.Stats().Frames(), 0);
    EXPECT_EQ(w.fSnap, platform::kTrue) << "the request waits for a real painting";
}

}  // namespace
