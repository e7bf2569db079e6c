// The desktop's programs and the trash on Qt: files open with QDesktopServices (the
// desktop's default handler), folders and properties are asked of the file manager over
// D-Bus (org.freedesktop.FileManager1), and the move to the trash shows a progress window
// with Cancel and asks, for a file that cannot be moved, whether to skip it or stop.
#pragma once

#include "Kiv_shellfiles.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace Kiv_shellfiles {

// The progress window of a move to the trash and the question after a failed file.
class TQtFileOperationMonitor : public TFileOperationMonitor {
public:
    // The windows belong to owner (nullptr: none). The progress window comes up for
    // several files once the move has lasted showDelay milliseconds and looks like it
    // will go on.
    explicit TQtFileOperationMonitor(QWidget* owner, int showDelay = 500);
    ~TQtFileOperationMonitor() override;

    void Start(int count) override;
    bool Next(int index, const std::string& path) override;
    // Skip, Skip All (every later failure of this operation is skipped without asking)
    // or Stop; closing the box stops.
    bool SkipAfterError(const std::string& path, const std::string& message) override;
    void Finish() override;

    // The progress window while the operation runs, nullptr for a single file.
    QProgressDialog* ProgressDialog() const;

private:
    QPointer<QWidget> Owner;
    int ShowDelay;
    QPointer<QProgressDialog> Progress;
    QElapsedTimer SinceUpdate;
    bool SkipAll = false;
};

class TQtShell : public TShell {
public:
    // Shows the program's own properties window of a file; false when it cannot.
    using TPropertiesWindow = std::function<bool(const std::string& path)>;

    // Windows belong to owner (nullptr: none). ownProperties serves the properties when no
    // file manager answers.
    explicit TQtShell(QWidget* owner = nullptr, TPropertiesWindow ownProperties = nullptr);

    bool OpenFile(const std::string& path, std::string& why) override;
    // The file manager's ShowItems with the file; where none answers, or the name cannot
    // be told to it, the folder opens with the default handler.
    bool ExploreFile(const std::string& path, std::string& why) override;
    // The file manager's ShowItemProperties; where none answers, the own window.
    bool ShowFileProperties(const std::string& path, std::string& why) override;
    // Into the user's home trash (or the trash of the file's own file system).
    bool RecycleFiles(const std::vector<std::string>& paths,
                      const TRecycleHooks& hooks = {}) override;

protected:
    // The platform's doors, apart so that a test can stand in for them.
    virtual bool OpenUrl(const QUrl& url);
    // True when the file manager answered the call without an error; else why not (the
    // bus's error text).
    virtual bool CallFileManager(const QDBusMessage& call, std::string& why);
    virtual std::unique_ptr<TTrash> MakeTrash();
    virtual std::unique_ptr<TFileOperationMonitor> MakeMonitor();

private:
    QPointer<QWidget> Owner;
    TPropertiesWindow OwnProperties;
};

// The file: URL of a path whose name Qt keeps.
QUrl LocalFileUrl(const std::string& path);
// The call of org.freedesktop.FileManager1's method (ShowItems, ShowFolders or
// ShowItemProperties) with one URI and no startup id.
QDBusMessage FileManagerCall(const QString& method, const QUrl& url);

} // namespace Kiv_shellfiles
