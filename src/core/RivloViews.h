#pragma once

#include <memory>

namespace rivlo {

class View;

// The facade's calls that take views of the toolkit object model (src/platform). They are not
// part of the public API: a host marks its own toolkit's widgets through its bridge
// (QtPlatform::occludeSensitiveWidget), which calls these with the widget's shadow view; the
// headless device's scenarios and the suites call them directly.
class RivloViews {
  public:
    RivloViews() = delete;

    // Paints over the view's area in every recorded screen frame (passwords and the like).
    // A null view is ignored. Main thread.
    static void occludeSensitiveView(const std::shared_ptr<View>& view);
};

}  // namespace rivlo
