#pragma once

#include <cstddef>

namespace testing_support {

// The operator new of a test program that links CountingNew.cpp: it counts the allocations a
// thread makes while it is marked, to prove that real-time code allocates nothing.
void countAllocationsHere(bool counting) noexcept;
// How many the marked threads made since the last call; starts the count afresh.
std::size_t takeCountedAllocations() noexcept;

} // namespace testing_support
