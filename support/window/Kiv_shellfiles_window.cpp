#include "Kiv_shellfiles_window.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>

namespace Kiv_shellfiles {

namespace {

// A file manager that is being started may take a while; one that hangs must not hold
// the program for ever.
constexpr int FileManagerTimeout = 10000;
// The progress window's label is redrawn at most this often (milliseconds).
constexpr int UpdateInterval = 30;
// The width the file name in the progress window is cut to (pixels at 96 dpi).
constexpr int LabelWidth = 360;

QString FileName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

QString Caption() {
    return QGuiApplication::applicationDisplayName();
}

} // namespace

QUrl LocalFileUrl(const std::string& path) {
    return QUrl::fromLocalFile(
        QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
}

QDBusMessage FileManagerCall(const QString& method, const QUrl& url) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1"), method);
    call << QStringList{url.toString(QUrl::FullyEncoded)} << QString();
    return call;
}

// ---------------------------------------------------------------------------------------

TQtFileOperationMonitor::TQtFileOperationMonitor(QWidget* owner, int showDelay)
    : Owner(owner), ShowDelay(showDelay) {}

TQtFileOperationMonitor::~TQtFileOperationMonitor() {
    TQtFileOperationMonitor::Finish();
}

void TQtFileOperationMonitor::Start(int count) {
    Finish();
    SkipAll = false;
    if (count < 2)
        return;
    Progress = new QProgressDialog(Owner);
    Progress->setWindowTitle(QStringLiteral("Move to Trash"));
    Progress->setLabelText(QStringLiteral("Moving files to the trash..."));
    Progress->setCancelButtonText(QStringLiteral("Cancel"));
    Progress->setWindowModality(Qt::ApplicationModal);
    Progress->setAutoClose(false);
    Progress->setAutoReset(false);
    Progress->setMinimumDuration(ShowDelay);
    Progress->setMinimumWidth(LabelWidth + 60);
    Progress->setRange(0, count);
    Progress->setValue(0);
    SinceUpdate.start();
}

bool TQtFileOperationMonitor::Next(int index, const std::string& path) {
    if (!Progress)
        return true;
    if (SinceUpdate.elapsed() >= UpdateInterval) {
        const QFontMetrics metrics(Progress->font());
        const QString name = metrics.elidedText(FileName(path), Qt::ElideMiddle, LabelWidth);
        Progress->setLabelText(QStringLiteral("Moving \"%1\" to the trash.").arg(name));
        // Brings the window up once the move proves long, and then serves its events (the
        // Cancel button) while the rest of the program waits behind it.
        Progress->setValue(index);
        SinceUpdate.restart();
    }
    return !Progress->wasCanceled();
}

bool TQtFileOperationMonitor::SkipAfterError(const std::string& /*path*/,
                                             const std::string& message) {
    if (SkipAll)
        return true;
    // The progress window comes up first: shown later by its own timer, it would cover the
    // question and block it.
    if (Progress && !Progress->isVisible()) {
        Progress->setMinimumDuration(0);
        Progress->show();
    }
    QWidget* parent = Progress ? Progress.data() : Owner.data();
    QMessageBox box(QMessageBox::Warning, Caption(), QString::fromStdString(message),
                    QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* skip = box.addButton(QStringLiteral("Skip"), QMessageBox::AcceptRole);
    QPushButton* skipAll = box.addButton(QStringLiteral("Skip All"), QMessageBox::AcceptRole);
    QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::RejectRole);
    box.setDefaultButton(skip);
    box.setEscapeButton(stop);
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    SkipAll = clicked == skipAll;
    return clicked == skip || clicked == skipAll;
}

void TQtFileOperationMonitor::Finish() {
    delete Progress.data();
}

QProgressDialog* TQtFileOperationMonitor::ProgressDialog() const {
    return Progress.data();
}

// ---------------------------------------------------------------------------------------

TQtShell::TQtShell(QWidget* owner, TPropertiesWindow ownProperties)
    : Owner(owner), OwnProperties(std::move(ownProperties)) {}

namespace {

const char* const NameNotKept = "its name is not valid UTF-8, which the desktop would change";
const char* const NoProgram = "the desktop has no program to open it";

} // namespace

bool TQtShell::OpenFile(const std::string& path, std::string& why) {
    if (!QtKeepsFileName(path)) {
        why = NameNotKept;
        return false;
    }
    if (OpenUrl(LocalFileUrl(path)))
        return true;
    why = NoProgram;
    return false;
}

bool TQtShell::ExploreFile(const std::string& path, std::string& why) {
    std::string managerWhy = NameNotKept;
    if (QtKeepsFileName(path) &&
        CallFileManager(FileManagerCall(QStringLiteral("ShowItems"), LocalFileUrl(path)),
                        managerWhy))
        return true;
    const std::string directory = Directory(path);
    if (!QtKeepsFileName(directory)) {
        why = NameNotKept;
        return false;
    }
    if (OpenUrl(LocalFileUrl(directory)))
        return true;
    why = "no file manager answered (" + managerWhy + "), and " + NoProgram;
    return false;
}

bool TQtShell::ShowFileProperties(const std::string& path, std::string& why) {
    std::string managerWhy = NameNotKept;
    if (QtKeepsFileName(path) &&
        CallFileManager(FileManagerCall(QStringLiteral("ShowItemProperties"), LocalFileUrl(path)),
                        managerWhy))
        return true;
    // The own window reads the file by its bytes, so it needs no name from Qt.
    if (OwnProperties && OwnProperties(path))
        return true;
    why = "no file manager answered (" + managerWhy + ")";
    return false;
}

bool TQtShell::RecycleFiles(const std::vector<std::string>& paths, const TRecycleHooks& hooks) {
    // A trash of its own for each operation: a trash folder removed or repaired between
    // two operations is looked at again.
    const std::unique_ptr<TTrash> trash = MakeTrash();
    const std::unique_ptr<TFileOperationMonitor> monitor = MakeMonitor();
    return Kiv_shellfiles::RecycleFiles(paths, *trash, *monitor, hooks);
}

bool TQtShell::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool TQtShell::CallFileManager(const QDBusMessage& call, std::string& why) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        why = "there is no session bus";
        return false;
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, FileManagerTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    why = reply.errorMessage().isEmpty() ? reply.errorName().toStdString()
                                         : reply.errorMessage().toStdString();
    return false;
}

std::unique_ptr<TTrash> TQtShell::MakeTrash() {
    return std::make_unique<TTrash>();
}

std::unique_ptr<TFileOperationMonitor> TQtShell::MakeMonitor() {
    return std::make_unique<TQtFileOperationMonitor>(Owner);
}

} // namespace Kiv_shellfiles
