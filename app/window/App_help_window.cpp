#include "App_help_window.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QFile>
#include <QUrl>

namespace App_help {

bool TDesktopDocumentOpener::OpenDocument(const std::string& path, std::string& why) {
    const QByteArray bytes = QByteArray::fromStdString(path);
    const QString name = QFile::decodeName(bytes);
    if (bytes.isEmpty() || QFile::encodeName(name) != bytes) {
        why = "its name is not valid UTF-8, which the desktop would change";
        return false;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(name)))
        return true;
    why = "the desktop has no program to open it";
    return false;
}

} // namespace App_help
