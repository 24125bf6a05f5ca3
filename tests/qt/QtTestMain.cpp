#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Qt WebEngine's own objects are deleted through a base of another size inside the engine (the
// engine is built without sized deallocation), which AddressSanitizer reports as a mismatch on
// every page teardown. It is not this code's; every other check stays on.
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
