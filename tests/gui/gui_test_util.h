// Shared by the GUI suites: how a line edit looks scrolled to either end of its text.
#pragma once

#include <QImage>
#include <QLineEdit>

namespace gui_test {

struct EditViews {
    QImage shown;  // as it is
    QImage start;  // scrolled to the start of its text
    QImage end;    // scrolled to the end of its text
};

// Draws the edit as it is, then from the start and from the end of its text, and leaves it at the start.
// When the whole text fits, start and end look the same.
inline EditViews ViewsOf(QLineEdit& edit) {
    EditViews views;
    views.shown = edit.grab().toImage();
    edit.end(false);
    views.end = edit.grab().toImage();
    edit.home(false);
    views.start = edit.grab().toImage();
    return views;
}

}  // namespace gui_test
