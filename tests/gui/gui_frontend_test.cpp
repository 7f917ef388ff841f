#include "platform/ui/qt/gui_frontend.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <vector>

#include "gui_test_util.h"
#include "platform/capture/testpattern.h"
#include "platform/ui/controls.h"
#include "platform/window/msgbox.h"
#include "platform/window/window.h"

using namespace platform;

namespace {

// A receiver-like window at its large layout.
void BuildReceiver(Form& form) {
    form.SetCaption("Quillon Ver1.10");
    form.SetClientSize(664, 580);
    form.SetBackColor(Rgb(192, 192, 255));
    form.SetFont({"ＭＳ 明朝", 9});
    form.AddPictureBox("Picture2", {0, 0, 661, 501});
    form.AddTextBox("Text1", {8, 512, 257, 25}).MarkAsStatus();
    form.AddTextBox("Text2", {272, 512, 217, 25}, "192.168.0.100");
    form.AddTextBox("Text3", {8, 544, 400, 25});
    form.AddLabel("Label1", "サイズ", {512, 520, 37, 11});
    ComboBox& combo = form.AddComboBox("Combo1", {560, 512, 97, 20}, "640X480");
    combo.AddItem("640X480");
    combo.AddItem("320X240");
    form.AddButton("Command3", "撮影", {432, 544, 57, 25}).SetEnabled(false);
    form.AddMenu("mnu_Danger", "警告");
    form.AddMenu("mnuConnect", "接続");
    form.AddMenu("mnuEnd", "終了");
}

// A server-like window with a nested menu and a list.
void BuildServer(Form& form) {
    form.SetCaption("Tessaly V1.10");
    form.SetClientSize(560, 300);
    form.SetFont({"ＭＳ 明朝", 9});
    form.AddPictureBox("Preview", {20, 20, 320, 240});
    ListBox& list = form.AddListBox("List1", {352, 20, 196, 208});
    list.AddItem("1 127.0.0.1 0");
    list.AddItem("2 127.0.0.1 1");
    list.AddItem("Connect=2  /Max:10");
    form.AddTextBox("Text1", {352, 236, 196, 25}, "待機します。(127.0.0.1)");
    form.AddMenu("mnuServer", "サーバー");
    form.AddMenu("mnuH", "保安").AddItem("mnUSec", "セキュリティモード").SetChecked(true);
    form.AddMenu("mnuEND", "終了");
}

std::vector<std::uint8_t> TestPicture() {
    std::vector<std::uint8_t> pic(TestPattern::kFrameBytes + 1);
    TestPattern().Render(pic.data(), 20, 0);
    return pic;
}

BitmapInfoHeader PictureHeader() {
    BitmapInfoHeader h;
    h.biWidth = 320;
    h.biHeight = 240;
    return h;
}

template <class W>
W* WidgetOf(const GuiFrontend& gui, const char* name) {
    return qobject_cast<W*>(gui.Widget(name));
}

}  // namespace

TEST(GuiFrontend, WindowShowsCaptionClientSizeFontAndControlsAtTheirPlaces) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    GuiFrontend gui(form);
    gui.Show();
    EXPECT_EQ(gui.Window()->windowTitle(), "Quillon Ver1.10");
    EXPECT_EQ(gui.Window()->centralWidget()->size(), QSize(664, 580));
    EXPECT_EQ(gui.Widget("Text2")->geometry(), QRect(272, 512, 217, 25));
    EXPECT_EQ(gui.Widget("Picture2")->geometry(), QRect(0, 0, 661, 501));
    EXPECT_EQ(WidgetOf<QLabel>(gui, "Label1")->text(), "サイズ");
    EXPECT_EQ(WidgetOf<QLineEdit>(gui, "Text2")->text(), "192.168.0.100");
    EXPECT_EQ(WidgetOf<QComboBox>(gui, "Combo1")->currentText(), "640X480");
    EXPECT_EQ(WidgetOf<QComboBox>(gui, "Combo1")->count(), 2);
    EXPECT_FALSE(gui.Widget("Command3")->isEnabled());
    EXPECT_EQ(gui.Action("mnuConnect")->text(), "接続");
    EXPECT_EQ(gui.Widget("Text2")->palette().color(QPalette::Base).isValid(), true);
    EXPECT_EQ(gui.Window()->centralWidget()->palette().color(QPalette::Window), QColor(192, 192, 255));
    // The window's Mincho font is shown in IPA Mincho, which is installed with the suite.
    EXPECT_EQ(QFontInfo(gui.Widget("Label1")->font()).family(), "IPAMincho");
    EXPECT_EQ(GuiFrontend::FontFamilyFor("ＭＳ 明朝"), "IPAMincho");
    EXPECT_EQ(GuiFrontend::FontFamilyFor("ＭＳ ゴシック"), "IPAGothic");
    EXPECT_EQ(GuiFrontend::FontFamilyFor("DejaVu Sans"), "DejaVu Sans");
}

