#pragma once
// Progress ring of the receiving-card jobs. One ring at a time (g_qround_bar); the
// job's progress signal is connected to para_sync, and 100 closes the ring.
#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT

public:
    static const QRect kGeometry;  // 300, 140, 200 x 200 on the parent screen

    explicit QRoundProgressBar(QWidget* parent = nullptr);

    // Creates, shows and stores the ring on `parent` when none exists; otherwise nothing.
    static QRoundProgressBar* create_qround_bar(QDialog* parent);

    int value() const { return value_; }

public slots:
    // 0..99 sets the value and repaints; above 99 closes the ring and clears g_qround_bar.
    void para_sync(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Widgets the screen builds while the job runs (a refreshed list) must not cover the ring.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int value_ = 0;
    bool closed_ = false;
};
