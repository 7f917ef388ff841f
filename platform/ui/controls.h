// platform/ui, what a program's window shows: the control model below, the painting surface of its picture
// boxes (surface.h), the console front-end (console_frontend.h) and, in its own library, the Qt Widgets
// front-end (qt/gui_frontend.h). The model and the console front-end need only Qt Core; the Qt front-end
// also builds on platform/window for its message boxes.
//
// The window and its controls as plain objects that a program's logic drives: a Form with menus and named
// controls (labels, text boxes, list boxes, combo boxes, buttons, option buttons, picture boxes). They hold
// the state (captions, texts, enabled and checked flags, list items and selection, places in pixels, fonts)
// and call the program's handlers on clicks, double-clicks and selections. A front-end (Qt Widgets or the
// console) subscribes to their changes to show them and reports the user's actions back through the
// User... calls. No Qt type appears here, so the logic builds and is tested without a display.
//
// Everything lives on the window thread. Setting a property from code never fires an event handler; only
// the user's actions (or a test standing in for the user) do.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/surface.h"

namespace platform {

// A font by name and size in points; an empty name or a size of 0 takes the form's.
struct FontChoice {
    std::string name;
    double points = 0;
    friend bool operator==(const FontChoice&, const FontChoice&) = default;
};

// A control's place in pixels of the window's client area.
struct Place {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Place&, const Place&) = default;
};

// What changed; front-ends subscribe to these.
enum class Property {
    kText,  // caption or text (the form's caption too)
    kEnabled,
    kVisible,
    kChecked,    // menu check mark, option button value
    kItems,      // list items added, removed or cleared
    kListIndex,  // selection
    kPlace,      // position or size
    kFont,
    kBackColor,
    kLocked,      // text box read-only
    kPicture,     // a picture box's surface was painted
    kClientSize,  // form only
    kTopmost,     // form only
    kUnloaded,    // form only: the window is gone and the program is to end
    kKeys,        // access key or shortcut
};

// The keys that choose a menu or press a button: an access key, a letter or digit pressed with Alt (the
// mnemonic of a caption, without changing the caption's visible text), and a shortcut such as "Ctrl+S".
// Either may be empty.
struct KeyChoice {
    char access = 0;
    std::string shortcut;
    friend bool operator==(const KeyChoice&, const KeyChoice&) = default;
};

// A list of change listeners. A listener may subscribe or unsubscribe others (or itself) while it runs.
class Observable {
  public:
    using Listener = std::function<void(Property)>;

    Observable() = default;
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    // Returns an id for Unsubscribe.
    int Subscribe(Listener listener);
    void Unsubscribe(int id);

  protected:
    void Notify(Property what);

  private:
    struct Entry {
        int id;
        std::shared_ptr<Listener> listener;
    };
    std::vector<Entry> listeners_;
    int next_id_ = 1;
    int notifying_ = 0;
};

enum class ControlKind { kLabel, kTextBox, kListBox, kComboBox, kButton, kOptionButton, kPictureBox };

class Form;

class Control : public Observable {
  public:
    Control(ControlKind kind, std::string name);
    virtual ~Control();

    ControlKind Kind() const { return kind_; }
    const std::string& Name() const { return name_; }
    Form* Owner() const { return owner_; }

    // The caption of labels, buttons and option buttons; the text of text boxes and of a combo box's field.
    const std::string& Text() const { return text_; }
    void SetText(std::string text);
    const std::string& Caption() const { return text_; }
    void SetCaption(std::string caption) { SetText(std::move(caption)); }

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    const Place& GetPlace() const { return place_; }
    int Left() const { return place_.left; }
    int Top() const { return place_.top; }
    int Width() const { return place_.width; }
    int Height() const { return place_.height; }
    void Move(int left, int top, int width, int height);
    void Move(int left, int top) { Move(left, top, place_.width, place_.height); }

    const FontChoice& Font() const { return font_; }
    void SetFont(FontChoice font);
    // Without a colour of its own a control shows the front-end's usual one (labels: the form's).
    const std::optional<Color>& BackColor() const { return back_color_; }
    void SetBackColor(Color color);
    // Buttons: the keys that press the button.
    const KeyChoice& Keys() const { return keys_; }
    void SetKeys(KeyChoice keys);

    void OnClick(std::function<void()> handler) { on_click_ = std::move(handler); }
    void OnDblClick(std::function<void()> handler) { on_dbl_click_ = std::move(handler); }
    // The user changed the text (text box, combo box field).
    void OnChange(std::function<void()> handler) { on_change_ = std::move(handler); }

