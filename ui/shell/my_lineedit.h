#pragma once
// Line edit of a numeric field: a touch asks the screen to open the keypad.
// A disabled field receives no press and so never opens it.
// In designer forms promote a QLineEdit to My_lineEdit with header "ui/shell/my_lineedit.h".
#include <QLineEdit>

class My_lineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
