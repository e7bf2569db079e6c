#include "Kiv_forms.h"
#include "TestApplication.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <functional>
#include <gtest/gtest.h>
#include <string>

using Kiv_forms::TUpdateNotifier;

using TestFiles::MessageOf;

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

namespace {

// A window that keeps its placement in a record and refuses when told to.
class TRecordForm : public Kiv_forms::TCustomForm {
public:
    bool GetWindowPlacement(Kiv_forms::TWindowPlacement& placement) const override {
        if (RefuseGet || placement.Length != Kiv_forms::WindowPlacementLength)
            return false;
        placement = Stored;
        return true;
    }
    bool SetWindowPlacement(const Kiv_forms::TWindowPlacement& placement) override {
        if (RefuseSet)
            return false;
        Stored = placement;
        return true;
    }

    Kiv_forms::TWindowPlacement Stored{
        Kiv_forms::WindowPlacementLength, 2, Kiv_forms::swShowMaximized, {}, {}, {1, 2, 3, 4}};
    bool RefuseGet = false;
    bool RefuseSet = false;
};

} // namespace

TEST(FormPlacement, NormalRectReplacesOnlyTheBounds) {
    TRecordForm form;
    EXPECT_EQ(Kiv_forms::GetFormNormalRect(form), (Kiv_forms::TRect{1, 2, 3, 4}));
    Kiv_forms::SetFormNormalRect(form, {10, 20, 310, 220});
    EXPECT_EQ(form.Stored.NormalPosition, (Kiv_forms::TRect{10, 20, 310, 220}));
    EXPECT_EQ(form.Stored.ShowCmd, Kiv_forms::swShowMaximized);
    EXPECT_EQ(form.Stored.Flags, 2u);
    EXPECT_EQ(form.Stored.Length, Kiv_forms::WindowPlacementLength);
}

TEST(FormPlacement, RefusalsRaiseInvalidOperation) {
    TRecordForm form;
    form.RefuseGet = true;
    EXPECT_EQ(
        MessageOf<Kiv_framework::EInvalidOperation>([&] { Kiv_forms::GetFormNormalRect(form); }),
        "The program could not get the placement of the form.");
    form.RefuseGet = false;
    form.RefuseSet = true;
    EXPECT_EQ(MessageOf<Kiv_framework::EInvalidOperation>([&] {
                  Kiv_forms::SetFormNormalRect(form, {0, 0, 9, 9});
              }),
              "The program could not set the placement of the form.");
    EXPECT_EQ(form.Stored.NormalPosition, (Kiv_forms::TRect{1, 2, 3, 4}));
}
