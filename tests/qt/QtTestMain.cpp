#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// The Qt suites leave without running static destructors: a process that has used Qt WebEngine
// was seen, once in several runs, to abort with heap corruption in its exit-time teardown after
// every test had passed. Until that teardown is understood (an asan run of these suites is the
// next step), the verdict of the tests is what the process reports.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(result);
}
