#include "platform/ui/qt/gui_frontend.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLayout>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QTimer>
#include <QTranslator>
#include <QWindow>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/qt/gui_bind.h"
#include "platform/window/msgbox.h"

namespace platform {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Qt's own Japanese texts (the standard buttons read "キャンセル", ...), installed once for the program.
// Without them the buttons read in English; that is told once on standard error.
void InstallJapaneseTranslations() {
    static bool tried = false;
    if (tried) return;
    tried = true;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(qApp);
    if (translator->load("qtbase_ja", folder)) {
        QCoreApplication::installTranslator(translator);
        return;
    }
    delete translator;
    std::fprintf(stderr,
                 "qtbase_ja.qm is not in %s (package qt6-translations-l10n): buttons read in English\n",
                 qPrintable(folder));
}

// The main window: hands the close box to the form and reports activation.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(Form& form) : form_(form) {}
    bool unloading = false;

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (unloading || form_.Unloaded()) {
            event->accept();
            return;
        }
        // Asked outside the event handler: the close handler may open a modal box.
        event->ignore();
        QTimer::singleShot(0, this, [this] { form_.RequestClose(UnloadMode::kCloseBox); });
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) {
            QTimer::singleShot(0, this, [this] { form_.Activate(); });
        }
        return QMainWindow::event(event);
    }

  private:
    Form& form_;
};

}  // namespace

struct GuiFrontend::Impl {
    Form& form;
    MainWindow* window = nullptr;  // owned here; deleted last
    QWidget* canvas = nullptr;
    bool quit_on_unload = true;
    std::unordered_map<std::string, QWidget*> widgets;
    std::unordered_map<std::string, QAction*> actions;
    std::vector<std::function<void()>> unsubscribes;
    MessageBoxHandler previous_box;
    MessageBoxOkCancelHandler previous_ok_cancel;
    MessageBoxYesNoHandler previous_yes_no;
    InputBoxHandler previous_input;
    QPointer<QDialog> open_box;  // the dialog being shown, closed when the form is unloaded

    explicit Impl(Form& f) : form(f) {}

    void BuildWindow();
    void BuildMenu(Menu& menu, QMenuBar* bar, QMenu* parent);
    void BindMenu(Menu& menu, QAction* action);
    void ShowForm(Property what);
    void ApplyTopmost();
    void InstallMessageBoxes();
    QMessageBox::StandardButton Ask(const std::string& text, const std::string& title,
                                    QMessageBox::StandardButtons buttons);
    std::optional<std::string> AskLine(const std::string& prompt, const std::string& title,
                                       const std::string& initial);
    int RunOnTop(QDialog& box);
};

std::string GuiFrontend::FontFamilyFor(const std::string& font_name) {
    if (font_name.find("明朝") != std::string::npos || font_name.find("Mincho") != std::string::npos) {
        return "IPAMincho";
    }
    if (font_name.find("ゴシック") != std::string::npos || font_name.find("Gothic") != std::string::npos) {
        return "IPAGothic";
    }
    return font_name;
}

void GuiFrontend::Impl::BuildWindow() {
    window = new MainWindow(form);
    window->setObjectName(Q(form.Name()));
    canvas = new QWidget(window);
    canvas->setAutoFillBackground(true);
    window->setCentralWidget(canvas);
    window->layout()->setSizeConstraint(QLayout::SetFixedSize);  // the window fits the client size exactly
    for (Property p : {Property::kText, Property::kClientSize, Property::kBackColor, Property::kFont})
        ShowForm(p);
    if (form.Topmost()) ApplyTopmost();

    for (const auto& menu : form.Menus()) BuildMenu(*menu, window->menuBar(), nullptr);
    // F10 takes the keyboard to the menu bar, its first item highlighted, as on the usual desktops.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(f10, &QShortcut::activated, [this] {
        QMenuBar* bar = window->menuBar();
        for (QAction* action : bar->actions()) {
            if (!action->isVisible() || !action->isEnabled()) continue;
            bar->setFocus(Qt::MenuBarFocusReason);
            bar->setActiveAction(action);
            return;
        }
    });
    for (const auto& control : form.Controls()) {
        std::function<void()> unsubscribe;
        widgets[control->Name()] = gui::BuildControl(*control, form, canvas, &unsubscribe);
        unsubscribes.push_back(std::move(unsubscribe));
    }
    const int id = form.Subscribe([this](Property what) { ShowForm(what); });
    unsubscribes.push_back([this, id] { form.Unsubscribe(id); });
}

void GuiFrontend::Impl::BuildMenu(Menu& menu, QMenuBar* bar, QMenu* parent) {
    QAction* action = nullptr;
    if (menu.Items().empty()) {
        action = parent ? parent->addAction(Q(menu.Caption())) : bar->addAction(Q(menu.Caption()));
        QObject::connect(action, &QAction::triggered, [this, &menu, action] {
            menu.UserClick();
            action->setCheckable(menu.Checked());  // Qt flips a checkable action itself; the menu decides
            action->setChecked(menu.Checked());
        });
    } else {
        QMenu* sub = parent ? parent->addMenu(Q(menu.Caption())) : bar->addMenu(Q(menu.Caption()));
        for (const auto& item : menu.Items()) BuildMenu(*item, bar, sub);
        action = sub->menuAction();
    }
    BindMenu(menu, action);
}

