#pragma once
// Shared numeric keypad on the right 380 x 480 strip of the panel.
//
// A screen connects sendKeyBoardUIDataToLineEdit(QString) to its confirmString(QString),
// asks for a number with label_show(title, value) and runs the keypad with exec(). OK
// hands the shown text to every connected screen before exec() returns. Screens lie one
// over another and share field names, so each one acts only on a request it made itself
// (g_lineedit one of its own fields, or an access code it is waiting for); a screen that
// opens another screen from its result does so once the keypad's run has ended.
#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace Ui {
class NumberKeyboard;
}

class NumberKeyboard : public QDialog {
    Q_OBJECT

public:
    explicit NumberKeyboard(QWidget* parent = nullptr);
    ~NumberKeyboard() override;

    // Prepares a request: title (pixel size 18 for a four-character title, else 25),
    // an empty typed buffer and `value` shown.
    void label_show(const QString& title, const QString& value);

    // Text OK would hand over: the typed digits once a key was pressed, else the value.
    QString shownText() const;
    QString title() const;

    // Key actions, as the buttons trigger them.
    void pressDigit(int digit);
    void pressDelete();

signals:
    // OK: the shown text, to every screen connected to it. Closing emits nothing.
    void sendKeyBoardUIDataToLineEdit(QString text);

protected:
    // Every run opens on the panel's keypad strip, raised and active above the screen that asked.
    void showEvent(QShowEvent* event) override;
    // Without a window manager an activation asked for before the window was mapped can be
    // lost (X takes focus only on a viewable window): the first paint, mapped, asks again.
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_Button_ok_clicked();
    void on_Button_close_clicked();
    void on_Button_delete_clicked();

private:
    void refresh();

    Ui::NumberKeyboard* ui;
    QString value_;
    QString typed_;
    bool hasTyped_ = false;
    bool activation_checked_ = true;
};
