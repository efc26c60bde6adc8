#pragma once
// Shared numeric keypad on the right 380 x 480 strip of the panel.
//
// A screen connects sendKeyBoardUIDataToLineEdit(QString) to its confirmString(QString)
// and asks for a number with ask(). OK hands the shown text to every connected screen
// before the run ends. Screens lie one over another and share field names, so each one
// acts only on a request it made itself (g_lineedit one of its own fields, or an access
// code it is waiting for); a screen that opens another screen from its result does so once
// the keypad's run has ended.
#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

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

    // One request, one modal run. `begin` runs as the keypad opens for it (the asker notes
    // which field or question the answer is for), `end` once its run is over; neither runs
    // once `asker` is gone. A request made while a run is up (a field touched in the pass
    // that closed the keypad) waits for that run's end, then opens; a later one replaces it.
    // `maxDigits` above 0 bounds what can be typed (an access code's length).
    void ask(QObject* asker, const QString& title, const QString& value, std::function<void()> begin,
             std::function<void()> end = {}, int maxDigits = 0);
    // Closes the keypad and drops a waiting request: the screens under it are going.
    void dismiss();

    // Prepares a request: title (pixel size 18 for a four-character title, else 25),
    // an empty typed buffer and `value` shown; `maxDigits` as for ask().
    void label_show(const QString& title, const QString& value, int maxDigits = 0);

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
    // lost (X takes focus only on a viewable window): the first paint, mapped, asks again,
    // and again every 50 ms for two seconds until the keypad is active.
    void paintEvent(QPaintEvent* event) override;
    static constexpr int kActivationTries = 40;
    static constexpr int kActivationRetryMs = 50;
    void activateUntilActive(int triesLeft);

private slots:
    void on_Button_ok_clicked();
    void on_Button_close_clicked();
    void on_Button_delete_clicked();

private:
    struct Request {
        QPointer<QObject> asker;
        QString title;
        QString value;
        std::function<void()> begin;
        std::function<void()> end;
        int maxDigits = 0;
    };
    void run(Request request);
    void refresh();

    bool running_ = false;
    bool waiting_ = false;
    Request next_;

    Ui::NumberKeyboard* ui;
    QString value_;
    QString typed_;
    bool hasTyped_ = false;
    int max_digits_ = 0;
    bool activation_checked_ = true;
};
