// Where the start-up places the shared keypad.
#include <gtest/gtest.h>

#include "core/startup.h"

namespace {

TEST(Startup, KeypadOfWindowAtOriginCoversX420To799AndY0To479) {
    const QRect r = keypadRectFor(QPoint(0, 0));
    EXPECT_EQ(r.left(), 420);
    EXPECT_EQ(r.right(), 799);
    EXPECT_EQ(r.top(), 0);
    EXPECT_EQ(r.bottom(), 479);
    EXPECT_EQ(r.size(), QSize(380, 480));  // not 379 x 479: both corners belong to the strip
}

TEST(Startup, KeypadFollowsAMovedMainWindow) {
    EXPECT_EQ(keypadRectFor(QPoint(100, 30)), QRect(520, 30, 380, 480));
}

}  // namespace
