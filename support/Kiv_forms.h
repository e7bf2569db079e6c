// Window helpers. TUpdateNotifier turns any number of update requests into one deferred
// call on the main thread's event loop.
#pragma once

#include "Kiv_framework.h"

#include <memory>

class QObject;

namespace Kiv_forms {

class TUpdateNotifier {
public:
    TUpdateNotifier();
    virtual ~TUpdateNotifier();
    TUpdateNotifier(const TUpdateNotifier&) = delete;
    TUpdateNotifier& operator=(const TUpdateNotifier&) = delete;

    virtual void DoUpdate();
    // Posts one deferred flush unless one is already pending.
    virtual void RequestUpdate();
    virtual void Flush();
    virtual void UpdateNow();

    bool Pending() const { return IsPending; }

    Kiv_framework::TEvent<TUpdateNotifier*> OnUpdate;

private:
    // Stands for the hidden message window: receives the queued flush.
    std::unique_ptr<QObject> Receiver;
    bool IsPending = false;
};

} // namespace Kiv_forms
