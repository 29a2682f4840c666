#include "audio/MemoryBudget.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <limits>

namespace notavox {

uint64_t SystemAvailableMemory() {
    uint64_t available = std::numeric_limits<uint64_t>::max();
    if (FILE* f = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long kb = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                available = uint64_t(kb) * 1024u;
                break;
            }
        }
        std::fclose(f);
    }
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < available)
        available = uint64_t(limit.rlim_cur);
    return available;
}

MemoryBudget::MemoryBudget(std::function<uint64_t()> available) : available_(std::move(available)) {}

bool MemoryBudget::reserve(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    const uint64_t available = available_ ? available_() : std::numeric_limits<uint64_t>::max();
    if (reserved_ > available || bytes > available - reserved_) return false;
    reserved_ += bytes;
    return true;
}

void MemoryBudget::release(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    reserved_ -= bytes < reserved_ ? bytes : reserved_;
}

uint64_t MemoryBudget::reserved() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reserved_;
}

void MemoryBudget::setAvailable(std::function<uint64_t()> available) {
    std::lock_guard<std::mutex> guard(lock_);
    available_ = std::move(available);
}

MemoryBudget& ProcessMemoryBudget() {
    static MemoryBudget budget;
    return budget;
}

}  // namespace notavox
