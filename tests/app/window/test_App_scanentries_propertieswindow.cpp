// The program's own properties window of a file, on real widgets.
#include "App_scanentries_window.h"
#include "TestWindowApplication.h"
#include "app/entries/EntriesTestSupport.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

using namespace App_scanentries;

namespace {

class PropertiesWindow : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
    EntriesTest::TTempDir Dir;
};

TEST_F(PropertiesWindow, ShowsEachPropertyReadOnlyBesideItsLabel) {
    const std::vector<TFileProperty> properties = {{"Name:", "caf\xE9.txt"},
                                                   {"Size:", "1,234 bytes"}};
    TFilePropertiesWindow window(Dir / "caf\xE9.txt", properties);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("caf\xE9.txt Properties"));
    EXPECT_FALSE(window.isModal());
    const QList<QLabel*> labels = window.findChildren<QLabel*>();
    const QList<QLineEdit*> fields = window.findChildren<QLineEdit*>();
    ASSERT_EQ(labels.size(), 2);
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(labels[0]->text(), u"Name:"_s);
    EXPECT_EQ(fields[0]->text(), QString::fromUtf8("caf\xE9.txt")) << "shown with a replacement";
    EXPECT_EQ(fields[1]->text(), u"1,234 bytes"_s);
    for (const QLineEdit* field : fields)
        EXPECT_TRUE(field->isReadOnly());
}

TEST_F(PropertiesWindow, OpensForAFileThatCanBeReadAndGoesWhenClosed) {
    QWidget owner;
    EXPECT_FALSE(ShowFilePropertiesWindow(Dir / "missing", &owner));
    EXPECT_TRUE(owner.findChildren<TFilePropertiesWindow*>().isEmpty());

    EntriesTest::WriteFile(Dir / "a.txt", "abc");
    ASSERT_TRUE(ShowFilePropertiesWindow(Dir / "a.txt", &owner));
    QPointer<TFilePropertiesWindow> window = owner.findChild<TFilePropertiesWindow*>();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->findChildren<QLineEdit*>().size(), 11);
    window->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

} // namespace
