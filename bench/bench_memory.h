// The resident memory of the benchmark's own process, for the bytes-per-item figures.
#pragma once

#include <cstdio>
#include <unistd.h>

namespace bench {

inline long ResidentBytes() {
    long pages = 0;
    long resident = 0;
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr)
        return 0;
    if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(file);
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace bench
