#pragma once
// Small pieces every settings dialog is built from.
#include <QLineEdit>
#include <QPushButton>
#include <QString>

class QLabel;
class QWidget;

namespace kvx {

// Selects its whole text whenever it takes the focus, so typing replaces the value; tells
// when it loses the focus.
class SettingsField : public QLineEdit {
    Q_OBJECT
  public:
    SettingsField(int id, const QString& text, QWidget* parent);
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
QLabel* makeStatusLine(QWidget* parent);

}  // namespace kvx
