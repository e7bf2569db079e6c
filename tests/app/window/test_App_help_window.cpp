// The desktop opener, with Qt's handler for file URLs replaced so nothing is launched.
#include "App_help_window.h"
#include "TestWindowApplication.h"

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <gtest/gtest.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

class TUrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls.push_back(url); }
};

class DesktopDocumentOpener : public ::testing::Test {
protected:
    void SetUp() override { QDesktopServices::setUrlHandler(u"file"_s, &Recorder, "Open"); }
    void TearDown() override { QDesktopServices::unsetUrlHandler(u"file"_s); }

    TestApplication::TTestWindowApplication App;
    TUrlRecorder Recorder;
    App_help::TDesktopDocumentOpener Opener;
};

} // namespace

TEST_F(DesktopDocumentOpener, HandsTheFileToTheDesktopAsAFileUrl) {
    const std::string path = "/opt/My Programs/Sorvik \xc3\xa4/Help/index.html";
    std::string why;
    EXPECT_TRUE(Opener.OpenDocument(path, why));
    ASSERT_EQ(Recorder.Urls.size(), 1u);
    EXPECT_TRUE(Recorder.Urls[0].isLocalFile());
    EXPECT_EQ(Recorder.Urls[0].toLocalFile().toStdString(), path);
}

TEST_F(DesktopDocumentOpener, ANameQtCannotGiveBackUnchangedIsRefused) {
    // Invalid UTF-8 would reach the desktop as another name.
    std::string why;
    EXPECT_FALSE(Opener.OpenDocument("/tmp/help-\xff.html", why));
    EXPECT_EQ(why, "its name is not valid UTF-8, which the desktop would change");
    EXPECT_FALSE(Opener.OpenDocument("", why));
    EXPECT_TRUE(Recorder.Urls.empty());
}

#include "test_App_help_window.moc"
