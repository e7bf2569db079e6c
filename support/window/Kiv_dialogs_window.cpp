#include "Kiv_dialogs_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <dirent.h>
#include <memory>
#include <utility>

namespace Kiv_dialogs {

namespace {

struct TButtonResult {
    QMessageBox::StandardButton Button;
    TModalResult Result;
};

std::vector<TButtonResult> ButtonsOf(TMessageButtons buttons) {
    using B = QMessageBox;
    switch (buttons) {
    case mbOk:
        return {{B::Ok, mrOk}};
    case mbOkCancel:
        return {{B::Ok, mrOk}, {B::Cancel, mrCancel}};
    case mbYesNo:
        return {{B::Yes, mrYes}, {B::No, mrNo}};
    case mbYesNoCancel:
        return {{B::Yes, mrYes}, {B::No, mrNo}, {B::Cancel, mrCancel}};
    case mbRetryCancel:
        return {{B::Retry, mrRetry}, {B::Cancel, mrCancel}};
    case mbAbortRetryIgnore:
        return {{B::Abort, mrAbort}, {B::Retry, mrRetry}, {B::Ignore, mrIgnore}};
    }
    return {{B::Ok, mrOk}};
}

QMessageBox::Icon IconOf(TMessageIcon icon) {
    switch (icon) {
    case miInformation:
        return QMessageBox::Information;
    case miWarning:
        return QMessageBox::Warning;
    case miError:
        return QMessageBox::Critical;
    case miQuestion:
        return QMessageBox::Question;
    case miNone:
        break;
    }
    return QMessageBox::NoIcon;
}

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The filter the request names, 1-based; the first one for an index out of range.
void SelectFilter(QFileDialog& dialog, const QStringList& filters, int filterIndex) {
    if (filters.isEmpty())
        return;
    dialog.setNameFilters(filters);
    const int index = filterIndex >= 1 && filterIndex <= filters.size() ? filterIndex : 1;
    dialog.selectNameFilter(filters[index - 1]);
}

int SelectedFilterIndex(const QFileDialog& dialog, const QStringList& filters, int previous) {
    const int index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    return index >= 0 ? index + 1 : previous;
}

// The names in a directory, in bytes, that Qt shows as the given text.
std::vector<std::string> NamesShownAs(const std::string& directory, const QString& shown) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get()))
        if (QFile::decodeName(entry->d_name) == shown)
            names.emplace_back(entry->d_name);
    return names;
}

} // namespace

QStringList QtNameFilters(const std::string& filter) {
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList filters;
    for (const TFileFilter& entry : ParseFilter(filter)) {
        QStringList patterns;
        for (const std::string& pattern : entry.Patterns)
            patterns << (pattern == "*.*" ? QStringLiteral("*") : Text(pattern));
        // The name usually repeats its patterns in parentheses; Qt shows and uses its own.
        QString name = Text(entry.Name).remove(trailingPatterns);
        filters << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

std::optional<QString> ToQtFileName(const std::string& name) {
    const QByteArray bytes(name.data(), static_cast<qsizetype>(name.size()));
    QString text = QFile::decodeName(bytes);
    if (QFile::encodeName(text) != bytes)
        return std::nullopt;
    return text;
}

QString QtDirectory(const std::string& dir) {
    std::string candidate = dir;
    while (!candidate.empty()) {
        if (const auto text = ToQtFileName(candidate))
            return *text;
        const std::size_t slash = candidate.find_last_of('/');
        if (slash == std::string::npos || candidate == "/")
            break;
        candidate = slash == 0 ? std::string("/") : candidate.substr(0, slash);
    }
    return QDir::currentPath();
}

std::string FromQtFileName(const QString& path) {
    // Only a name that is not valid UTF-8 on disk reaches Qt with replacement characters.
    if (!path.contains(QChar::ReplacementCharacter))
        return QFile::encodeName(path).toStdString();
    std::string result;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            result += '/';
        const QString& part = parts[i];
        if (!part.contains(QChar::ReplacementCharacter)) {
            result += QFile::encodeName(part).toStdString();
            continue;
        }
        const std::vector<std::string> names = NamesShownAs(result.empty() ? "/" : result, part);
        if (names.size() > 1)
            throw EDialogError("The program cannot tell which file the name \"" +
                               path.toStdString() + "\" stands for.");
        // None on disk: a new name the user typed; it is what it says.
        result += names.empty() ? QFile::encodeName(part).toStdString() : names.front();
    }
    return result;
}

TQtDialogs::TQtDialogs(QWidget* owner) : FOwner(owner) {}

QWidget* TQtDialogs::Owner() const {
    if (FOwner)
        return FOwner;
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

TModalResult TQtDialogs::MessageBox(const TMessageRequest& request) {
    QMessageBox box(Owner());
    box.setWindowTitle(Text(request.Caption));
    // Paths may hold "<" and "&": the text is shown as written.
    box.setTextFormat(Qt::PlainText);
    box.setText(Text(request.Text));
    box.setIcon(IconOf(request.Icon));
    const std::vector<TButtonResult> buttons = ButtonsOf(request.Buttons);
    for (const TButtonResult& button : buttons)
        box.addButton(button.Button);
    const std::size_t defaultButton = static_cast<std::size_t>(request.DefaultButton);
    box.setDefaultButton(buttons.at(defaultButton < buttons.size() ? defaultButton : 0).Button);
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    for (const TButtonResult& button : buttons)
        if (clicked && clicked == box.button(button.Button))
            return button.Result;
    return mrCancel;
}

std::optional<std::vector<std::string>> TQtDialogs::OpenFiles(TOpenFileRequest& request) {
    QFileDialog dialog(Owner(), Text(request.Title), QtDirectory(request.InitialDir));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.AllowMultiSelect ? QFileDialog::ExistingFiles
                       : request.FileMustExist  ? QFileDialog::ExistingFile
                                                : QFileDialog::AnyFile);
    const QStringList filters = QtNameFilters(request.Filter);
    SelectFilter(dialog, filters, request.FilterIndex);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    request.FilterIndex = SelectedFilterIndex(dialog, filters, request.FilterIndex);
    std::vector<std::string> paths;
    for (const QString& file : dialog.selectedFiles())
        paths.push_back(FromQtFileName(file));
    return paths;
}

std::optional<std::string> TQtDialogs::SaveFile(TSaveFileRequest& request) {
    QFileDialog dialog(Owner(), Text(request.Title), QtDirectory(request.InitialDir));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
    // Qt appends it before the overwrite prompt, so the prompt names the real file.
    dialog.setDefaultSuffix(Text(request.DefaultExt));
    const QStringList filters = QtNameFilters(request.Filter);
    SelectFilter(dialog, filters, request.FilterIndex);
    if (const auto name = ToQtFileName(request.FileName); name && !name->isEmpty())
        dialog.selectFile(*name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    request.FilterIndex = SelectedFilterIndex(dialog, filters, request.FilterIndex);
    return FromQtFileName(dialog.selectedFiles().front());
}

std::optional<std::string> TQtDialogs::SelectFolder(const TFolderRequest& request) {
    QFileDialog dialog(Owner(), Text(request.Title), QtDirectory(request.InitialDir));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FromQtFileName(dialog.selectedFiles().front());
}

} // namespace Kiv_dialogs
