#pragma once

#include <ctime>

// The current local time broken down (the platform's thread-safe conversion). 1 on success.
int LocalTimeNow(std::tm& out);
