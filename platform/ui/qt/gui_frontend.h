// The Qt Widgets front-end: builds one real window from a Form (menus, controls at their pixel places, the
// picture boxes' surfaces, caption, client size, background colour, font, topmost) and keeps it in step
// with the form's changes; the user's clicks, selections and edits go back to the controls. The window keeps
// one native window for its life (a topmost change is made on it in place). While the front-end exists,
// message boxes and the one-line input box are modal dialogs that stay on top (above the window, which may
// itself stay on top of others), with the standard buttons in Japanese (Qt's own translations, loaded by the
// first front-end); unloading the form closes an open one. Menus and buttons take their keys from the form
// (Alt with an access key, shortcuts). The close box asks the form's close handler.
// Needs a QApplication; the form must outlive the front-end and have all its controls and menus in place.
#pragma once

#include <memory>
#include <string>

class QAction;
class QMainWindow;
class QWidget;

namespace platform {

class Form;

class GuiFrontend {
  public:
    explicit GuiFrontend(Form& form);
    ~GuiFrontend();
    GuiFrontend(const GuiFrontend&) = delete;
    GuiFrontend& operator=(const GuiFrontend&) = delete;

    // Shows the window; activating it calls the form's activation handler.
    void Show();
    // By default unloading the form closes the window and ends the event loop (queued).
    void SetQuitOnUnload(bool quit);

    QMainWindow* Window() const;
    // The widget that shows the named control, or null.
    QWidget* Widget(const std::string& control_name) const;
    // The action of the named menu, or null.
    QAction* Action(const std::string& menu_name) const;

    // The installed font family that stands in for a window's font ("ＭＳ 明朝" is drawn in IPA Mincho).
    static std::string FontFamilyFor(const std::string& font_name);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
