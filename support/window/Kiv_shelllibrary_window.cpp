#include "Kiv_shelllibrary_window.h"

#include <QDropEvent>
#include <QMimeData>

namespace Kiv_shelllibrary {

namespace {

QString UriListFormat() {
    return QStringLiteral("text/uri-list");
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
    if (!data || !data->hasFormat(UriListFormat()))
        return {};
    return FilePathsOfUriList(data->data(UriListFormat()).toStdString());
}

// Files are only ever copied from the source's point of view.
bool OffersCopy(const QDropEvent& event) {
    return (event.possibleActions() & Qt::CopyAction) != 0;
}

void AcceptAsCopy(QDropEvent& event) {
    event.setDropAction(Qt::CopyAction);
    event.accept();
}

} // namespace

// The hook: an event filter on the watched window.
class TFileDropWatcher::TFilter : public QObject {
public:
    explicit TFilter(TFileDropWatcher& owner) : Owner(owner) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        return watched == Owner.Control && Owner.HandleEvent(event);
    }

private:
    TFileDropWatcher& Owner;
};

TFileDropWatcher::TFileDropWatcher(QWidget& control)
    : Control(&control), Filter(std::make_unique<TFilter>(*this)) {
    control.installEventFilter(Filter.get());
}

TFileDropWatcher::~TFileDropWatcher() {
    if (Control)
        Control->removeEventFilter(Filter.get());
}

bool TFileDropWatcher::Accepting() const {
    if (!Control)
        throw EFileDropError("The program could not get the property.");
    return Control->acceptDrops();
}

void TFileDropWatcher::SetAccepting(bool accepting) {
    if (accepting != Accepting())
        Control->setAcceptDrops(accepting);
}

bool TFileDropWatcher::DoDrop(TDroppedFiles& files) {
    bool handled = false;
    if (!OnDrop)
        return false;
    OnDrop(this, files, handled);
    return handled;
}

bool TFileDropWatcher::HandleEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto& drop = static_cast<QDropEvent&>(*event);
    if (!Control->acceptDrops() || !OffersCopy(drop))
        return false;
    std::vector<std::string> paths = DroppedPaths(drop.mimeData());
    if (paths.empty())
        return false;
    if (type != QEvent::Drop) {
        AcceptAsCopy(drop);
        return true;
    }
    TDroppedFiles files(std::make_shared<const std::vector<std::string>>(std::move(paths)));
    bool handled = false;
    try {
        handled = DoDrop(files);
    } catch (...) {
        files.Finish();
        AcceptAsCopy(drop);
        throw;
    }
    if (!handled)
        return false; // the window's own drop handling takes it
    files.Finish();
    AcceptAsCopy(drop);
    return true;
}

} // namespace Kiv_shelllibrary
