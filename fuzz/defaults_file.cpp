// The defaults file as it is read at start-up: property-list bytes (XML or binary) that may be
// torn, hand-edited or hostile. What is read must write back and read again to the same values;
// a file that does not read as a dictionary is kept aside and the defaults start empty; a file
// that does keeps every value across a change and a flush.

#include "FuzzInput.h"

#include "foundation/UserDefaults.h"
#include "foundation/Value.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace rivlo;

namespace {

std::string scratchFolder() {
    static const std::string folder = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string path = base + "/rivlo-fuzz-defaults-XXXXXX";
        if (!mkdtemp(path.data())) std::abort();
        return path;
    }();
    return folder;
}

// Values as a property list keeps them: nulls (and NaN) are left out of containers.
Value storable(const Value& value) {
    if (value.is_array()) {
        Value out = Value::array();
        for (const auto& item : value)
            if (!item.is_null() && !(item.is_number_float() && std::isnan(item.get<double>())))
                out.push_back(storable(item));
        return out;
    }
    if (value.is_object()) {
        Value out = Value::object();
        for (auto it = value.begin(); it != value.end(); ++it)
            if (!it->is_null() && !(it->is_number_float() && std::isnan(it->get<double>())))
                out[it.key()] = storable(*it);
        return out;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // In memory: read, write binary, read again.
    if (auto value = PropertyList::read(bytes)) {
        const std::string binary = PropertyList::write(*value, PropertyList::Format::Binary);
        const bool writable =
            !value->is_null() && !(value->is_number_float() && std::isnan(value->get<double>()));
        if (writable) {
            FUZZ_CHECK(!binary.empty());
            auto again = PropertyList::read(binary);
            FUZZ_CHECK(again.has_value());
            FUZZ_CHECK(*again == storable(*value));
        }
        const std::string xml = PropertyList::write(*value, PropertyList::Format::XML);
        if (writable) FUZZ_CHECK(PropertyList::read(xml).has_value());
    }

    // As the defaults file.
    const std::string path = scratchFolder() + "/rivlo.defaults.plist";
    unlink((path + ".corrupt").c_str());
    FUZZ_CHECK(writeFileAtomically(path, bytes));
    const auto parsed = PropertyList::read(bytes);
    const bool readable = parsed && parsed->is_object();
    UserDefaults defaults(path);
    const Value before = defaults.snapshot();
    if (readable) {
        FUZZ_CHECK(before == *parsed);
    } else {
        FUZZ_CHECK(before == Value::object());
        // Kept aside, unless it was empty (an empty file is a fresh start, not corruption).
        FUZZ_CHECK(bytes.empty() || access((path + ".corrupt").c_str(), F_OK) == 0);
    }
    defaults.set("RivloFramework.runNo", 7);
    FUZZ_CHECK(defaults.synchronize());
    UserDefaults reread(path);
    Value expected = storable(before);
    expected["RivloFramework.runNo"] = 7;
    FUZZ_CHECK(reread.snapshot() == expected);
    return 0;
}
