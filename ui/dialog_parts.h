#pragma once
// Small pieces every dialog is built from: the numeric object names controls are found by,
// the buttons and their row, the status line and the entry field.
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <initializer_list>

class QBoxLayout;
class QHBoxLayout;
class QLabel;
class QWidget;

namespace kvx {

// Selects its whole text whenever it takes the focus, so typing replaces the value; tells
// when it loses the focus.
class EntryField : public QLineEdit {
    Q_OBJECT
  public:
    EntryField(int id, const QString& text, QWidget* parent);
    int id() const { return id_; }

  signals:
    void left(int id);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    int id_;
};

// Controls are found by their numeric id as object name ("1083").
QString idName(int id);
// Every button takes Enter while it has the focus; isDefault: the one Enter in a field runs.
QPushButton* makeButton(int id, const QString& caption, QWidget* parent, bool isDefault = false);
// The dialog's row of buttons below everything else, in the order given (which is also their
// Tab order when they were made in it): at the right, or centred under the dialog.
QHBoxLayout* addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons,
                          Qt::Alignment align = Qt::AlignRight);
QLabel* makeStatusLine(QWidget* parent);

}  // namespace kvx
