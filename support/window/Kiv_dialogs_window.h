// The standard dialogs on Qt: QMessageBox and QFileDialog behind Kiv_dialogs::TDialogs.
// File names cross into Qt only when Qt gives the same bytes back, and names that the
// user picks come back in the file system's own bytes, also when they are not UTF-8.
#pragma once

#include "Kiv_dialogs.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

namespace Kiv_dialogs {

class TQtDialogs : public TDialogs {
public:
    // The dialogs belong to owner; without one, to the active modal or active window.
    explicit TQtDialogs(QWidget* owner = nullptr);

    TModalResult MessageBox(const TMessageRequest& request) override;
    std::optional<std::vector<std::string>> OpenFiles(TOpenFileRequest& request) override;
    std::optional<std::string> SaveFile(TSaveFileRequest& request) override;
    std::optional<std::string> SelectFolder(const TFolderRequest& request) override;

private:
    QWidget* Owner() const;

    QPointer<QWidget> FOwner;
};

// The Qt name filters of a filter list: "Name (patterns)", the patterns separated by
// blanks; "*.*" matches every name, as it does on Windows.
QStringList QtNameFilters(const std::string& filter);
// The name as Qt text, or nothing when Qt would not give the same bytes back.
std::optional<QString> ToQtFileName(const std::string& name);
// The nearest directory, from dir upwards, that Qt can name; the current one for none.
QString QtDirectory(const std::string& dir);
// The bytes of a path that Qt shows: a component that is not valid UTF-8 on disk is found
// by listing its directory. A text that several names on disk show alike raises
// EDialogError, so that the program never acts on another file than the one chosen.
std::string FromQtFileName(const QString& path);

} // namespace Kiv_dialogs
