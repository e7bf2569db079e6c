// The desktop's programs on Qt with the doors to the desktop stood in for (no program and
// no file manager is ever reached), and the windows of a move to the trash.
#include "Kiv_shellfiles_window.h"
#include "TestWindowApplication.h"
#include "support/TrashTestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

using namespace Kiv_shellfiles;
using TrashTest::TTempDir;

namespace {

// A shell whose desktop is the test: URLs and file-manager calls are recorded and
// answered as the test says; the trash is a folder of the test.
class TProbeShell : public TQtShell {
public:
    TProbeShell(std::string homeTrash, TPropertiesWindow ownProperties = nullptr)
        : TQtShell(nullptr, std::move(ownProperties)), HomeTrash(std::move(homeTrash)) {}

    std::string HomeTrash;
    std::vector<QUrl> Urls;
    bool UrlsOpen = true;
    std::vector<QDBusMessage> Calls;
    bool FileManagerAnswers = true;

protected:
    bool OpenUrl(const QUrl& url) override {
        Urls.push_back(url);
        return UrlsOpen;
    }
    bool CallFileManager(const QDBusMessage& call, std::string& why) override {
        Calls.push_back(call);
        if (!FileManagerAnswers)
            why = "no file manager is running";
        return FileManagerAnswers;
    }
    std::unique_ptr<TTrash> MakeTrash() override { return std::make_unique<TTrash>(HomeTrash); }
};

QStringList Uris(const QDBusMessage& call) {
    return call.arguments().value(0).toStringList();
}

// Acts on the modal box once it is up; a box that nobody expected is closed and reported.
void WhenBoxShown(std::function<void(QMessageBox&)> body) {
    QTimer::singleShot(0, [body = std::move(body)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            ADD_FAILURE() << "no box shown";
            return;
        }
        body(*box);
    });
}

QAbstractButton* Button(QMessageBox& box, const QString& text) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == text)
            return button;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

class QtShell : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
    TTempDir Dir;
    std::vector<std::string> OwnWindows;
    // Why the last request the desktop did not take failed.
    std::string Why;
    TProbeShell Shell{Dir / "home/Trash", [this](const std::string& path) {
                          OwnWindows.push_back(path);
                          return true;
                      }};
};

TEST_F(QtShell, OpenHandsTheFileUrlToTheDesktop) {
    EXPECT_TRUE(Shell.OpenFile("/tmp/a b#\xC3\xA4.txt", Why));
    ASSERT_EQ(Shell.Urls.size(), 1u);
    EXPECT_EQ(Shell.Urls[0].toString(QUrl::FullyEncoded), u"file:///tmp/a%20b%23%C3%A4.txt"_s);
    Shell.UrlsOpen = false;
    EXPECT_FALSE(Shell.OpenFile("/tmp/x", Why));
    EXPECT_EQ(Why, "the desktop has no program to open it");
}

TEST_F(QtShell, NameQtWouldChangeIsNeverHandedOn) {
    EXPECT_FALSE(Shell.OpenFile("/tmp/caf\xE9.txt", Why));
    EXPECT_EQ(Why, "its name is not valid UTF-8, which the desktop would change");
    EXPECT_TRUE(Shell.Urls.empty());
    // Its folder can still be shown, without the file.
    EXPECT_TRUE(Shell.ExploreFile("/tmp/caf\xE9.txt", Why));
    EXPECT_TRUE(Shell.Calls.empty());
    ASSERT_EQ(Shell.Urls.size(), 1u);
    EXPECT_EQ(Shell.Urls[0], QUrl::fromLocalFile(u"/tmp"_s));
    EXPECT_FALSE(Shell.ExploreFile("/tmp/caf\xE9/x.txt", Why));
    EXPECT_EQ(Shell.Urls.size(), 1u);
    // The own window reads the file by its bytes.
    EXPECT_TRUE(Shell.ShowFileProperties("/tmp/caf\xE9.txt", Why));
    EXPECT_TRUE(Shell.Calls.empty());
    EXPECT_EQ(OwnWindows, std::vector<std::string>{"/tmp/caf\xE9.txt"});
}

TEST_F(QtShell, ExploreAsksTheFileManagerToShowTheFileElseOpensTheFolder) {
    EXPECT_TRUE(Shell.ExploreFile("/tmp/d/a.txt", Why));
    ASSERT_EQ(Shell.Calls.size(), 1u);
    EXPECT_EQ(Shell.Calls[0].member(), u"ShowItems"_s);
    EXPECT_EQ(Uris(Shell.Calls[0]), QStringList{u"file:///tmp/d/a.txt"_s});
    EXPECT_TRUE(Shell.Urls.empty());

    Shell.FileManagerAnswers = false;
    EXPECT_TRUE(Shell.ExploreFile("/tmp/d/a.txt", Why));
    EXPECT_EQ(Shell.Urls, std::vector<QUrl>{QUrl::fromLocalFile(u"/tmp/d"_s)});
    Shell.UrlsOpen = false;
    EXPECT_FALSE(Shell.ExploreFile("/a.txt", Why));
    EXPECT_EQ(Shell.Urls.back(), QUrl::fromLocalFile(u"/"_s));
    EXPECT_EQ(Why, "no file manager answered (no file manager is running), and the desktop has "
                   "no program to open it");
}

