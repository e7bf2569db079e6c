// Files dropped from the file manager onto a window, reported through OnDrop.
#pragma once

#include "Kiv_shelllibrary.h"

#include <QPointer>
#include <QWidget>
#include <memory>

namespace Kiv_shelllibrary {

// Watches a window for drops of local files (the text/uri-list form). Each drop reaches
// OnDrop once, with its paths in order; a drop the handler reports handled, or raises
// on, is finished and taken as a copy (a file manager must never take it as a move and
// delete its files); one left unhandled goes on to the window's own handling.
class TFileDropWatcher {
public:
    using TDropEvent = Kiv_framework::TEvent<TFileDropWatcher*, TDroppedFiles&, bool&>;

    // Hooks the window's events; accepting drops is not switched on.
    explicit TFileDropWatcher(QWidget& control);
    // Unhooks.
    virtual ~TFileDropWatcher();
    TFileDropWatcher(const TFileDropWatcher&) = delete;
    TFileDropWatcher& operator=(const TFileDropWatcher&) = delete;

    // Whether the window accepts dropped files; EFileDropError "The program could not get
    // the property." when the window is gone.
    bool Accepting() const;
    void SetAccepting(bool accepting);
    // Calls OnDrop with handled false; returns what the handler left (false without one).
    virtual bool DoDrop(TDroppedFiles& files);

    TDropEvent OnDrop;

private:
    class TFilter;

    bool HandleEvent(QEvent* event);

    QPointer<QWidget> Control;
    std::unique_ptr<TFilter> Filter;
};

} // namespace Kiv_shelllibrary
