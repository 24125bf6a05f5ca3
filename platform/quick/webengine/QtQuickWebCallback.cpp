#include "platform/quick/webengine/QtQuickWebCallback.h"

namespace rivlo {

void QtQuickWebCallback::call() {
    if (function_) function_(QVariant());
}

void QtQuickWebCallback::deliver(const QVariant& value) {
    if (function_) function_(value);
}

}  // namespace rivlo
