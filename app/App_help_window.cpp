#include "App_help_window.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QFile>
#include <QUrl>

namespace App_help {

bool TDesktopDocumentOpener::OpenDocument(const std::string& path) {
    const QByteArray bytes = QByteArray::fromStdString(path);
    const QString name = QFile::decodeName(bytes);
    if (bytes.isEmpty() || QFile::encodeName(name) != bytes)
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(name));
}

} // namespace App_help
