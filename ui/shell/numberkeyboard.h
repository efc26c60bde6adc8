#pragma once
// Shared numeric keypad on the right 380 x 480 strip of the panel.
//
// A screen asks for a number with label_show(title, value, this) and runs the keypad
// with exec(). OK hands the shown text to the screen that asked, and only to it,
// through its slot confirmString(QString) (queued, so it runs after exec() returns).
// Several screens lie one over another and share field names; a result that reached
// all of them would be written into the wrong field or taken as an access code.
#include <QDialog>
#include <QPointer>
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
    // an empty typed buffer and `value` shown. `requester` receives the result; a
    // request without one delivers to nobody.
    void label_show(const QString& title, const QString& value, QObject* requester = nullptr);

    // Text OK would hand over: the typed digits once a key was pressed, else the value.
    QString shownText() const;
    QString title() const;
    // Object that asked for the running request; null when none or when it was deleted.
    QObject* requester() const { return requester_.data(); }

    // Key actions, as the buttons trigger them.
    void pressDigit(int digit);
    void pressDelete();

signals:
    // Every result, whoever asked (for observers); screens take theirs through confirmString.
    void sendKeyBoardUIDataToLineEdit(QString text);

private slots:
    void on_Button_ok_clicked();
    void on_Button_close_clicked();
    void on_Button_delete_clicked();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    Ui::NumberKeyboard* ui;
    QPointer<QObject> requester_;
    QString value_;
    QString typed_;
    bool hasTyped_ = false;
};
