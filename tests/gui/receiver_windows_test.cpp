// Quillon's and Brondel's real windows (on Qt's offscreen platform, and on Xvfb where it is installed): the
// decoded picture shows mirrored in its rectangle, the Japanese captions are drawn, a failed connection is
// read whole in the status box, and the window stays one native window. STREAM_SCREENSHOT_DIR=/some/folder
// keeps pictures of the windows there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <optional>
#include <string>
#include <vector>

#include "csock_test_util.h"
#include "gui_test_util.h"
#include "media/picture_file.h"
#include "platform/ui/qt/gui_frontend.h"
#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "receiver/brondel_window.h"
#include "receiver/link_keeper.h"
#include "receiver/quillon_window.h"
#include "receiver_test_util.h"

namespace {

std::vector<std::uint8_t> Sample(const char* name) {
    std::vector<std::uint8_t> picture;
    std::string error;
    EXPECT_TRUE(picture_file::ReadPicture(std::string(STREAM_SAMPLES_DIR) + "/" + name, picture, &error))
        << error;
    picture.resize(230400);
    return picture;
}

// The picture's pixel (column, buffer row) as Qt reads it.
QRgb Pixel(const std::vector<std::uint8_t>& picture, int column, int row) {
    const std::uint8_t* p = picture.data() + (row * 320 + column) * 3;
    return qRgb(p[2], p[1], p[0]);
}

class ReceiverWindows : public receiver_test::ReceiverTest {
  protected:
    static void Keep(platform::GuiFrontend& gui, const char* name) {
        const QString folder = qEnvironmentVariable("STREAM_SCREENSHOT_DIR");
        if (!folder.isEmpty()) {
            EXPECT_TRUE(gui.Window()->grab().save(folder + "/" + name));
        }
    }
    // Loads the window, shows it and waits until it is the active one, as keys need; null when it never is.
    template <typename Window>
    static QMainWindow* ShowActive(Window& w, platform::GuiFrontend& gui) {
        gui.SetQuitOnUnload(false);
        w.Form_Load();
        gui.Show();
        QMainWindow* window = gui.Window();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window) ? window : nullptr;
    }
    // Waits until the status box's text begins with start, then tells whether the box shows it whole.
    static bool StatusReadsWhole(platform::GuiFrontend& gui, const platform::Control& status,
                                 const std::string& start) {
        EXPECT_TRUE(WaitFor([&] { return status.Text().rfind(start, 0) == 0; })) << status.Text();
        auto* edit = qobject_cast<QLineEdit*>(gui.Widget(status.Name()));
        const gui_test::EditViews views = gui_test::ViewsOf(*edit);
        return views.start == views.end && views.shown == views.start;
    }
};

TEST_F(ReceiverWindows, ConnectFailureIsReadWholeInEveryStatusBox) {
    const csock_test::ReservedPort video;  // nothing listens on either
    const csock_test::ReservedPort sound;
    const receiver::Ports nobody{video.Port(), sound.Port()};
    const std::string refused = "拒否されました (10061)";
    WriteInit("127.0.0.1,127.0.0.1,200\n");
    {
        receiver::QuillonWindow w(nobody);
        platform::GuiFrontend gui(w.GetForm());
        w.Form_Load();
        gui.Show();
        w.mnuConnect_Click();
        EXPECT_TRUE(StatusReadsWhole(gui, w.Text1, refused)) << "640X480 layout";
        EXPECT_EQ(w.Text1.Text(), refused);
        w.Combo1.UserSelect(1);  // the 320X240 layout's box is narrower
        ASSERT_EQ(w.Text1.GetPlace().width, 153);
        EXPECT_TRUE(StatusReadsWhole(gui, w.Text1, refused)) << "320X240 layout";
        // Every state and reason the status box can show.
        std::vector<std::string> texts = {receiver::RetryText(12), receiver::kConnectingText,
                                          receiver::kTurnedAwayText, receiver::ConnectFailedText(12345)};
        for (int error : {10013, 10049, 10050, 10051, 10053, 10054, 10055, 10060, 10064, 10065, 11001})
            texts.push_back(receiver::ConnectFailedText(error));
        for (const std::string& text : texts) {
            w.Text1.SetText(text);
            EXPECT_TRUE(StatusReadsWhole(gui, w.Text1, text)) << text;
        }
        Keep(gui, "quillon_refused.png");
        w.Quit();
    }
    {
        receiver::BrondelWindow w(nobody);
        platform::GuiFrontend gui(w.GetForm());
        w.Form_Load();
        gui.Show();
        w.mnuCon_Click(1);
        EXPECT_TRUE(StatusReadsWhole(gui, *w.Text1[1], refused));
        w.Text1[1]->SetText(receiver::RetryText(12));
        EXPECT_TRUE(StatusReadsWhole(gui, *w.Text1[1], receiver::RetryText(12)));
        Keep(gui, "brondel_refused.png");
        w.Quit();
    }
}

