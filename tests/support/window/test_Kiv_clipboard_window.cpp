// The system clipboard of the running application (offscreen, in-process).
#include "Kiv_clipboard_window.h"
#include "TestApplication.h"
#include "TestWindowApplication.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

using namespace Kiv_clipboard;

TEST(SystemClipboard, AChangeRaisesOnChangeOnTheMainThread) {
    TestApplication::TTestWindowApplication app;
    TSystemClipboard clipboard;
    TClipboardWatcher watcher(clipboard);
    int changes = 0;
    QThread* thread = nullptr;
    watcher.OnChange = [&](TClipboardWatcher*) {
        ++changes;
        thread = QThread::currentThread();
    };
    watcher.SetActive(true);
    clipboard.SetText("/tmp/a\r\n/tmp/b\r\n");
    EXPECT_TRUE(TestApplication::ServeUntil([&] { return changes > 0; }));
    EXPECT_EQ(thread, app.thread());
    EXPECT_TRUE(clipboard.HasText());
    EXPECT_EQ(clipboard.GetText(), "/tmp/a\r\n/tmp/b\r\n");

    // A change made by anyone else is seen too.
    const int before = changes;
    QGuiApplication::clipboard()->clear();
    EXPECT_TRUE(TestApplication::ServeUntil([&] { return changes > before; }));
    EXPECT_FALSE(clipboard.HasText());

    watcher.SetActive(false);
    const int after = changes;
    clipboard.SetText("x");
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, after);
}

TEST(SystemClipboard, WithoutAGuiApplicationActivationFails) {
    TestApplication::TTestApplication app; // a QCoreApplication only
    TSystemClipboard clipboard;
    TClipboardWatcher watcher(clipboard);
    EXPECT_THROW(watcher.SetActive(true), EClipboardError);
    EXPECT_FALSE(watcher.Active());
    EXPECT_FALSE(clipboard.HasText());
}
