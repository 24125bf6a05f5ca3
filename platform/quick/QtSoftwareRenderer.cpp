#include "platform/quick/QtSoftwareRenderer.h"

#include <QQuickWindow>
#include <private/qquickwindow_p.h>
#include <private/qsgabstractsoftwarerenderer_p.h>

namespace rivlo {

bool QtSoftwareRenderer::repaintWhole(QQuickWindow* window) {
    auto* software =
        dynamic_cast<QSGAbstractSoftwareRenderer*>(QQuickWindowPrivate::get(window)->renderer);
    if (!software) return false;
    software->markDirty();
    return true;
}

}  // namespace rivlo