    // The user clicked or double-clicked the control; disabled controls ignore it. Returns whether a
    // handler ran.
    bool UserClick();
    bool UserDblClick();

  protected:
    // Sets the text without firing events; returns whether it changed.
    bool StoreText(std::string text);
    void FireChange();
    bool Fire(const std::function<void()>& handler);

  private:
    friend class Form;
    ControlKind kind_;
    std::string name_;
    Form* owner_ = nullptr;
    std::string text_;
    bool enabled_ = true;
    bool visible_ = true;
    Place place_;
    FontChoice font_;
    std::optional<Color> back_color_;
    KeyChoice keys_;
    std::function<void()> on_click_;
    std::function<void()> on_dbl_click_;
    std::function<void()> on_change_;
};

class Label : public Control {
  public:
    explicit Label(std::string name) : Control(ControlKind::kLabel, std::move(name)) {}
};

class Button : public Control {
  public:
    explicit Button(std::string name) : Control(ControlKind::kButton, std::move(name)) {}
};

class TextBox : public Control {
  public:
    explicit TextBox(std::string name) : Control(ControlKind::kTextBox, std::move(name)) {}

    // A locked text box shows its text but the user cannot edit it.
    bool Locked() const { return locked_; }
    void SetLocked(bool locked);

    // A status text box: the console front-end prints each change of its text as a line, after
    // "label: " when a label is given (a program with two status lines tells them apart that way).
    void MarkAsStatus(std::string label = {});
    bool IsStatus() const { return status_; }
    const std::string& StatusLabel() const { return status_label_; }

    // The user typed: stores the text and fires the change handler.
    void UserEdit(std::string text);

  private:
    bool locked_ = false;
    bool status_ = false;
    std::string status_label_;
};

// The rows and selection shared by list boxes and combo boxes. ListIndex is -1 while nothing is selected.
class ListControl : public Control {
  public:
    using Control::Control;

    void AddItem(std::string item);
    void RemoveItem(int index);
    void Clear();
    int ListCount() const { return static_cast<int>(items_.size()); }
    // The row at index, or an empty text outside the list.
    const std::string& List(int index) const;
    const std::vector<std::string>& Items() const { return items_; }

    int ListIndex() const { return list_index_; }
    // Selects a row (-1: none); an index outside the list selects nothing.
    virtual void SetListIndex(int index);

    // The user selected row index: selects it and fires the click handler.
    bool UserSelect(int index);
    // The user double-clicked row index: selects it, then fires the double-click handler.
    bool UserDblClickRow(int index);

  private:
    std::vector<std::string> items_;
    int list_index_ = -1;
};

class ListBox : public ListControl {
  public:
    explicit ListBox(std::string name) : ListControl(ControlKind::kListBox, std::move(name)) {}
    // The text of the selected row, empty when none is selected.
    const std::string& SelectedText() const { return List(ListIndex()); }
};

// A drop-down combo box: an editable field over a list. Selecting a row puts its text into the field.
class ComboBox : public ListControl {
  public:
    explicit ComboBox(std::string name) : ListControl(ControlKind::kComboBox, std::move(name)) {}
    void SetListIndex(int index) override;
    void UserEdit(std::string text);
};

// Option buttons of one group (the same group name on one form) exclude each other: setting one clears the
// others. None is selected until the program or the user selects one.
class OptionButton : public Control {
  public:
    OptionButton(std::string name, std::string group)
        : Control(ControlKind::kOptionButton, std::move(name)), group_(std::move(group)) {}
    const std::string& Group() const { return group_; }
    bool Value() const { return value_; }
    void SetValue(bool value);
    // The user chose this button: selects it and fires the click handler.
    bool UserChoose();

  private:
    friend class Form;
    void StoreValue(bool value);
    std::string group_;
    bool value_ = false;
};

// The drawing surface of a picture box in 32-bit pixels. Its size follows the control's size; a resize
// keeps what was drawn where it still fits and fills the rest with the back colour.
class PictureBox : public Control {
  public:
    explicit PictureBox(std::string name);

    const Surface& GetSurface() const { return surface_; }
    // The colour Cls fills with: the control's back colour or, without one, black.
    Color Background() const;
    // Clears the whole surface to the background.
    void Cls();
    // Shows what is drawn in place as old: grey and darker (see Surface::DimToGrey).
    void Dim(const Place& place);

