#include "platform/GestureRecognizer.h"

#include "platform/View.h"

#include <algorithm>

namespace rivlo {

void GestureRecognizer::addTarget(const void* target, Action action) {
    if (!action) return;
    targets_.push_back({target, std::move(action)});
}

void GestureRecognizer::removeTarget(const void* target) {
    targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                                  [target](const Target& t) { return t.target == target; }),
                   targets_.end());
}

Point GestureRecognizer::locationInView(const View* view) const {
    if (!view || !view_) return locationInWindow_;
    return view->convertPointFromView(locationInWindow_, nullptr);
}

void GestureRecognizer::sendActions() {
    // Keep ourselves and the list alive: an action may detach us or change the targets.
    auto self = weak_from_this().lock();
    auto targets = targets_;
    for (auto& t : targets)
        t.action(*this);
}

}  // namespace rivlo
