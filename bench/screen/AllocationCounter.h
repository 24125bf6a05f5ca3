#pragma once

#include <cstdint>

namespace rivlo::bench {

// Heap allocations made by the whole process so far (every thread).
uint64_t allocationCount();

}  // namespace rivlo::bench
