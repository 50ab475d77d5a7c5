#pragma once
// Counts the allocations of this test program: every malloc, calloc and realloc, which operator new
// and Qt use alike (see allocation_counter.cpp).

#include <cstddef>

std::size_t AllocationCount();