TEST(GuiFrontend, ChangesMadeByTheLogicReachTheWidgets) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    GuiFrontend gui(form);
    gui.Show();
    form.FindMenu("mnuConnect")->SetCaption("切断");
    form.FindMenu("mnuEnd")->SetEnabled(false);
    form.FindControl("Command3")->SetEnabled(true);
    form.FindControl("Text1")->SetText("接続しました。");
    form.FindControl("Text3")->SetVisible(false);
    form.FindControl("Text2")->SetFont({"", 12});
    form.FindControl("Text1")->Move(8, 288, 153, 25);
    form.SetClientSize(365, 380);
    form.SetTopmost(true);
    form.SetCaption("changed");
    EXPECT_EQ(gui.Action("mnuConnect")->text(), "切断");
    EXPECT_FALSE(gui.Action("mnuEnd")->isEnabled());
    EXPECT_TRUE(gui.Widget("Command3")->isEnabled());
    EXPECT_EQ(WidgetOf<QLineEdit>(gui, "Text1")->text(), "接続しました。");
    EXPECT_FALSE(gui.Widget("Text3")->isVisible());
    EXPECT_EQ(gui.Widget("Text2")->font().pointSizeF(), 12);
    EXPECT_EQ(gui.Widget("Text2")->font().family(), "IPAMincho");
    EXPECT_EQ(gui.Widget("Text1")->geometry(), QRect(8, 288, 153, 25));
    EXPECT_EQ(gui.Window()->centralWidget()->size(), QSize(365, 380));
    EXPECT_TRUE(gui.Window()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(gui.Window()->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(gui.Window()->isVisible());
    EXPECT_EQ(gui.Window()->windowTitle(), "changed");
}

TEST(GuiFrontend, StatusBoxShowsTheStartOfATextLongerThanItself) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    GuiFrontend gui(form);
    gui.Show();
    auto* status = WidgetOf<QLineEdit>(gui, "Text1");
    const QImage empty = status->grab().toImage();
    form.FindControl("Text1")->SetText("接続できませんでした。相手のコンピューターが接続を拒否しました。");
    const gui_test::EditViews views = gui_test::ViewsOf(*status);
    EXPECT_NE(views.shown, empty);
    EXPECT_NE(views.start, views.end);  // the text is longer than the box
    EXPECT_EQ(views.shown, views.start);
}

TEST(GuiFrontend, MenusFireTheirHandlersAndShowCheckMarksTheLogicKeeps) {
    Form form("StreamingVideo");
    BuildServer(form);
    Menu& server = *form.FindMenu("mnuServer");
    Menu& sec = *form.FindMenu("mnUSec");
    int served = 0;
    server.OnClick([&] {
        ++served;
        server.SetEnabled(false);
    });
    sec.OnClick([&] { sec.SetChecked(!sec.Checked()); });
    GuiFrontend gui(form);
    gui.Show();
    EXPECT_TRUE(gui.Action("mnUSec")->isChecked());
    gui.Action("mnuServer")->trigger();
    gui.Action("mnuServer")->trigger();  // disabled now: nothing
    EXPECT_EQ(served, 1);
    gui.Action("mnUSec")->trigger();
    EXPECT_FALSE(sec.Checked());
    EXPECT_FALSE(gui.Action("mnUSec")->isChecked());
    gui.Action("mnUSec")->trigger();
    EXPECT_TRUE(gui.Action("mnUSec")->isChecked());
}

