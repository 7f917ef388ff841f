#include "platform/ui/controls.h"

#include <algorithm>

namespace platform {

// ---- Observable ----

int Observable::Subscribe(Listener listener) {
    const int id = next_id_++;
    listeners_.push_back(Entry{id, std::make_shared<Listener>(std::move(listener))});
    return id;
}

void Observable::Unsubscribe(int id) {
    for (auto& e : listeners_) {
        if (e.id == id) e.listener.reset();
    }
    if (notifying_ == 0) {
        std::erase_if(listeners_, [](const Entry& e) { return !e.listener; });
    }
}

void Observable::Notify(Property what) {
    ++notifying_;
    // By index: a listener may add listeners (the vector grows) or remove them (entries become empty).
    for (std::size_t i = 0; i < listeners_.size(); ++i) {
        std::shared_ptr<Listener> listener = listeners_[i].listener;
        if (listener) (*listener)(what);
    }
    if (--notifying_ == 0) {
        std::erase_if(listeners_, [](const Entry& e) { return !e.listener; });
    }
}

// ---- Control ----

Control::Control(ControlKind kind, std::string name) : kind_(kind), name_(std::move(name)) {}

Control::~Control() = default;

bool Control::StoreText(std::string text) {
    if (text == text_) return false;
    text_ = std::move(text);
    Notify(Property::kText);
    return true;
}

void Control::SetText(std::string text) {
    StoreText(std::move(text));
}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Notify(Property::kEnabled);
}

void Control::SetKeys(KeyChoice keys) {
    if (keys == keys_) return;
    keys_ = std::move(keys);
    Notify(Property::kKeys);
}

void Control::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Notify(Property::kVisible);
}

void Control::Move(int left, int top, int width, int height) {
    Place place{left, top, std::max(width, 0), std::max(height, 0)};
    if (place == place_) return;
    place_ = place;
    Notify(Property::kPlace);
}

void Control::SetFont(FontChoice font) {
    if (font == font_) return;
    font_ = std::move(font);
    Notify(Property::kFont);
}

void Control::SetBackColor(Color color) {
    if (back_color_ == color) return;
    back_color_ = color;
    Notify(Property::kBackColor);
}

bool Control::Fire(const std::function<void()>& handler) {
    if (!handler) return false;
    std::function<void()> copy = handler;  // the handler may replace itself while it runs
    copy();
    return true;
}

bool Control::UserClick() {
    return enabled_ && visible_ && Fire(on_click_);
}

bool Control::UserDblClick() {
    return enabled_ && visible_ && Fire(on_dbl_click_);
}

void Control::FireChange() {
    Fire(on_change_);
}

// ---- TextBox ----

void TextBox::SetLocked(bool locked) {
    if (locked == locked_) return;
    locked_ = locked;
    Notify(Property::kLocked);
}

void TextBox::MarkAsStatus(std::string label) {
    status_ = true;
    status_label_ = std::move(label);
}

void TextBox::UserEdit(std::string text) {
    if (!Enabled() || locked_) return;
    if (StoreText(std::move(text))) FireChange();
}

// ---- ListControl, ComboBox ----

void ListControl::AddItem(std::string item) {
    items_.push_back(std::move(item));
    Notify(Property::kItems);
}

void ListControl::RemoveItem(int index) {
    if (index < 0 || index >= ListCount()) return;
    items_.erase(items_.begin() + index);
    Notify(Property::kItems);
    if (list_index_ == index) {
        SetListIndex(-1);
    } else if (list_index_ > index) {
        SetListIndex(list_index_ - 1);
    }
}

void ListControl::Clear() {
    items_.clear();
    Notify(Property::kItems);
    SetListIndex(-1);
}

const std::string& ListControl::List(int index) const {
    static const std::string empty;
    if (index < 0 || index >= ListCount()) return empty;
    return items_[static_cast<std::size_t>(index)];
}

void ListControl::SetListIndex(int index) {
    if (index < 0 || index >= ListCount()) index = -1;
    if (index == list_index_) return;
    list_index_ = index;
    Notify(Property::kListIndex);
}

bool ListControl::UserSelect(int index) {
    if (!Enabled() || index < 0 || index >= ListCount()) return false;
    SetListIndex(index);
    return UserClick();
}

bool ListControl::UserDblClickRow(int index) {
    if (!Enabled() || index < 0 || index >= ListCount()) return false;
    SetListIndex(index);
    return UserDblClick();
}

void ComboBox::SetListIndex(int index) {
    ListControl::SetListIndex(index);
    if (ListIndex() >= 0) StoreText(List(ListIndex()));
}

void ComboBox::UserEdit(std::string text) {
    if (!Enabled()) return;
    if (StoreText(std::move(text))) FireChange();
}

// ---- OptionButton ----

void OptionButton::StoreValue(bool value) {
    if (value == value_) return;
    value_ = value;
    Notify(Property::kChecked);
}

void OptionButton::SetValue(bool value) {
    if (value && Owner() != nullptr) Owner()->ClearOtherOptions(*this);
    StoreValue(value);
}

bool OptionButton::UserChoose() {
    if (!Enabled() || !Visible()) return false;
    SetValue(true);
    return UserClick();
}

// ---- PictureBox ----

PictureBox::PictureBox(std::string name) : Control(ControlKind::kPictureBox, std::move(name)) {
    place_listener_ = Subscribe([this](Property what) {
        if (what == Property::kPlace) Resize();
    });
}

