// The placement of a real window (offscreen).
#include "Kiv_forms_window.h"
#include "TestWindowApplication.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace Kiv_forms;

TEST(WidgetForm, PlacementIsTheNormalGeometry) {
    TestApplication::TTestWindowApplication app;
    QWidget window;
    window.setGeometry(30, 40, 300, 200);
    TWidgetForm form(window);
    const TWindowPlacement placement = GetFormPlacement(form);
    EXPECT_EQ(placement.NormalPosition, (TRect{30, 40, 330, 240}));
    EXPECT_EQ(placement.ShowCmd, swShowNormal);
    SetFormNormalRect(form, {5, 6, 405, 306});
    EXPECT_EQ(window.geometry(), QRect(5, 6, 400, 300));
}

TEST(WidgetForm, AMaximisedWindowStaysMaximisedWithNewRestoredBounds) {
    TestApplication::TTestWindowApplication app;
    QWidget window;
    window.setGeometry(30, 40, 300, 200);
    window.show();
    window.showMaximized();
    TWidgetForm form(window);
    EXPECT_EQ(GetFormPlacement(form).ShowCmd, swShowMaximized);
    EXPECT_EQ(GetFormNormalRect(form), (TRect{30, 40, 330, 240}));
    SetFormNormalRect(form, {50, 60, 450, 360});
    EXPECT_TRUE(window.isMaximized());
    EXPECT_EQ(GetFormNormalRect(form), (TRect{50, 60, 450, 360}));
    window.showNormal();
    EXPECT_EQ(window.geometry(), QRect(50, 60, 400, 300));
}

TEST(WidgetForm, OnlyAnExistingWindowHasAPlacement) {
    TestApplication::TTestWindowApplication app;
    QWidget window;
    auto* child = new QWidget(&window);
    TWidgetForm childForm(*child);
    EXPECT_THROW(GetFormPlacement(childForm), Kiv_framework::EInvalidOperation);
    delete child;
    EXPECT_THROW(GetFormPlacement(childForm), Kiv_framework::EInvalidOperation);
    EXPECT_THROW(SetFormNormalRect(childForm, {0, 0, 1, 1}), Kiv_framework::EInvalidOperation);
}

TEST(WidgetForm, TheBoundsItHasLeaveAnUnplacedWindowToTheWindowManager) {
    TestApplication::TTestWindowApplication app;
    QWidget window;
    window.resize(300, 200);
    TWidgetForm form(window);
    SetFormNormalRect(form, GetFormNormalRect(form));
    EXPECT_FALSE(window.testAttribute(Qt::WA_Moved));
    SetFormNormalRect(form, {7, 8, 307, 208});
    EXPECT_TRUE(window.testAttribute(Qt::WA_Moved));
    EXPECT_EQ(window.geometry(), QRect(7, 8, 300, 200));
}
