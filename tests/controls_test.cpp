#include "platform/ui/controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

namespace {

// Records the changes an observable reports.
struct Recorder {
    std::vector<Property> seen;
    Observable::Listener Listener() {
        return [this](Property p) { seen.push_back(p); };
    }
};

}  // namespace

TEST(Controls, PropertiesNotifyOnlyRealChangesAndNeverFireHandlers) {
    Form form("F");
    TextBox& text = form.AddTextBox("Text1", {8, 512, 257, 25});
    Recorder rec;
    text.Subscribe(rec.Listener());
    int changes = 0;
    text.OnChange([&] { ++changes; });

    text.SetText("接続しました。");
    text.SetText("接続しました。");  // same text: no change
    text.SetEnabled(false);
    text.Move(8, 288, 153, 25);
    text.Move(8, 288);  // same place
    text.SetFont({"", 12});
    text.SetBackColor(Rgb(192, 192, 255));
    EXPECT_EQ(rec.seen, (std::vector<Property>{Property::kText, Property::kEnabled, Property::kPlace,
                                               Property::kFont, Property::kBackColor}));
    EXPECT_EQ(changes, 0);  // code never fires the user's events
    EXPECT_EQ(text.GetPlace(), (Place{8, 288, 153, 25}));

    // The user's edits do, unless the box is locked or disabled.
    text.UserEdit("typed");
    EXPECT_EQ(changes, 0);
    text.SetEnabled(true);
    text.UserEdit("typed");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(text.Text(), "typed");
    text.SetLocked(true);
    text.UserEdit("again");
    EXPECT_EQ(text.Text(), "typed");
}

TEST(Controls, ListenersMayUnsubscribeAndSubscribeWhileBeingNotified) {
    Form form("F");
    Label& label = form.AddLabel("Label1", "サイズ", {512, 520, 37, 11});
    int first = 0;
    int second = 0;
    int late = 0;
    int id1 = 0;
    id1 = label.Subscribe([&](Property) {
        ++first;
        label.Unsubscribe(id1);
        label.Subscribe([&](Property) { ++late; });
    });
    label.Subscribe([&](Property) { ++second; });
    label.SetCaption("a");
    label.SetCaption("b");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_GE(late, 1);
}

TEST(Controls, ButtonsAndMenusIgnoreClicksWhileDisabledOrHidden) {
    Form form("F");
    Button& snap = form.AddButton("Command3", "撮影", {432, 544, 57, 25});
    int clicks = 0;
    snap.OnClick([&] { ++clicks; });
    snap.SetEnabled(false);
    EXPECT_FALSE(snap.UserClick());
    snap.SetEnabled(true);
    EXPECT_TRUE(snap.UserClick());
    snap.SetVisible(false);
    EXPECT_FALSE(snap.UserClick());
    EXPECT_EQ(clicks, 1);

    Menu& server = form.AddMenu("mnuServer", "サーバー");
    int served = 0;
    server.OnClick([&] {
        ++served;
        server.SetEnabled(false);  // as the server's listen command does
    });
    EXPECT_TRUE(server.UserClick());
    EXPECT_FALSE(server.UserClick());
    EXPECT_EQ(served, 1);
}

TEST(Controls, NestedMenusAreFoundAndKeepCheckMarksAndCaptions) {
    Form form("StreamingVideo");
    form.AddMenu("mnuServer", "サーバー");
    Menu& guard = form.AddMenu("mnuH", "保安");
    Menu& sec = guard.AddItem("mnUSec", "セキュリティモード");
    form.AddMenu("mnuEND", "終了");
    ASSERT_EQ(form.FindMenu("mnUSec"), &sec);
    EXPECT_EQ(form.FindMenu("nothing"), nullptr);
    EXPECT_EQ(form.Menus().size(), 3u);

    sec.OnClick([&] { sec.SetChecked(!sec.Checked()); });
    Recorder rec;
    sec.Subscribe(rec.Listener());
    sec.UserClick();
    EXPECT_TRUE(sec.Checked());
    sec.UserClick();
    EXPECT_FALSE(sec.Checked());
    EXPECT_EQ(rec.seen, (std::vector<Property>{Property::kChecked, Property::kChecked}));

    Menu& connect = form.AddMenu("mnuConnect", "接続");
    connect.SetCaption("切断");
    EXPECT_EQ(connect.Caption(), "切断");
}

TEST(Controls, ListSelectionFollowsRemovalsAndClearing) {
    Form form("F");
    ListBox& list = form.AddListBox("List1", {});
    for (const char* row : {"1 127.0.0.1 0", "2 127.0.0.1 1", "3 127.0.0.1 0", "Connect=3  /Max:10"})
        list.AddItem(row);
    list.SetListIndex(2);
    EXPECT_EQ(list.SelectedText(), "3 127.0.0.1 0");
    list.RemoveItem(0);  // a row above the selection moves it up
    EXPECT_EQ(list.ListIndex(), 1);
    EXPECT_EQ(list.SelectedText(), "3 127.0.0.1 0");
    list.RemoveItem(1);  // the selected row itself
    EXPECT_EQ(list.ListIndex(), -1);
    EXPECT_EQ(list.SelectedText(), "");
    list.RemoveItem(7);  // outside: nothing
    EXPECT_EQ(list.ListCount(), 2);
    EXPECT_EQ(list.List(5), "");
    list.SetListIndex(9);
    EXPECT_EQ(list.ListIndex(), -1);
    list.SetListIndex(1);
    list.Clear();
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_EQ(list.ListIndex(), -1);
}

