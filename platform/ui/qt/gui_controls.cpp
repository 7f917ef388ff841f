#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "platform/ui/qt/gui_bind.h"
#include "platform/ui/qt/gui_frontend.h"

namespace platform::gui {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QColor ToQColor(Color c) {
    return QColor(c.r, c.g, c.b);
}

// Shows a picture box's surface as it is, pixel for pixel.
class PictureWidget : public QWidget {
  public:
    PictureWidget(const PictureBox& box, QWidget* parent) : QWidget(parent), box_(box) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        const Surface& s = box_.GetSurface();
        QPainter painter(this);
        if (s.Width() == 0 || s.Height() == 0) return;
        const QImage image(reinterpret_cast<const uchar*>(s.Pixels()), s.Width(), s.Height(), s.Width() * 4,
                           QImage::Format_RGB32);
        painter.drawImage(0, 0, image);
    }

  private:
    const PictureBox& box_;
};

QWidget* MakeWidget(Control& control, QWidget* parent) {
    switch (control.Kind()) {
        case ControlKind::kLabel: {
            auto* label = new QLabel(parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            return label;
        }
        case ControlKind::kTextBox: {
            auto* edit = new QLineEdit(parent);
            auto& box = static_cast<TextBox&>(control);
            QObject::connect(edit, &QLineEdit::textEdited,
                             [&box](const QString& t) { box.UserEdit(t.toStdString()); });
            return edit;
        }
        case ControlKind::kListBox: {
            auto* list = new QListWidget(parent);
            auto& box = static_cast<ListBox&>(control);
            QObject::connect(list, &QListWidget::currentRowChanged, [&box](int row) {
                if (row >= 0) box.UserSelect(row);
            });
            QObject::connect(list, &QListWidget::itemDoubleClicked,
                             [&box, list](QListWidgetItem* item) { box.UserDblClickRow(list->row(item)); });
            return list;
        }
        case ControlKind::kComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            auto& box = static_cast<ComboBox&>(control);
            QObject::connect(combo, &QComboBox::activated, [&box](int index) { box.UserSelect(index); });
            QObject::connect(combo, &QComboBox::editTextChanged,
                             [&box](const QString& t) { box.UserEdit(t.toStdString()); });
            return combo;
        }
        case ControlKind::kButton: {
            auto* button = new QPushButton(parent);
            QObject::connect(button, &QPushButton::clicked, [&control] { control.UserClick(); });
            return button;
        }
        case ControlKind::kOptionButton: {
            auto* radio = new QRadioButton(parent);
            radio->setAutoExclusive(false);  // the controls keep the group; the widgets only show it
            auto& option = static_cast<OptionButton&>(control);
            QObject::connect(radio, &QRadioButton::clicked, [&option, radio] {
                option.UserChoose();
                const QSignalBlocker block(radio);
                radio->setChecked(option.Value());  // a click on a selected button leaves it selected
            });
            return radio;
        }
        case ControlKind::kPictureBox:
            return new PictureWidget(static_cast<PictureBox&>(control), parent);
    }
    return new QWidget(parent);
}

void ShowText(Control& control, QWidget* w) {
    const QString text = Q(control.Text());
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != text) {
            edit->setText(text);
            edit->home(false);  // a text longer than the box shows its start, as a window's edit box does
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const QSignalBlocker block(combo);
        if (combo->currentText() != text) combo->setEditText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    }
}

void ShowItems(Control& control, QWidget* w) {
    auto* as_list = dynamic_cast<ListControl*>(&control);
    if (as_list == nullptr) return;
    ListControl& list = *as_list;
    QStringList rows;
    for (const std::string& item : list.Items()) rows << Q(item);
    if (auto* lw = qobject_cast<QListWidget*>(w)) {
        const QSignalBlocker block(lw);
        lw->clear();
        lw->addItems(rows);
        lw->setCurrentRow(list.ListIndex());
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const QSignalBlocker block(combo);
        combo->clear();
        combo->addItems(rows);
        combo->setCurrentIndex(list.ListIndex());
        combo->setEditText(Q(control.Text()));  // filling the list must not change the field
    }
}

