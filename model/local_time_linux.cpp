#include "model/local_time.h"

#include <time.h>

int LocalTimeNow(std::tm& out) {
    std::time_t now = std::time(nullptr);
    return localtime_r(&now, &out) != nullptr ? 1 : 0;
}
