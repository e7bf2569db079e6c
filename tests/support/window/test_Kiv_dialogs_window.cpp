#include "Kiv_dialogs_window.h"
#include "TestFiles.h"
#include "TestWindowApplication.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

using namespace Kiv_dialogs;

namespace {

using TestFiles::TTempDir;

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// Acts on the modal dialog of the given type once it is up.
template <typename Dialog>
void WhenShown(std::function<void(Dialog&)> body) {
    QTimer::singleShot(0, [body = std::move(body)] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no dialog shown";
            return;
        }
        body(*dialog);
    });
}

class QtDialogs : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
    TQtDialogs Dialogs;
};

} // namespace

TEST_F(QtDialogs, MessageBoxShowsTheRequestAsWrittenAndReturnsTheButton) {
    WhenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), u"Sorvik"_s);
        EXPECT_EQ(box.text(), u"Remove \"<b>&amp;\" from the list?"_s);
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.icon(), QMessageBox::Question);
        ASSERT_EQ(box.buttons().size(), 3);
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Yes));
        box.button(QMessageBox::No)->click();
    });
    EXPECT_EQ(Dialogs.MessageBox(
                  {"Remove \"<b>&amp;\" from the list?", "Sorvik", miQuestion, mbYesNoCancel}),
              mrNo);

    WhenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        ASSERT_EQ(box.buttons().size(), 1);
        box.button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(Dialogs.MessageBox({"Failed.", "Sorvik", miError, mbOk}), mrOk);

    // Closed without a button (Escape): cancel.
    WhenShown<QMessageBox>([](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(Dialogs.MessageBox({"Go on?", "Sorvik", miWarning, mbOkCancel}), mrCancel);
}

TEST_F(QtDialogs, FiltersBecomeQtNameFiltersWhereStarDotStarMatchesEverything) {
    EXPECT_EQ(QtNameFilters("Text (*.txt)|*.txt|All (*.*)|*.*"),
              (QStringList{u"Text (*.txt)"_s, u"All (*)"_s}));
    EXPECT_EQ(QtNameFilters("Pictures|*.png;*.jpg"), QStringList{u"Pictures (*.png *.jpg)"_s});
}

TEST_F(QtDialogs, NamesReachQtOnlyWhenTheyComeBackTheSame) {
    EXPECT_EQ(ToQtFileName("/tmp/caf\xc3\xa9"), QString::fromUtf8("/tmp/caf\xc3\xa9"));
    EXPECT_FALSE(ToQtFileName("/tmp/caf\xe9").has_value());
    EXPECT_EQ(QtDirectory("/tmp/caf\xe9/sub"), u"/tmp"_s);
    EXPECT_EQ(QtDirectory(""), QDir::currentPath());
}

TEST_F(QtDialogs, ANameThatIsNotUtf8ComesBackInItsOwnBytes) {
    TTempDir dir;
    const std::string latin1 = dir / "caf\xe9";
    const std::string inside = latin1 + "/r\xe9sum\xe9.txt";
    std::filesystem::create_directory(latin1);
    Touch(inside);
    Touch(dir / "plain.txt");
    const QString shown = QFile::decodeName(QByteArray::fromStdString(inside));
    EXPECT_TRUE(shown.contains(QChar::ReplacementCharacter));
    EXPECT_EQ(FromQtFileName(shown), inside);
    EXPECT_EQ(FromQtFileName(QString::fromStdString(dir / "plain.txt")), dir / "plain.txt");
    // A new name typed in such a folder keeps the folder's bytes.
    EXPECT_EQ(FromQtFileName(QFile::decodeName(QByteArray::fromStdString(latin1)) + u"/new.txt"_s),
              latin1 + "/new.txt");

    // Two names that Qt shows alike: neither is taken for the other.
    Touch(dir / "x\xe9");
    Touch(dir / "x\xe8");
    EXPECT_THROW(FromQtFileName(QFile::decodeName(QByteArray::fromStdString(dir / "x\xe9"))),
                 EDialogError);
}

TEST_F(QtDialogs, SaveDialogAppliesTheDefaultExtensionAndReportsTheFilter) {
    TTempDir dir;
    TSaveFileRequest request;
    request.Title = "Save Results";
    request.Filter = "Text (*.txt)|*.txt|All (*.*)|*.*";
    request.FilterIndex = 2;
    request.DefaultExt = "txt";
    request.FileName = "Sorvik Results.txt";
    request.InitialDir = dir.Path;
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), u"Save Results"_s);
        EXPECT_EQ(dialog.selectedNameFilter(), u"All (*)"_s);
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), dir.Path);
        EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), dir / "Sorvik Results.txt");
        dialog.selectNameFilter(u"Text (*.txt)"_s);
        dialog.selectFile(u"report"_s);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    EXPECT_EQ(Dialogs.SaveFile(request), dir / "report.txt");
    EXPECT_EQ(request.FilterIndex, 1);

    WhenShown<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(Dialogs.SaveFile(request).has_value());
}

TEST_F(QtDialogs, OpenDialogReturnsEveryChosenFile) {
    TTempDir dir;
    Touch(dir / "a.txt");
    Touch(dir / "b.txt");
    TOpenFileRequest request;
    request.Title = "Add Files";
    request.Filter = "All (*.*)|*.*";
    request.AllowMultiSelect = true;
    request.InitialDir = dir.Path;
    WhenShown<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
        dialog.selectFile(u"\"a.txt\" \"b.txt\""_s);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    const auto paths = Dialogs.OpenFiles(request);
    ASSERT_TRUE(paths.has_value());
    EXPECT_EQ(*paths, (std::vector<std::string>{dir / "a.txt", dir / "b.txt"}));

    TFolderRequest folder{"Add Folder", dir.Path};
    WhenShown<QFileDialog>([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    EXPECT_EQ(Dialogs.SelectFolder(folder), dir.Path);
}