void GuiFrontend::Impl::BindMenu(Menu& menu, QAction* action) {
    actions[menu.Name()] = action;
    auto show = [&menu, action](Property what) {
        switch (what) {
            case Property::kText:
                action->setText(Q(menu.Caption()));
                break;
            case Property::kEnabled:
                action->setEnabled(menu.Enabled());
                break;
            case Property::kChecked:
                action->setCheckable(menu.Checked());
                action->setChecked(menu.Checked());
                break;
            case Property::kVisible:
                action->setVisible(menu.Visible());
                break;
            case Property::kKeys:
                action->setShortcuts(gui::KeySequences(menu.Keys()));
                break;
            default:
                break;
        }
    };
    for (Property p : {Property::kEnabled, Property::kChecked, Property::kVisible, Property::kKeys}) show(p);
    const int id = menu.Subscribe(show);
    unsubscribes.push_back([&menu, id] { menu.Unsubscribe(id); });
}

void GuiFrontend::Impl::ShowForm(Property what) {
    switch (what) {
        case Property::kText:
            window->setWindowTitle(Q(form.Caption()));
            break;
        case Property::kClientSize:
            canvas->setFixedSize(form.ClientWidth(), form.ClientHeight());
            break;
        case Property::kBackColor: {
            QPalette palette = canvas->palette();
            const Color c = form.BackColor();
            palette.setColor(QPalette::Window, QColor(c.r, c.g, c.b));
            canvas->setPalette(palette);
            break;
        }
        case Property::kFont:
            canvas->setFont(gui::MakeFont(form.Font(), form.Font()));
            break;
        case Property::kTopmost:
            ApplyTopmost();
            break;
        case Property::kUnloaded:
            if (open_box) open_box->reject();  // a signal's Exit ends a program waiting on a box too
            window->unloading = true;
            window->close();
            if (quit_on_unload) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            break;
        default:
            break;
    }
}

void GuiFrontend::Impl::ApplyTopmost() {
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, form.Topmost());
    QWindow* native = window->windowHandle();
    if (native == nullptr) {
        window->setWindowFlags(flags);  // not shown yet: the native window is made with the flag
        return;
    }
    // QWidget::setWindowFlags would destroy the native window and make a new one, losing the click that
    // activated it; the flag is changed on the window that exists instead.
    window->overrideWindowFlags(flags);
    native->setFlags(flags);
}

QMessageBox::StandardButton GuiFrontend::Impl::Ask(const std::string& text, const std::string& title,
                                                   QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::NoIcon, Q(title), Q(text), buttons, window);
    box.setFont(gui::MakeFont(form.Font(), form.Font()));
    return static_cast<QMessageBox::StandardButton>(RunOnTop(box));
}

std::optional<std::string> GuiFrontend::Impl::AskLine(const std::string& prompt, const std::string& title,
                                                      const std::string& initial) {
    QInputDialog box(window);
    box.setWindowTitle(Q(title));
    box.setLabelText(Q(prompt));
    box.setTextValue(Q(initial));
    box.setFont(gui::MakeFont(form.Font(), form.Font()));
    if (RunOnTop(box) != QDialog::Accepted) return std::nullopt;
    return box.textValue().trimmed().toStdString();
}

int GuiFrontend::Impl::RunOnTop(QDialog& box) {
    // The program's own window stays on top of others, and a box may open before it is shown: the box
    // stays on top too, or it would open underneath and the program would seem not to start.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (form.Unloaded()) return QDialog::Rejected;
    open_box = &box;
    const int result = box.exec();
    open_box = nullptr;
    return result;
}

void GuiFrontend::Impl::InstallMessageBoxes() {
    previous_box = SetMessageBoxHandler(
        [this](const std::string& text, const std::string& title) { Ask(text, title, QMessageBox::Ok); });
    previous_ok_cancel =
        SetMessageBoxOkCancelHandler([this](const std::string& text, const std::string& title) {
            return Ask(text, title, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok
                       ? MsgBoxResult::kOk
                       : MsgBoxResult::kCancel;
        });
    previous_yes_no = SetMessageBoxYesNoHandler([this](const std::string& text, const std::string& title) {
        return Ask(text, title, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    previous_input =
        SetInputBoxHandler([this](const std::string& prompt, const std::string& title,
                                  const std::string& initial) { return AskLine(prompt, title, initial); });
}

GuiFrontend::GuiFrontend(Form& form) : impl_(std::make_unique<Impl>(form)) {
    InstallJapaneseTranslations();
    impl_->BuildWindow();
    impl_->InstallMessageBoxes();
}

GuiFrontend::~GuiFrontend() {
    SetMessageBoxHandler(std::move(impl_->previous_box));
    SetMessageBoxOkCancelHandler(std::move(impl_->previous_ok_cancel));
    SetMessageBoxYesNoHandler(std::move(impl_->previous_yes_no));
    SetInputBoxHandler(std::move(impl_->previous_input));
    for (auto& unsubscribe : impl_->unsubscribes) unsubscribe();
    delete impl_->window;
}

void GuiFrontend::Show() {
    impl_->window->show();
}

void GuiFrontend::SetQuitOnUnload(bool quit) {
    impl_->quit_on_unload = quit;
}

QMainWindow* GuiFrontend::Window() const {
    return impl_->window;
}

QWidget* GuiFrontend::Widget(const std::string& control_name) const {
    auto it = impl_->widgets.find(control_name);
    return it == impl_->widgets.end() ? nullptr : it->second;
}

QAction* GuiFrontend::Action(const std::string& menu_name) const {
    auto it = impl_->actions.find(menu_name);
    return it == impl_->actions.end() ? nullptr : it->second;
}

}  // namespace platform
