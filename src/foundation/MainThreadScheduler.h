#pragma once

namespace rivlo {

// The host's main thread as the library's main run loop sees it, when the host's own event
// loop runs the library's main-thread work (a toolkit bridge, or a C host that plugged its loop
// in). Without one, the host turns the loop itself (RunLoop::run, runUntil, rivlo_run_main_loop).
//
// The library calls notify() when main-thread work arrives or the next timer moved earlier;
// the host answers by calling RunLoop::main().perform() soon on its main thread (never inside
// notify), and arms one timer for the delay perform() returns. Nothing to do means no call.
class MainThreadScheduler {
  public:
    virtual ~MainThreadScheduler() = default;

    // Asks for a call of RunLoop::main().perform() on the main thread. Any thread, possibly
    // several at once; calls come at most once until the next perform() begins.
    virtual void notify() = 0;
    // True when the caller runs on the host's main thread. Any thread.
    virtual bool isOnMainThread() const = 0;
};

}  // namespace rivlo
