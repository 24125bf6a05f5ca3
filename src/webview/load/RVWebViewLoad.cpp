// Load-time installation of the web view hook and the web view registry's session steps. This
// file is linked whole into every program that links the web view library, so the initialiser
// runs before the host's own code, as a category's load method would.

#include "webview/RVWebViewHandler.h"
#include "webview/RVWebViewHooks.h"

namespace rivlo {
namespace {

struct RVWebViewLoad {
    RVWebViewLoad() {
        RVWebViewHooks::install();
        RVWebViewHandler::registerSessionSteps();
    }
};

const RVWebViewLoad gLoad;

}  // namespace
}  // namespace rivlo