TEST(GuiFrontend, UserActionsOnControlsReachTheHandlers) {
    Form form("StreamingVideo");
    BuildServer(form);
    form.SetClientSize(700, 340);
    ComboBox& combo = form.AddComboBox("Combo1", {560, 270, 97, 20}, "640X480");
    combo.AddItem("640X480");
    combo.AddItem("320X240");
    form.AddTextBox("Text2", {20, 270, 217, 25}, "192.168.0.100");
    Button& snap = form.AddButton("Command3", "撮影", {432, 270, 57, 25});
    ListBox& list = *form.Find<ListBox>("List1");
    std::string dropped;
    list.OnDblClick([&] { dropped = list.SelectedText(); });
    int chosen = -1;
    combo.OnClick([&] { chosen = combo.ListIndex(); });
    OptionButton& one = form.AddOptionButton("Option1(0)", "音声１", {232, 304, 57, 25});
    OptionButton& two = form.AddOptionButton("Option1(1)", "音声２", {560, 304, 57, 25});
    one.SetValue(true);
    int snaps = 0;
    snap.OnClick([&] { ++snaps; });
    GuiFrontend gui(form);
    gui.Show();

    auto* lw = WidgetOf<QListWidget>(gui, "List1");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(gui.Window()));
    const QRect row = lw->visualItemRect(lw->item(1));
    // A real double-click: press and release, then the double-click in place of the second press.
    QTest::mouseClick(lw->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(lw->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseRelease(lw->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(dropped, "2 127.0.0.1 1");

    emit WidgetOf<QComboBox>(gui, "Combo1")->activated(1);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(combo.Text(), "320X240");
    EXPECT_EQ(WidgetOf<QComboBox>(gui, "Combo1")->currentText(), "320X240");

    auto* radio_two = WidgetOf<QRadioButton>(gui, "Option1(1)");
    auto* radio_one = WidgetOf<QRadioButton>(gui, "Option1(0)");
    EXPECT_TRUE(radio_one->isChecked());
    radio_two->click();
    EXPECT_TRUE(two.Value());
    EXPECT_FALSE(radio_one->isChecked());
    radio_two->click();  // clicking the selected one keeps it selected
    EXPECT_TRUE(radio_two->isChecked());

    WidgetOf<QPushButton>(gui, "Command3")->click();
    EXPECT_EQ(snaps, 1);

    auto* address = WidgetOf<QLineEdit>(gui, "Text2");
    address->clear();
    QTest::keyClicks(address, "127.0.0.1");
    EXPECT_EQ(form.FindControl("Text2")->Text(), "127.0.0.1");
}

TEST(GuiFrontend, PictureBoxShowsItsSurfaceMirrored) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    PictureBox& box = *form.Find<PictureBox>("Picture2");
    box.SetBackColor(Rgb(192, 192, 255));
    box.Cls();
    GuiFrontend gui(form);
    gui.Show();
    const auto pic = TestPicture();
    box.StretchDIBits(650, 10, -640, 480, 0, 0, 320, 240, pic.data(), PictureHeader());
    const QImage shown = gui.Widget("Picture2")->grab().toImage();
    // The scene's top-left bar (white) is at the window's top right; the black bar at its top left.
    EXPECT_EQ(QColor(shown.pixel(640, 20)), QColor(191, 191, 191));
    EXPECT_EQ(QColor(shown.pixel(20, 20)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(5, 5)), QColor(192, 192, 255));
    for (int x : {12, 300, 647}) {
        for (int y : {12, 200, 487}) {
            EXPECT_EQ(QColor(shown.pixel(x, y)), QColor(box.GetSurface().Row(y)[x])) << x << "," << y;
        }
    }
}

TEST(GuiFrontend, CloseBoxAsksTheFormWhichMayRefuse) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    bool refuse = true;
    std::vector<UnloadMode> asked;
    form.OnQueryUnload([&](UnloadMode mode) {
        asked.push_back(mode);
        return refuse;
    });
    GuiFrontend gui(form);
    gui.SetQuitOnUnload(false);
    gui.Show();
    EXPECT_FALSE(gui.Window()->close());
    ASSERT_TRUE(RunUntil([&] { return asked.size() == 1; }, 2000));
    EXPECT_EQ(asked[0], UnloadMode::kCloseBox);
    EXPECT_TRUE(gui.Window()->isVisible());
    EXPECT_FALSE(form.Unloaded());
    refuse = false;
    gui.Window()->close();
    ASSERT_TRUE(RunUntil([&] { return form.Unloaded(); }, 2000));
    EXPECT_FALSE(gui.Window()->isVisible());
}

TEST(GuiFrontend, UnloadFromTheLogicClosesTheWindow) {
    Form form("StreamingVideo");
    BuildServer(form);
    GuiFrontend gui(form);
    gui.SetQuitOnUnload(false);
    gui.Show();
    form.Unload();
    EXPECT_FALSE(gui.Window()->isVisible());
}

