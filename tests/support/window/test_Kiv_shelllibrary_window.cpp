// The drop watcher on a real window (offscreen): drag and drop events as the window system
// delivers them.
#include "Kiv_shelllibrary_window.h"
#include "TestWindowApplication.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace Qt::Literals::StringLiterals;

using namespace Kiv_shelllibrary;
using Strings = std::vector<std::string>;

namespace {

// A window that records the drops its own handling gets.
class TWindow : public QWidget {
public:
    int OwnDrops = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        ++OwnDrops;
        event->acceptProposedAction();
    }
};

class DropWatcherTest : public ::testing::Test {
protected:
    DropWatcherTest() {
        Window.resize(200, 150);
        Window.show();
        Data.setUrls({QUrl::fromLocalFile(u"/home/u/one.txt"_s),
                      QUrl::fromLocalFile(u"/tmp/two words"_s),
                      QUrl::fromLocalFile(u"/srv/three"_s)});
    }

    // Enter, move and drop at one point; true when the drop was accepted, as a copy.
    bool Drop(Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction) {
        const QPointF point(20, 20);
        QDragEnterEvent enter(point.toPoint(), offered, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Window, &enter);
        Entered = enter.isAccepted();
        QDropEvent drop(point, offered, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Window, &drop);
        Action = drop.dropAction();
        return drop.isAccepted();
    }

    TestApplication::TTestWindowApplication App;
    TWindow Window;
    QMimeData Data;
    bool Entered = false;
    Qt::DropAction Action = Qt::IgnoreAction;
};

TEST_F(DropWatcherTest, ADropReachesOnDropOnceWithItsPathsInOrder) {
    TFileDropWatcher watcher(Window);
    EXPECT_FALSE(watcher.Accepting());
    watcher.SetAccepting(true);
    EXPECT_TRUE(watcher.Accepting());
    EXPECT_TRUE(Window.acceptDrops());

    std::vector<Strings> drops;
    std::weak_ptr<const Strings> released;
    watcher.OnDrop = [&](TFileDropWatcher* sender, TDroppedFiles& files, bool& handled) {
        EXPECT_EQ(sender, &watcher);
        EXPECT_FALSE(handled);
        Strings paths;
        for (int i = 0; i < files.Count(); ++i)
            paths.push_back(files.FilePath(i));
        drops.push_back(paths);
        released = files.GetHandle();
        handled = true;
    };
    EXPECT_TRUE(Drop());
    EXPECT_TRUE(Entered);
    EXPECT_EQ(Action, Qt::CopyAction); // never a move: the file manager keeps its files
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (Strings{"/home/u/one.txt", "/tmp/two words", "/srv/three"}));
    EXPECT_TRUE(released.expired());
    EXPECT_EQ(Window.OwnDrops, 0);
}

TEST_F(DropWatcherTest, AHandlerThatRaisesStillFinishesTheDrop) {
    TFileDropWatcher watcher(Window);
    watcher.SetAccepting(true);
    std::weak_ptr<const Strings> released;
    watcher.OnDrop = [&](TFileDropWatcher*, TDroppedFiles& files, bool&) {
        released = files.GetHandle();
        throw Kiv_framework::Exception("The drop command failed.");
    };
    EXPECT_THROW(Drop(), Kiv_framework::Exception);
    EXPECT_FALSE(released.lock());
    EXPECT_EQ(Window.OwnDrops, 0);
}

TEST_F(DropWatcherTest, UnhandledDropsGoToTheWindowsOwnHandling) {
    TFileDropWatcher watcher(Window);
    watcher.SetAccepting(true);
    int calls = 0;
    watcher.OnDrop = [&](TFileDropWatcher*, TDroppedFiles& files, bool&) {
        ++calls;
        EXPECT_FALSE(files.IsFinished());
    };
    Drop();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Window.OwnDrops, 1);

    // Without a handler, too.
    watcher.OnDrop.Clear();
    Drop();
    EXPECT_EQ(Window.OwnDrops, 2);
}

TEST_F(DropWatcherTest, OnlyLocalFilesOfferedForCopyWhileAccepting) {
    TFileDropWatcher watcher(Window);
    int calls = 0;
    watcher.OnDrop = [&](TFileDropWatcher*, TDroppedFiles&, bool& handled) {
        ++calls;
        handled = true;
    };
    Window.setAcceptDrops(false);
    Drop();
    EXPECT_EQ(calls, 0); // not accepting
    watcher.SetAccepting(true);
    Drop(Qt::MoveAction);
    EXPECT_EQ(calls, 0); // the source would delete what it moved
    Data.setUrls({QUrl(u"https://example.org/a"_s)});
    Drop();
    EXPECT_EQ(calls, 0);
    Data.setUrls({QUrl(u"https://example.org/a"_s), QUrl::fromLocalFile(u"/x"_s)});
    Drop();
    EXPECT_EQ(calls, 1);
}

TEST_F(DropWatcherTest, TheWatcherUnhooksAndNoticesAGoneWindow) {
    auto window = std::make_unique<TWindow>();
    auto watcher = std::make_unique<TFileDropWatcher>(*window);
    watcher->SetAccepting(true);
    window.reset();
    EXPECT_THROW(watcher->Accepting(), EFileDropError);
    try {
        watcher->Accepting();
    } catch (const EFileDropError& error) {
        EXPECT_STREQ(error.what(), "The program could not get the property.");
    }
    watcher.reset();

    {
        TFileDropWatcher hooked(Window);
        hooked.SetAccepting(true);
    }
    Drop(); // no watcher any more
    EXPECT_EQ(Window.OwnDrops, 1);
}

} // namespace
