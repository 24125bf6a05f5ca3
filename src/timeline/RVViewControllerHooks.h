#pragma once

#include <optional>
#include <string>

namespace rivlo {

class ViewController;

// The screen-naming hooks (the Name category on UIViewController), installed in the toolkit's
// method tables when the library first starts: "viewWillAppear:" and "viewDidAppear:" are
// exchanged with "rivlo_swizzled_viewWillAppear:" and "rivlo_swizzled_viewDidAppear:". Each hook
// names the current screen after the appearing controller (before the host's handler runs),
// then runs the host's own handler unchanged. The name stays up to date at all times, session
// or not. Activation while the application is still in its first launch replaces the
// current-screen record by a fresh one.
//
// Threads: the hooks and the activation observer run on the main thread.
class RVViewControllerHooks {
  public:
    static constexpr const char* kSwizzledViewWillAppear = "rivlo_swizzled_viewWillAppear:";
    static constexpr const char* kSwizzledViewDidAppear = "rivlo_swizzled_viewDidAppear:";

    // Installs the hooks and the activation observer, once per process. Any thread.
    static void install();

    // The screen name of a controller: its class name, except for the exact navigation
    // controller class (named after its visible controller, none without one), the exact tab
    // bar controller class, the plain view controller class and the toolkit's modal item
    // controllers (none).
    static std::optional<std::string> screenName(const ViewController& controller);

    // The hooks' bodies (what the table entries run).
    static void rivlo_swizzled_viewWillAppear(ViewController& self, bool animated);
    static void rivlo_swizzled_viewDidAppear(ViewController& self, bool animated);
    // Activation observer.
    static void applicationDidBecomeActive();
};

}  // namespace rivlo
