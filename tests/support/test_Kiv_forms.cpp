#include "Kiv_forms.h"
#include "TestApplication.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using Kiv_forms::TUpdateNotifier;

namespace {

// Runs the event loop until it has nothing left to do.
void RunPendingEvents() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(UpdateNotifier, CoalescesRequestsIntoOneLaterUpdate) {
    TestApplication::TTestApplication app;
    TUpdateNotifier notifier;
    int updates = 0;
    TUpdateNotifier* sender = nullptr;
    notifier.OnUpdate = [&](TUpdateNotifier* s) {
        ++updates;
        sender = s;
    };
    for (int i = 0; i < 10; ++i)
        notifier.RequestUpdate();
    EXPECT_TRUE(notifier.Pending());
    EXPECT_EQ(updates, 0);
    RunPendingEvents();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(sender, &notifier);
    EXPECT_FALSE(notifier.Pending());

    notifier.RequestUpdate();
    RunPendingEvents();
    EXPECT_EQ(updates, 2);
}

TEST(UpdateNotifier, RequestInsideUpdateIsServedInALaterTurn) {
    TestApplication::TTestApplication app;
    TUpdateNotifier notifier;
    int updates = 0;
    notifier.OnUpdate = [&](TUpdateNotifier* s) {
        if (++updates == 1)
            s->RequestUpdate();
    };
    notifier.RequestUpdate();
    QCoreApplication::processEvents();
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(notifier.Pending());
    RunPendingEvents();
    EXPECT_EQ(updates, 2);
}

TEST(UpdateNotifier, UpdateNowAndFlushRunAtOnce) {
    TestApplication::TTestApplication app;
    TUpdateNotifier notifier;
    int updates = 0;
    notifier.OnUpdate = [&](TUpdateNotifier*) { ++updates; };
    notifier.Flush();
    EXPECT_EQ(updates, 0);
    notifier.UpdateNow();
    EXPECT_EQ(updates, 1);
    RunPendingEvents(); // the queued flush finds nothing pending
    EXPECT_EQ(updates, 1);
}

TEST(UpdateNotifier, DestroyedNotifierDropsItsQueuedFlush) {
    TestApplication::TTestApplication app;
    int updates = 0;
    {
        TUpdateNotifier notifier;
        notifier.OnUpdate = [&](TUpdateNotifier*) { ++updates; };
        notifier.RequestUpdate();
    }
    RunPendingEvents();
    EXPECT_EQ(updates, 0);
}