TEST(Controls, DoubleClickSelectsTheRowBeforeTheHandlerRuns) {
    Form form("F");
    ListBox& list = form.AddListBox("List1", {});
    list.AddItem("1 127.0.0.1 0");
    list.AddItem("Connect=1  /Max:10");
    std::string seen;
    int clicks = 0;
    list.OnDblClick([&] { seen = list.SelectedText(); });
    list.OnClick([&] { ++clicks; });
    EXPECT_TRUE(list.UserDblClickRow(0));
    EXPECT_EQ(seen, "1 127.0.0.1 0");
    EXPECT_FALSE(list.UserDblClickRow(2));  // no such row
    EXPECT_TRUE(list.UserSelect(1));
    EXPECT_EQ(clicks, 1);
    list.SetEnabled(false);
    EXPECT_FALSE(list.UserSelect(0));
    EXPECT_EQ(list.ListIndex(), 1);
}

TEST(Controls, ComboFieldKeepsItsTextUntilARowIsChosen) {
    Form form("F");
    ComboBox& combo = form.AddComboBox("Combo1", {560, 512, 97, 20});
    combo.SetText("640X480");  // set before the rows exist, as the receiver's load does
    combo.AddItem("640X480");
    combo.AddItem("320X240");
    EXPECT_EQ(combo.Text(), "640X480");
    EXPECT_EQ(combo.ListIndex(), -1);

    int chosen = -2;
    combo.OnClick([&] { chosen = combo.ListIndex(); });
    EXPECT_TRUE(combo.UserSelect(1));
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(combo.Text(), "320X240");
    combo.SetListIndex(0);  // from code: the field follows, no event
    EXPECT_EQ(combo.Text(), "640X480");
    EXPECT_EQ(chosen, 1);
    int edits = 0;
    combo.OnChange([&] { ++edits; });
    combo.UserEdit("800X600");
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(combo.ListIndex(), 0);  // typing does not move the selection
}

TEST(Controls, OptionButtonsExcludeEachOtherWithinTheirGroupOnly) {
    Form form("F");
    OptionButton& one = form.AddOptionButton("Option1(0)", "音声１", {232, 304, 57, 25});
    OptionButton& two = form.AddOptionButton("Option1(1)", "音声２", {560, 304, 57, 25});
    OptionButton& other = form.AddOptionButton("Other", "x", {}, "elsewhere");
    EXPECT_FALSE(one.Value());  // none selected at first
    EXPECT_FALSE(two.Value());
    int clicked = -1;
    one.OnClick([&] { clicked = 0; });
    two.OnClick([&] { clicked = 1; });
    one.SetValue(true);
    other.SetValue(true);
    EXPECT_EQ(clicked, -1);  // selecting from code fires nothing
    EXPECT_TRUE(two.UserChoose());
    EXPECT_EQ(clicked, 1);
    EXPECT_FALSE(one.Value());
    EXPECT_TRUE(two.Value());
    EXPECT_TRUE(other.Value());
}

TEST(Controls, FormFindsControlsByNameAndKind) {
    Form form("StreamingVideo");
    form.AddTextBox("Text2(0)", {8, 272, 217, 25});
    form.AddButton("Command3(0)", "撮影", {232, 272, 57, 25});
    EXPECT_NE(form.Find<TextBox>("Text2(0)"), nullptr);
    EXPECT_EQ(form.Find<TextBox>("Command3(0)"), nullptr);  // wrong kind
    EXPECT_EQ(form.FindControl("Text9"), nullptr);
    EXPECT_EQ(form.FindControl("Command3(0)")->Owner(), &form);
}

TEST(Controls, CloseHandlerMayRefuseTheCloseBoxButNotUnload) {
    Form form("StreamingVideo");
    std::vector<UnloadMode> asked;
    form.OnQueryUnload([&](UnloadMode mode) {
        asked.push_back(mode);
        return mode == UnloadMode::kCloseBox;  // refuse the close box only
    });
    Recorder rec;
    form.Subscribe(rec.Listener());
    EXPECT_FALSE(form.RequestClose(UnloadMode::kCloseBox));
    EXPECT_FALSE(form.Unloaded());
    EXPECT_TRUE(form.RequestClose(UnloadMode::kCode));
    EXPECT_TRUE(form.Unloaded());
    form.Unload();  // once only
    EXPECT_EQ(asked, (std::vector<UnloadMode>{UnloadMode::kCloseBox, UnloadMode::kCode}));
    EXPECT_EQ(rec.seen, std::vector<Property>{Property::kUnloaded});
}

TEST(Controls, ActivationRunsTheHandlerUntilUnloaded) {
    Form form("F");
    int activations = 0;
    form.OnActivate([&] { ++activations; });
    form.Activate();
    form.Activate();
    form.Unload();
    form.Activate();
    EXPECT_EQ(activations, 2);
}

TEST(Controls, FormPropertiesNotify) {
    Form form("F");
    Recorder rec;
    form.Subscribe(rec.Listener());
    form.SetCaption("Quillon Ver1.10");
    form.SetClientSize(662, 342);
    form.SetBackColor(Rgb(192, 192, 255));
    form.SetFont({"ＭＳ 明朝", 9});
    form.SetTopmost(true);
    form.SetTopmost(true);
    EXPECT_EQ(rec.seen, (std::vector<Property>{Property::kText, Property::kClientSize, Property::kBackColor,
                                               Property::kFont, Property::kTopmost}));
    EXPECT_EQ(form.ClientWidth(), 662);
}
