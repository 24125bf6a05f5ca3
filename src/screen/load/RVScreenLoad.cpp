// Load-time registration of the screen recorder's session steps, so a host that links the
// library gets a recording session without calling anything but the facade. Linked whole into
// every program that links the screen library.

#include "screen/RVViewVideoHandler.h"

namespace rivlo {
namespace {

struct RVScreenLoad {
    RVScreenLoad() { RVViewVideoHandler::registerSessionSteps(); }
};

const RVScreenLoad gLoad;

}  // namespace
}  // namespace rivlo
