#pragma once

namespace rivlo {

// The recorders, trackers and hooks the session controller drives, put together: what the
// library's start registers (screen and camera recorders, touch and motion hooks with the
// gesture recorder, screen naming with the timeline, web views, crash capture). Hooks are
// installed once per process; session steps again at every start, since close forgets them.
class RivloRecorders {
  public:
    // Main thread, before the first session of a start.
    static void registerAll();
};

}  // namespace rivlo