Color PictureBox::Background() const {
    return BackColor().value_or(Color{});
}

void PictureBox::Resize() {
    surface_.Resize(Width(), Height(), Background());
}

void PictureBox::Cls() {
    surface_.Fill(Background());
    Notify(Property::kPicture);
}

void PictureBox::Dim(const Place& place) {
    surface_.DimToGrey(place.left, place.top, place.width, place.height);
    Notify(Property::kPicture);
}

int PictureBox::StretchDIBits(int x_dest, int y_dest, int dest_width, int dest_height, int x_src, int y_src,
                              int src_width, int src_height, const void* bits,
                              const BitmapInfoHeader& header) {
    const int lines = platform::StretchDIBits(surface_, x_dest, y_dest, dest_width, dest_height, x_src, y_src,
                                              src_width, src_height, bits, header);
    if (lines > 0) Notify(Property::kPicture);
    return lines;
}

// ---- Menu ----

void Menu::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    Notify(Property::kText);
}

void Menu::SetKeys(KeyChoice keys) {
    if (keys == keys_) return;
    keys_ = std::move(keys);
    Notify(Property::kKeys);
}

void Menu::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Notify(Property::kEnabled);
}

void Menu::SetChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    Notify(Property::kChecked);
}

void Menu::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Notify(Property::kVisible);
}

Menu& Menu::AddItem(std::string name, std::string caption) {
    items_.push_back(std::make_unique<Menu>(std::move(name), std::move(caption)));
    return *items_.back();
}

bool Menu::UserClick() {
    if (!enabled_ || !visible_ || !on_click_) return false;
    std::function<void()> copy = on_click_;
    copy();
    return true;
}

// ---- Form ----

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() = default;

void Form::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    Notify(Property::kText);
}

void Form::SetClientSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == client_width_ && height == client_height_) return;
    client_width_ = width;
    client_height_ = height;
    Notify(Property::kClientSize);
}

void Form::SetBackColor(Color color) {
    if (color == back_color_) return;
    back_color_ = color;
    Notify(Property::kBackColor);
}

void Form::SetFont(FontChoice font) {
    if (font == font_) return;
    font_ = std::move(font);
    Notify(Property::kFont);
}

void Form::SetTopmost(bool topmost) {
    if (topmost == topmost_) return;
    topmost_ = topmost;
    Notify(Property::kTopmost);
}

template <class T, class... Args>
T& Form::Adopt(Place place, Args&&... args) {
    auto control = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *control;
    ref.owner_ = this;
    ref.Move(place.left, place.top, place.width, place.height);
    controls_.push_back(std::move(control));
    return ref;
}

Label& Form::AddLabel(std::string name, std::string caption, Place place) {
    Label& label = Adopt<Label>(place, std::move(name));
    label.SetCaption(std::move(caption));
    return label;
}

TextBox& Form::AddTextBox(std::string name, Place place, std::string text) {
    TextBox& box = Adopt<TextBox>(place, std::move(name));
    box.SetText(std::move(text));
    return box;
}

ListBox& Form::AddListBox(std::string name, Place place) {
    return Adopt<ListBox>(place, std::move(name));
}

ComboBox& Form::AddComboBox(std::string name, Place place, std::string text) {
    ComboBox& box = Adopt<ComboBox>(place, std::move(name));
    box.SetText(std::move(text));
    return box;
}

Button& Form::AddButton(std::string name, std::string caption, Place place) {
    Button& button = Adopt<Button>(place, std::move(name));
    button.SetCaption(std::move(caption));
    return button;
}

OptionButton& Form::AddOptionButton(std::string name, std::string caption, Place place, std::string group) {
    OptionButton& option = Adopt<OptionButton>(place, std::move(name), std::move(group));
    option.SetCaption(std::move(caption));
    return option;
}

PictureBox& Form::AddPictureBox(std::string name, Place place) {
    return Adopt<PictureBox>(place, std::move(name));
}

Menu& Form::AddMenu(std::string name, std::string caption) {
    menus_.push_back(std::make_unique<Menu>(std::move(name), std::move(caption)));
    return *menus_.back();
}

Control* Form::FindControl(const std::string& name) const {
    for (const auto& c : controls_) {
        if (c->Name() == name) return c.get();
    }
    return nullptr;
}

namespace {

Menu* FindIn(const std::vector<std::unique_ptr<Menu>>& menus, const std::string& name) {
    for (const auto& m : menus) {
        if (m->Name() == name) return m.get();
        if (Menu* found = FindIn(m->Items(), name)) return found;
    }
    return nullptr;
}

}  // namespace

Menu* Form::FindMenu(const std::string& name) const {
    return FindIn(menus_, name);
}

void Form::Activate() {
    if (unloaded_ || !on_activate_) return;
    std::function<void()> copy = on_activate_;
    copy();
}

bool Form::RequestClose(UnloadMode mode) {
    if (unloaded_) return true;
    if (on_query_unload_) {
        std::function<bool(UnloadMode)> copy = on_query_unload_;
        if (copy(mode)) return false;
    }
    Unload();
    return true;
}

void Form::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Notify(Property::kUnloaded);
}

void Form::ClearOtherOptions(const OptionButton& chosen) {
    for (const auto& c : controls_) {
        auto* option = dynamic_cast<OptionButton*>(c.get());
        if (option != nullptr && option != &chosen && option->Group() == chosen.Group()) {
            option->StoreValue(false);
        }
    }
}

}  // namespace platform