    // Draws a 24-bit device-independent bitmap into a destination rectangle of the surface, stretching
    // or shrinking the source rectangle to fit. A negative destination width shows the picture mirrored
    // left to right (the destination then spans x_dest + dest_width to x_dest - 1), a negative height
    // upside down. Source rows follow the header: a positive biHeight means rows bottom-up (row 0 of the
    // buffer is the bottom line, y_src counts from the bottom), shown upright. Returns the number of source
    // lines used, 0 when nothing could be drawn (no bits, not 24 bits, an empty rectangle).
    int StretchDIBits(int x_dest, int y_dest, int dest_width, int dest_height, int x_src, int y_src,
                      int src_width, int src_height, const void* bits, const BitmapInfoHeader& header);

  private:
    void Resize();
    Surface surface_;
    int place_listener_ = 0;
};

// A menu: a top-level entry of the menu bar or an item of another menu's drop-down list. A top-level
// menu without items is itself a command.
class Menu : public Observable {
  public:
    Menu(std::string name, std::string caption) : name_(std::move(name)), caption_(std::move(caption)) {}

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    const KeyChoice& Keys() const { return keys_; }
    void SetKeys(KeyChoice keys);

    Menu& AddItem(std::string name, std::string caption);
    const std::vector<std::unique_ptr<Menu>>& Items() const { return items_; }

    void OnClick(std::function<void()> handler) { on_click_ = std::move(handler); }
    // The user chose the menu; a disabled or hidden one ignores it. Returns whether a handler ran.
    bool UserClick();

  private:
    std::string name_;
    std::string caption_;
    bool enabled_ = true;
    bool checked_ = false;
    bool visible_ = true;
    KeyChoice keys_;
    std::vector<std::unique_ptr<Menu>> items_;
    std::function<void()> on_click_;
};

// Why a close was requested; the numbers are those a close handler has always been given.
enum class UnloadMode { kCloseBox = 0, kCode = 1, kSessionEnd = 2, kTaskManager = 3 };

// The window: caption, client size, background colour, font, topmost flag, menus and controls, and its
// life: activation and a close request that the program may refuse.
class Form : public Observable {
  public:
    explicit Form(std::string name);
    ~Form();

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    int ClientWidth() const { return client_width_; }
    int ClientHeight() const { return client_height_; }
    void SetClientSize(int width, int height);
    Color BackColor() const { return back_color_; }
    void SetBackColor(Color color);
    const FontChoice& Font() const { return font_; }
    void SetFont(FontChoice font);
    bool Topmost() const { return topmost_; }
    void SetTopmost(bool topmost);

    Label& AddLabel(std::string name, std::string caption, Place place);
    TextBox& AddTextBox(std::string name, Place place, std::string text = {});
    ListBox& AddListBox(std::string name, Place place);
    ComboBox& AddComboBox(std::string name, Place place, std::string text = {});
    Button& AddButton(std::string name, std::string caption, Place place);
    OptionButton& AddOptionButton(std::string name, std::string caption, Place place, std::string group = {});
    PictureBox& AddPictureBox(std::string name, Place place);
    Menu& AddMenu(std::string name, std::string caption);

    const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
    const std::vector<std::unique_ptr<Menu>>& Menus() const { return menus_; }
    Control* FindControl(const std::string& name) const;
    // Searches the menu bar and every drop-down list.
    Menu* FindMenu(const std::string& name) const;
    template <class T>
    T* Find(const std::string& name) const {
        return dynamic_cast<T*>(FindControl(name));
    }

    // The window was activated (shown, or brought to the front); front-ends call this.
    void OnActivate(std::function<void()> handler) { on_activate_ = std::move(handler); }
    void Activate();

    // The close handler: returns true to refuse (cancel) the close.
    void OnQueryUnload(std::function<bool(UnloadMode)> handler) { on_query_unload_ = std::move(handler); }
    // Asks the close handler and unloads unless it refuses; returns whether the form was unloaded.
    bool RequestClose(UnloadMode mode);
    // Unloads the form at once: front-ends close the window and end the program's event loop.
    void Unload();
    bool Unloaded() const { return unloaded_; }

  private:
    friend class OptionButton;
    template <class T, class... Args>
    T& Adopt(Place place, Args&&... args);
    void ClearOtherOptions(const OptionButton& chosen);

    std::string name_;
    std::string caption_;
    int client_width_ = 320;
    int client_height_ = 240;
    Color back_color_{240, 240, 240};
    FontChoice font_{"", 9};
    bool topmost_ = false;
    bool unloaded_ = false;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::unique_ptr<Menu>> menus_;
    std::function<void()> on_activate_;
    std::function<bool(UnloadMode)> on_query_unload_;
};

}  // namespace platform
