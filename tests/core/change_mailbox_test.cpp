#include "core/change_mailbox.h"

#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<int> takeAll(ChangeMailbox& box) {
    std::vector<int> codes;
    for (int code = 0; box.take(&code);) codes.push_back(code);
    return codes;
}

// The GUI thread's side of postTo(): counts the calls queued on it.
class GuiThread : public QObject {
public:
    int calls = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::MetaCall) ++calls;
        return QObject::event(e);
    }
};

// Two managers posting the same code thousands of times queue one call on the GUI thread;
// the code is queued again only once it has been taken.
TEST(ChangeMailbox, FloodOfOneCodeQueuesOneCall) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    GuiThread gui;
    ChangeMailbox box;
    std::vector<int> served;
    auto post = [&] { box.postTo(&gui, 1, [&](int code) { served.push_back(code); }); };
    auto flood = [&] {
        for (int i = 0; i < 5000; ++i) post();
    };
    std::thread a(flood), b(flood);
    a.join();
    b.join();
    EXPECT_EQ(box.waiting(), 1u);
    QCoreApplication::sendPostedEvents(&gui, QEvent::MetaCall);
    EXPECT_EQ(gui.calls, 1);
    EXPECT_EQ(served, std::vector<int>{1});
    post();  // a change after the take needs a refresh of its own
    QCoreApplication::sendPostedEvents(&gui, QEvent::MetaCall);
    EXPECT_EQ(gui.calls, 2);
    EXPECT_EQ(served, (std::vector<int>{1, 1}));
}

// Distinct codes all arrive, in the order of their newest post: a stick plugged, its files
// ready, pulled and plugged again ends as plugged.
TEST(ChangeMailbox, DistinctCodesArriveInTheOrderOfTheirNewestPost) {
    ChangeMailbox box;
    int wakes = 0;
    for (int code : {1, 100, 2, 102, 101, 100, 1}) wakes += box.post(code);
    EXPECT_EQ(wakes, 5);
    EXPECT_EQ(takeAll(box), (std::vector<int>{2, 102, 101, 100, 1}));
    EXPECT_EQ(box.waiting(), 0u);
}

// A worker's post before the application object exists cannot queue its wake: the code must
// not stay waiting, or no later post of it would ever wake the GUI thread.
TEST(ChangeMailbox, PostWithoutAReceiverLeavesNothingWaiting) {
    ChangeMailbox box;
    int served = 0;
    box.postTo(nullptr, 7, [&](int) { ++served; });
    EXPECT_EQ(box.waiting(), 0u);
    EXPECT_TRUE(box.post(7)) << "the next post of the code wakes the taker again";
    EXPECT_EQ(served, 0);
}

}  // namespace