void ShowListIndex(Control& control, QWidget* w) {
    auto* list = dynamic_cast<ListControl*>(&control);
    if (list == nullptr) return;
    const int index = list->ListIndex();
    const QSignalBlocker block(w);
    if (auto* lw = qobject_cast<QListWidget*>(w)) {
        lw->setCurrentRow(index);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setCurrentIndex(index);
        combo->setEditText(Q(control.Text()));
    }
}

void ShowBackColor(Control& control, QWidget* w) {
    if (!control.BackColor()) return;
    QPalette palette = w->palette();
    const QColor c = ToQColor(*control.BackColor());
    palette.setColor(QPalette::Window, c);
    palette.setColor(QPalette::Base, c);
    palette.setColor(QPalette::Button, c);
    w->setPalette(palette);
    w->setAutoFillBackground(control.Kind() != ControlKind::kPictureBox);
}

void Show(Control& control, const Form& form, QWidget* w, Property what) {
    switch (what) {
        case Property::kText:
            ShowText(control, w);
            break;
        case Property::kEnabled:
            w->setEnabled(control.Enabled());
            break;
        case Property::kVisible:
            w->setVisible(control.Visible());
            break;
        case Property::kChecked:
            if (auto* radio = qobject_cast<QRadioButton*>(w)) {
                const QSignalBlocker block(radio);
                radio->setChecked(static_cast<OptionButton&>(control).Value());
            }
            break;
        case Property::kItems:
            ShowItems(control, w);
            break;
        case Property::kListIndex:
            ShowListIndex(control, w);
            break;
        case Property::kPlace: {
            const Place& p = control.GetPlace();
            w->setGeometry(p.left, p.top, p.width, p.height);
            break;
        }
        case Property::kFont:
            if (!control.Font().name.empty() || control.Font().points > 0) {
                w->setFont(MakeFont(control.Font(), form.Font()));
            }
            break;
        case Property::kBackColor:
            ShowBackColor(control, w);
            break;
        case Property::kLocked:
            if (auto* edit = qobject_cast<QLineEdit*>(w))
                edit->setReadOnly(static_cast<TextBox&>(control).Locked());
            break;
        case Property::kPicture:
            w->update();
            break;
        case Property::kKeys:
            if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                const QList<QKeySequence> keys = KeySequences(control.Keys());
                button->setShortcut(keys.isEmpty() ? QKeySequence() : keys.front());
            }
            break;
        case Property::kClientSize:
        case Property::kTopmost:
        case Property::kUnloaded:
            break;
    }
}

}  // namespace

QFont MakeFont(const FontChoice& choice, const FontChoice& form_font) {
    const std::string& name = choice.name.empty() ? form_font.name : choice.name;
    const double points = choice.points > 0 ? choice.points : (form_font.points > 0 ? form_font.points : 9);
    QFont font;
    if (!name.empty()) font.setFamily(Q(GuiFrontend::FontFamilyFor(name)));
    font.setPointSizeF(points);
    return font;
}

QList<QKeySequence> KeySequences(const KeyChoice& keys) {
    QList<QKeySequence> sequences;
    if (!keys.shortcut.empty()) sequences.append(QKeySequence(Q(keys.shortcut)));
    if (keys.access != 0) sequences.append(QKeySequence(QString("Alt+") + QChar(keys.access)));
    return sequences;
}

QWidget* BuildControl(Control& control, const Form& form, QWidget* parent,
                      std::function<void()>* unsubscribe) {
    QWidget* w = MakeWidget(control, parent);
    w->setObjectName(Q(control.Name()));
    for (Property p :
         {Property::kPlace, Property::kFont, Property::kBackColor, Property::kItems, Property::kText,
          Property::kListIndex, Property::kChecked, Property::kLocked, Property::kEnabled, Property::kKeys}) {
        Show(control, form, w, p);
    }
    if (!control.Visible()) w->hide();
    const int id = control.Subscribe([&control, &form, w](Property what) { Show(control, form, w, what); });
    *unsubscribe = [&control, id] { control.Unsubscribe(id); };
    return w;
}

}  // namespace platform::gui
