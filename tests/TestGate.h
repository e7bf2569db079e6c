// A gate that holds a worker thread at a point until the test's thread lets it go: the
// test decides what happens first, without a sleep.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace TestGate {

class TGate {
public:
    void Wait() {
        std::unique_lock lock(Lock);
        Opened.wait(lock, [this] { return Open; });
    }
    // A hook that waits at the gate, for the worker's step events.
    std::function<void()> Hook() {
        return [this] { Wait(); };
    }
    void Release() {
        {
            const std::lock_guard lock(Lock);
            Open = true;
        }
        Opened.notify_all();
    }

private:
    std::mutex Lock;
    std::condition_variable Opened;
    bool Open = false;
};

} // namespace TestGate
