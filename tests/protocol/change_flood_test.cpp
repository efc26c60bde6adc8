// A PC that applies changes as fast as it gets replies, against the change handling of the GUI
// thread (this one) as start-up wires it: the scaler's passes run on the PC's thread between its
// requests, and the GUI thread takes nothing until the PC is done, as when its event loop is
// busy. However many passes announced a change, one refresh waits, and it saves the newest RAM.
#include <QApplication>

#include <thread>

#include "app/syncupdate.h"
#include "engines_fixture.h"

using namespace prototest;
using namespace ctl;
using namespace vlxram;

namespace {

// Counts the queued calls delivered to an object.
class CallCount : public QObject {
public:
    int calls = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::MetaCall) ++calls;
        return QObject::eventFilter(o, e);
    }
};

class ChangeFloodTest : public EnginesWorld {
protected:
    void SetUp() override {
        makeApplication();
        EnginesWorld::SetUp();
        if (HasFatalFailure()) return;
        QCoreApplication::processEvents();  // what start-up left queued
        SyncUpdate::pInstance()->follow(store, &VlxRamPara::sig_update_para);
        SyncUpdate::p_SyncUpdate->installEventFilter(&count);
    }
    void TearDown() override {
        QObject::disconnect(store, &VlxRamPara::sig_update_para, nullptr, nullptr);
        if (SyncUpdate::p_SyncUpdate) SyncUpdate::p_SyncUpdate->removeEventFilter(&count);
        EnginesWorld::TearDown();
    }
    static uint8_t ask(RawClient& c, const std::vector<uint8_t>& f) {
        c.send(line(f));
        const std::vector<uint8_t> r = c.receive();
        return r.size() > kPayload ? r[kPayload] : 0xEE;
    }
    CallCount count;
};

TEST_F(ChangeFloodTest, PcAppliesAndServiceRequestsLeaveOneRefreshWaitingThatSavesTheNewest) {
    constexpr int kApplies = 40;
    int unanswered = 0;
    std::thread pc([&] {
        RawClient c(networkManage::p_networkManage->port());
        for (int i = 0; i < kApplies; ++i) {
            const uint16_t contrast = uint16_t(20 + i);
            if (ask(c, memWrite(kContrast, le16(contrast))) != kStatusOk || ask(c, regWrite(kRegUpdate, 0x02, 0x02)) != kStatusOk)
                ++unanswered;
            tick();
            // a service request the dispatcher finds empty (0xFF + 1): its pass still announces
            if (ask(c, regWrite(kRegDebugA3, 0xFF, 0xFF)) != kStatusOk) ++unanswered;
            tick();
        }
    });
    pc.join();
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(SyncUpdate::p_SyncUpdate->waitingCodes(), 1u);
    QCoreApplication::processEvents();
    EXPECT_EQ(count.calls, 1) << "one refresh for " << 2 * kApplies << " announced passes";
    EXPECT_EQ(SyncUpdate::p_SyncUpdate->waitingCodes(), 0u);
    EXPECT_EQ(store->shadowU16(kContrast), 20 + kApplies - 1) << "the refresh saved the newest RAM";
}

}  // namespace