TEST(GuiFrontend, MessageBoxesAreModalDialogsWithTheProgramsTitleAndJapaneseButtons) {
    Form form("StreamingVideo");
    BuildServer(form);
    std::vector<std::string> seen;  // "title|text|button,button" of each box
    // Answers the box once it is open, as the user would.
    auto answer_when_open = [&](QMessageBox::StandardButton answer) {
        QTimer::singleShot(0, [&seen, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            QStringList buttons;
            for (auto b : {QMessageBox::Ok, QMessageBox::Cancel})
                if (box->button(b)) buttons << box->button(b)->text();
            seen.push_back((box->windowTitle() + "|" + box->text() + "|" + buttons.join(",")).toStdString());
            box->button(answer)->click();
        });
    };
    SetProgramTitle("Tessaly");
    {
        GuiFrontend gui(form);
        gui.Show();
        answer_when_open(QMessageBox::Cancel);
        EXPECT_EQ(MessageBoxOkCancel("Disconnect=1 127.0.0.1 0"), MsgBoxResult::kCancel);
        answer_when_open(QMessageBox::Ok);
        EXPECT_EQ(MessageBoxOkCancel("Disconnect=1 127.0.0.1 0"), MsgBoxResult::kOk);
        answer_when_open(QMessageBox::Ok);
        MessageBox("waveInOpen() で失敗しました");
        answer_when_open(QMessageBox::Ok);
        MessageBox("BINDできません。", "Quillon Ver1.10");
        QTimer::singleShot(0, [] {
            auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(input, nullptr);
            input->setTextValue(" 127.0.0.5 ");
            input->accept();
        });
        EXPECT_EQ(InputBox("サーバーのアドレス:"), "127.0.0.5");
    }
    SetProgramTitle({});
    EXPECT_EQ(seen, (std::vector<std::string>{"Tessaly|Disconnect=1 127.0.0.1 0|OK,キャンセル",
                                              "Tessaly|Disconnect=1 127.0.0.1 0|OK,キャンセル",
                                              "Tessaly|waveInOpen() で失敗しました|OK",
                                              "Quillon Ver1.10|BINDできません。|OK"}));
    // Without the front-end the answer is OK at once (a line on standard error).
    EXPECT_EQ(MessageBoxOkCancel("x", "t"), MsgBoxResult::kOk);
}

TEST(GuiFrontend, JapaneseTextIsDrawnWithRealGlyphs) {
    Form form("StreamingVideo");
    BuildReceiver(form);
    PictureBox& box = *form.Find<PictureBox>("Picture2");
    box.Cls();
    const auto pic = TestPicture();
    box.StretchDIBits(650, 10, -640, 480, 0, 0, 320, 240, pic.data(), PictureHeader());
    form.FindControl("Text1")->SetText("接続しました。");
    GuiFrontend gui(form);
    gui.Show();
    QWidget* label = gui.Widget("Label1");
    const QFontMetrics metrics(label->font());
    for (char16_t c : std::u16string(u"サイズ撮影接続終了")) EXPECT_TRUE(metrics.inFont(QChar(c))) << int(c);
    // The caption's pixels: some dark ink on the window's colour.
    const QImage shown = label->grab().toImage();
    int ink = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) ink += qGray(shown.pixel(x, y)) < 100;
    EXPECT_GT(ink, 10);
    // STREAM_SCREENSHOT_DIR=/some/folder keeps pictures of the sample windows to look at.
    const QString folder = qEnvironmentVariable("STREAM_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(gui.Window()->grab().save(folder + "/receiver_window.png"));
        Form server("StreamingVideo");
        BuildServer(server);
        PictureBox& preview = *server.Find<PictureBox>("Preview");
        preview.StretchDIBits(0, 0, 320, 240, 0, 0, 320, 240, pic.data(), PictureHeader());
        GuiFrontend server_gui(server);
        server_gui.Show();
        EXPECT_TRUE(server_gui.Window()->grab().save(folder + "/server_window.png"));
    }
}

TEST(GuiFrontend, ActivatingTheWindowCallsTheFormsHandler) {
    Form form("StreamingVideo");
    BuildServer(form);
    int activations = 0;
    form.OnActivate([&] {
        ++activations;
        form.SetTopmost(true);  // as the programs do on every activation
    });
    GuiFrontend gui(form);
    gui.Show();
    const QWindow* native = gui.Window()->windowHandle();
    gui.Window()->activateWindow();
    ASSERT_TRUE(RunUntil([&] { return activations >= 1; }, 10000));
    EXPECT_TRUE(gui.Window()->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(gui.Window()->windowHandle(), native);
    EXPECT_TRUE(gui.Window()->isVisible());
}
