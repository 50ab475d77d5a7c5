#pragma once
// Counts the calls of the global operator new in this test program (see allocation_counter.cpp).

#include <cstddef>

std::size_t AllocationCount();
