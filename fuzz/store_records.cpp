// Entries of the store's lists turned back into records, as the uploaders get them: the
// defaults file may hold anything under "RvTextFile", "RvScreenVideo", "RvCameraVideo",
// "RvWebView" and "RvCrash". An entry either gives a record or is refused; a record's own
// entry must give the same record again, and its name is always a plain file name.

#include "FuzzInput.h"

#include "camera/RVCameraVideo.h"
#include "core/RVCrash.h"
#include "foundation/Value.h"
#include "screen/RVScreenVideo.h"
#include "store/RVStoreFiles.h"
#include "store/RVStoredRecord.h"
#include "store/RVTextFile.h"
#include "webview/RVWebView.h"

using namespace rivlo;

namespace {

template <class T>
void roundTrip(const Value& entry) {
    std::shared_ptr<T> record;
    try {
        record = RVStoredRecord<T>::fromSaved(entry);
    } catch (const std::exception&) {
        // The store catches these too and counts the entry as unreadable; a conversion
        // should refuse instead.
        FUZZ_CHECK(!"a stored entry made its record's conversion throw");
    }
    if (!record) return;
    (void)record->description();
    const Value saved = RVStoredRecord<T>::toSaved(*record);
    auto again = RVStoredRecord<T>::fromSaved(saved);
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(RVStoredRecord<T>::toSaved(*again) == saved);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // A list as the defaults file holds it (a property list), or written out as JSON.
    auto list = PropertyList::read(bytes);
    if (!list) list = PropertyList::fromJSON(bytes);
    if (!list) return 0;
    const Value entries = list->is_array() ? *list : Value::array({*list});
    for (const auto& entry : entries) {
        roundTrip<RVTextFile>(entry);
        roundTrip<RVScreenVideo>(entry);
        roundTrip<RVCameraVideo>(entry);
        roundTrip<RVWebView>(entry);
        roundTrip<RVCrash>(entry);
    }
    return 0;
}