TEST_F(QtShell, PropertiesFromTheFileManagerElseTheOwnWindow) {
    EXPECT_TRUE(Shell.ShowFileProperties("/tmp/a.txt", Why));
    ASSERT_EQ(Shell.Calls.size(), 1u);
    EXPECT_EQ(Shell.Calls[0].member(), u"ShowItemProperties"_s);
    EXPECT_TRUE(OwnWindows.empty());

    Shell.FileManagerAnswers = false;
    EXPECT_TRUE(Shell.ShowFileProperties("/tmp/a.txt", Why));
    EXPECT_EQ(OwnWindows, std::vector<std::string>{"/tmp/a.txt"});

    TProbeShell bare(Dir / "home/Trash");
    bare.FileManagerAnswers = false;
    EXPECT_FALSE(bare.ShowFileProperties("/tmp/a.txt", Why));
    EXPECT_EQ(Why, "no file manager answered (no file manager is running)");
}

TEST_F(QtShell, FileManagerCallCarriesOneUriAndNoStartupId) {
    const QDBusMessage call =
        FileManagerCall(u"ShowItems"_s, QUrl::fromLocalFile(QString::fromUtf8("/t/\xC3\xA4 b")));
    EXPECT_EQ(call.type(), QDBusMessage::MethodCallMessage);
    EXPECT_EQ(call.service(), u"org.freedesktop.FileManager1"_s);
    EXPECT_EQ(call.path(), u"/org/freedesktop/FileManager1"_s);
    EXPECT_EQ(call.interface(), u"org.freedesktop.FileManager1"_s);
    ASSERT_EQ(call.arguments().size(), 2);
    EXPECT_EQ(Uris(call), QStringList{u"file:///t/%C3%A4%20b"_s});
    EXPECT_EQ(call.arguments().value(1).toString(), u""_s);
}

TEST_F(QtShell, OneFileMovesToTheTrashWithoutAProgressWindow) {
    TrashTest::MakeDirs(Dir / "data");
    TrashTest::WriteFile(Dir / "data/a", "a");
    EXPECT_TRUE(Shell.RecycleFiles({Dir / "data/a"}));
    EXPECT_EQ(TrashTest::ReadFile(Dir / "home/Trash/files/a"), "a");
}

// ---------------------------------------------------------------------------------------
// The windows of a move

class Monitor : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
    QWidget Owner;
    TQtFileOperationMonitor Windows{&Owner};
};

TEST_F(Monitor, SeveralFilesGetAModalProgressWindowWhoseCancelStopsTheMove) {
    Windows.Start(1);
    EXPECT_EQ(Windows.ProgressDialog(), nullptr);
    Windows.Finish();

    Windows.Start(3);
    QPointer<QProgressDialog> progress = Windows.ProgressDialog();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->windowTitle(), u"Move to Trash"_s);
    EXPECT_EQ(progress->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(progress->maximum(), 3);
    EXPECT_EQ(progress->parentWidget(), &Owner);
    EXPECT_TRUE(Windows.Next(0, "/x/1"));
    progress->cancel();
    EXPECT_FALSE(Windows.Next(1, "/x/2"));
    Windows.Finish();
    EXPECT_TRUE(progress.isNull()) << "the window goes with the operation";
}

TEST_F(Monitor, FailedFileOffersSkipSkipAllAndStop) {
    const std::string message = "The program could not move the file \"/x/<b>\" to the trash "
                                "(Permission denied).";
    WhenBoxShown([&](QMessageBox& box) {
        EXPECT_EQ(box.text().toStdString(), message);
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        EXPECT_EQ(box.buttons().size(), 3);
        EXPECT_EQ(box.defaultButton(), Button(box, u"Skip"_s));
        Button(box, u"Skip"_s)->click();
    });
    EXPECT_TRUE(Windows.SkipAfterError("/x/<b>", message));

    WhenBoxShown([](QMessageBox& box) { Button(box, u"Stop"_s)->click(); });
    EXPECT_FALSE(Windows.SkipAfterError("/x/1", message));
    WhenBoxShown([](QMessageBox& box) { box.reject(); });
    EXPECT_FALSE(Windows.SkipAfterError("/x/1", message)) << "closing the box stops";

    WhenBoxShown([](QMessageBox& box) { Button(box, u"Skip All"_s)->click(); });
    EXPECT_TRUE(Windows.SkipAfterError("/x/1", message));
    // No box comes up any more in this operation: a box would wait for ever, so one is
    // answered with Stop and so fails the check.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    guard.start(50);
    EXPECT_TRUE(Windows.SkipAfterError("/x/2", message));
    // A new operation asks again.
    Windows.Start(2);
    EXPECT_FALSE(Windows.SkipAfterError("/x/3", message));
}

TEST_F(Monitor, QuestionComesAboveTheProgressWindow) {
    // Had the progress window come up later, on its timer, it would block the question.
    Windows.Start(3);
    ASSERT_FALSE(Windows.ProgressDialog()->isVisible());
    WhenBoxShown([&](QMessageBox& box) {
        EXPECT_TRUE(Windows.ProgressDialog()->isVisible());
        EXPECT_EQ(box.parentWidget(), Windows.ProgressDialog());
        Button(box, u"Skip"_s)->click();
    });
    EXPECT_TRUE(Windows.SkipAfterError("/x/1", "The file could not be moved."));
}

} // namespace
