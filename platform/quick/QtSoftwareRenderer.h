#pragma once

class QQuickWindow;

namespace rivlo {

// Qt's software scene graph renderer repaints only the parts of its picture it finds changed,
// and past the edge of an opaque item (a popup opened over a moving item) it can leave rows
// holding what was drawn there renderings ago: a masked item where it no longer is, outside its
// mask. Through a private Qt API (hence Qt6::QuickPrivate). Main (GUI) thread, between a
// window's synchronisation and its rendering.
class QtSoftwareRenderer {
  public:
    // Makes the window's next rendering repaint all of its picture. False when the window's
    // renderer is not Qt's software renderer (the picture then cannot be trusted whole).
    static bool repaintWhole(QQuickWindow* window);
};

}  // namespace rivlo
