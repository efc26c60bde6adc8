#include <QApplication>
#include <QDialog>
#include <QPointer>

#include <thread>

#include "shell_fixture.h"
#include "support/testkit.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_globals.h"

class RoundProgressTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        shelltest::app();
        g_qround_bar = nullptr;
    }
};

TEST_F(RoundProgressTest, RingClosesAt100AndThePointerReadsNull) {
    QDialog screen;
    QRoundProgressBar* ring = QRoundProgressBar::create_qround_bar(&screen);
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(g_qround_bar.data(), ring);
    EXPECT_EQ(ring->parentWidget(), &screen);
    EXPECT_EQ(ring->geometry(), QRect(300, 140, 200, 200));
    EXPECT_EQ(ring->value(), 0);

    QPointer<QRoundProgressBar> watch(ring);
    ring->para_sync(42);
    EXPECT_EQ(ring->value(), 42);
    ring->para_sync(99);
    EXPECT_EQ(ring->value(), 99);
    EXPECT_FALSE(g_qround_bar.isNull());
    ring->para_sync(100);
    EXPECT_TRUE(g_qround_bar.isNull());
    shelltest::flushDeletes();
    EXPECT_TRUE(watch.isNull());
}

TEST_F(RoundProgressTest, SecondRingIsRefusedWhileOneExists) {
    QDialog first;
    QDialog second;
    QRoundProgressBar* ring = QRoundProgressBar::create_qround_bar(&first);
    EXPECT_EQ(QRoundProgressBar::create_qround_bar(&second), nullptr);
    EXPECT_EQ(g_qround_bar.data(), ring);
    EXPECT_EQ(second.findChild<QRoundProgressBar*>(), nullptr);
}

TEST_F(RoundProgressTest, ScreenClosedDuringAJobLeavesNoDanglingRing) {
    auto* screen = new QDialog;
    QRoundProgressBar::create_qround_bar(screen);
    delete screen;
    EXPECT_TRUE(g_qround_bar.isNull());
    // The next job gets its ring.
    QDialog next;
    EXPECT_NE(QRoundProgressBar::create_qround_bar(&next), nullptr);
}

TEST_F(RoundProgressTest, LateEndOfAnOldJobKeepsTheNewRing) {
    QDialog screen;
    QRoundProgressBar* old = QRoundProgressBar::create_qround_bar(&screen);
    old->para_sync(100);
    QRoundProgressBar* fresh = QRoundProgressBar::create_qround_bar(&screen);
    ASSERT_NE(fresh, nullptr);
    old->para_sync(100);  // queued before the old ring was deleted
    old->para_sync(10);
    EXPECT_EQ(g_qround_bar.data(), fresh);
    EXPECT_EQ(fresh->value(), 0);
    shelltest::flushDeletes();
    EXPECT_EQ(g_qround_bar.data(), fresh);
}

TEST_F(RoundProgressTest, NegativeProgressIsIgnored) {
    QDialog screen;
    QRoundProgressBar* ring = QRoundProgressBar::create_qround_bar(&screen);
    ring->para_sync(30);
    ring->para_sync(-1);
    EXPECT_EQ(ring->value(), 30);
    EXPECT_EQ(g_qround_bar.data(), ring);
}

TEST_F(RoundProgressTest, EndSentFromTheJobThreadClosesTheRing) {
    QDialog screen;
    QPointer<QRoundProgressBar> ring = QRoundProgressBar::create_qround_bar(&screen);
    std::thread job([target = ring.data()] {
        QMetaObject::invokeMethod(target, "para_sync", Qt::QueuedConnection, Q_ARG(int, 55));
        QMetaObject::invokeMethod(target, "para_sync", Qt::QueuedConnection, Q_ARG(int, 100));
    });
    job.join();
    EXPECT_FALSE(g_qround_bar.isNull());
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(g_qround_bar.isNull());
    shelltest::flushDeletes();
    EXPECT_TRUE(ring.isNull());
}

TEST_F(RoundProgressTest, RingStaysAboveWidgetsItsScreenBuildsDuringTheJob) {
    QDialog screen;
    screen.resize(800, 480);
    QRoundProgressBar* ring = QRoundProgressBar::create_qround_bar(&screen);
    ASSERT_NE(ring, nullptr);
    screen.show();
    // a refresh during the job builds the screen's list again, over the ring's place
    auto* list = new QWidget(&screen);
    list->setGeometry(0, 0, 800, 480);
    list->show();
    EXPECT_EQ(screen.childAt(400, 240), ring);
    ring->para_sync(100);
}