TEST_F(ReceiverWindows, OneNativeWindowBeforeAndAfterTheFirstActivation) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server (ctest -R gui_tests_x11)";
    WriteInit("127.0.0.1\n");
    receiver::QuillonWindow w;
    platform::GuiFrontend gui(w.GetForm());
    w.Form_Load();
    gui.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(gui.Window()));
    const WId native = gui.Window()->windowHandle()->winId();  // the X window's id
    ASSERT_FALSE(w.GetForm().Topmost());
    gui.Window()->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return w.GetForm().Topmost(); }));  // the activation handler ran
    Settle(100);
    EXPECT_EQ(gui.Window()->windowHandle()->winId(), native);
    EXPECT_TRUE(gui.Window()->windowHandle()->isExposed());
    EXPECT_TRUE(gui.Window()->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
}

TEST_F(ReceiverWindows, TheStartUpBoxOpensAboveAnotherAlwaysOnTopWindow) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server (ctest -R gui_tests_x11)";
    // Another program's always-on-top window over the whole screen, in red.
    QWidget cover;
    cover.setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
    QPalette red = cover.palette();
    red.setColor(QPalette::Window, Qt::red);
    cover.setPalette(red);
    cover.setAutoFillBackground(true);
    cover.setGeometry(cover.screen()->geometry());
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    Settle(200);

    WriteInit("127.0.0.1,2,3,4,5,6,7,8,9,10,11,12\n");  // the designed box at start-up
    receiver::QuillonWindow w;
    platform::GuiFrontend gui(w.GetForm());
    std::optional<QRgb> middle;  // the screen's pixel in the middle of the box
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        QTest::qWait(300);  // a window manager stacks it meanwhile
        const QPoint at = box->frameGeometry().center();
        middle = box->screen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixel(0, 0);
        box->accept();
    });
    w.Form_Load();
    ASSERT_TRUE(middle.has_value());
    EXPECT_NE(*middle, qRgb(255, 0, 0)) << "the box opened under the other window";
}

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

    // The session ends (here a refused attempt): the picture turns grey under the time it was shown.
    EXPECT_FALSE(gui.Widget("Label2")->isVisible());
    w.mnuConnect_Click();
    ASSERT_TRUE(WaitFor([&] { return w.Text1.Text() != receiver::kConnectingText; }));
    QWidget* label = gui.Widget("Label2");
    EXPECT_TRUE(label->isVisible());
    const QImage old = gui.Widget("Picture2")->grab().toImage();
    const QRgb grey = old.pixel(330, 300);
    EXPECT_TRUE(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey));
    Keep(gui, "quillon_old_picture.png");
}

TEST_F(ReceiverWindows, KeysChooseTheMenusAndTheSnapshotButtonWithoutChangingCaptions) {
    WriteInit("127.0.0.1\n");
    const csock_test::ReservedPort video;  // nothing listens on either
    const csock_test::ReservedPort sound;
    receiver::QuillonWindow w({video.Port(), sound.Port()});
    platform::GuiFrontend gui(w.GetForm());
    QMainWindow* window = ShowActive(w, gui);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(gui.Action("mnuConnect")->text(), "接続");
    QTest::keyClick(window, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(w.Text1.Text(), receiver::kConnectingText) << "Alt+C chose 接続";
    ASSERT_TRUE(WaitFor([&] { return w.mnuConnect.Caption() == "接続"; }));  // refused
    w.Command3.SetEnabled(true);
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(WaitFor([&] { return w.fSnap == platform::kTrue; })) << "Ctrl+S pressed 撮影";
    QTest::keyClick(window, Qt::Key_F10);  // the menu bar, its first item (警告) highlighted
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(w.fDanger, platform::kTrue) << "F10 and Enter chose 警告";
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(w.GetForm().Unloaded()) << "Ctrl+Q chose 終了";
}

// Brondel's keys reach each server's own items: Alt+N its 接続N, Ctrl+N its 撮影 button.
TEST_F(ReceiverWindows, BrondelKeysChooseEachServersItemsAndSnapshotButton) {
    WriteInit("127.0.0.1,127.0.0.2,200\n");
    const csock_test::ReservedPort video;  // nothing listens on either
    const csock_test::ReservedPort sound;
    receiver::BrondelWindow w({video.Port(), sound.Port()});
    platform::GuiFrontend gui(w.GetForm());
    QMainWindow* window = ShowActive(w, gui);
    ASSERT_NE(window, nullptr);
    QTest::keyClick(window, Qt::Key_2, Qt::AltModifier);
    EXPECT_EQ(w.Text1[1]->Text(), receiver::kConnectingText) << "Alt+2 chose 接続2";
    EXPECT_NE(w.Text1[0]->Text(), receiver::kConnectingText) << "and not 接続1";
    ASSERT_TRUE(WaitFor([&] { return w.Text1[1]->Text() != receiver::kConnectingText; }));  // refused
    w.Command3[1]->SetEnabled(true);
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);
    EXPECT_TRUE(WaitFor([&] { return w.fSnap == platform::kTrue; })) << "Ctrl+2 pressed the second 撮影";
    EXPECT_EQ(w.SnapIndex, 1);
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(w.GetForm().Unloaded()) << "Ctrl+Q chose 終了";
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
