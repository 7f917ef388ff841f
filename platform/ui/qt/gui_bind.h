// Inside the Qt Widgets front-end: the widget of each kind of control and how it follows its control.
#pragma once

#include <QFont>
#include <QKeySequence>
#include <QList>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/ui/controls.h"

namespace platform::gui {

// The QFont for a control's font, taking the form's name and size where the control leaves them out.
QFont MakeFont(const FontChoice& font, const FontChoice& form_font);

// The key sequences of a control's or menu's keys: the shortcut first, then Alt with the access key.
QList<QKeySequence> KeySequences(const KeyChoice& keys);

// Creates the widget for a control as a child of parent, sets it from the control and subscribes it to the
// control's changes. Returns the widget and, through unsubscribe, how to drop the subscription.
QWidget* BuildControl(Control& control, const Form& form, QWidget* parent,
                      std::function<void()>* unsubscribe);

}  // namespace platform::gui
