// Window helpers. TUpdateNotifier turns any number of update requests into one deferred
// call on the main thread's event loop; the placement routines read and set where a
// window sits, through TCustomForm, which the window unit (Kiv_forms_window) provides
// for a widget.
#pragma once

#include "Kiv_framework.h"

#include <cstdint>
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

struct TPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

enum TShowCommand : std::uint32_t {
    swShowNormal = 1,
    swShowMinimized = 2,
    swShowMaximized = 3,
};

// The placement record of a window: how it is shown, and its bounds in the normal
// (restored) state, which it keeps while maximised.
struct TWindowPlacement {
    std::uint32_t Length = 0;
    std::uint32_t Flags = 0;
    std::uint32_t ShowCmd = swShowNormal;
    TPoint MinPosition;
    TPoint MaxPosition;
    TRect NormalPosition;
};

constexpr std::uint32_t WindowPlacementLength = 44;

// A top-level window as the placement routines see it.
class TCustomForm {
public:
    virtual ~TCustomForm() = default;
    // False when the placement cannot be had or set (no window, or a record of another
    // length).
    virtual bool GetWindowPlacement(TWindowPlacement& placement) const = 0;
    virtual bool SetWindowPlacement(const TWindowPlacement& placement) = 0;
};

// Raise Kiv_framework::EInvalidOperation "The program could not get the placement of
// the form." or "... set the placement of the form." when the window refuses.
TWindowPlacement GetFormPlacement(const TCustomForm& form);
void SetFormPlacement(TCustomForm& form, const TWindowPlacement& placement);
TRect GetFormNormalRect(const TCustomForm& form);
// Only the normal bounds change: a maximised window stays maximised.
void SetFormNormalRect(TCustomForm& form, const TRect& rect);

} // namespace Kiv_forms
