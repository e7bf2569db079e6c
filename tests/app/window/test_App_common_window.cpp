// The window helpers shared by the forms, with real widgets on the offscreen platform.
#include "App_common_window.h"
#include "TestWindowApplication.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QTimer>
#include <gtest/gtest.h>

using App_common::TBusyCursor;

namespace {

class CommonWindow : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
};

} // namespace

TEST_F(CommonWindow, TheBusyCursorGivesWayWhileAModalWindowIsUp) {
    QDialog box;
    Qt::CursorShape whileUp = Qt::WaitCursor;
    Qt::CursorShape afterwards = Qt::ArrowCursor;
    {
        const TBusyCursor busy;
        QTimer::singleShot(0, &box, [&] {
            whileUp = QApplication::overrideCursor()->shape();
            box.accept();
        });
        box.exec();
        afterwards = QApplication::overrideCursor()->shape();
    }
    EXPECT_EQ(whileUp, Qt::ArrowCursor);
    EXPECT_EQ(afterwards, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
