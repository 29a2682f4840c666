// The memory that big allocations of the program may still take. A block of
// a conversion is reserved here before it is allocated and released once it
// was filled (from then on the system counts it as used), so that several
// conversions at once share what the machine has available instead of each
// taking all of it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace notavox {

// Bytes the machine has available now (MemAvailable of /proc/meminfo, at
// most the address-space limit); UINT64_MAX when that cannot be told.
uint64_t SystemAvailableMemory();

class MemoryBudget {
public:
    explicit MemoryBudget(std::function<uint64_t()> available = SystemAvailableMemory);
    // True and reserved when `bytes` fit beside the other reservations.
    bool reserve(uint64_t bytes);
    void release(uint64_t bytes);
    uint64_t reserved() const;
    // Tests put a machine of their own size in place.
    void setAvailable(std::function<uint64_t()> available);

private:
    mutable std::mutex lock_;
    std::function<uint64_t()> available_;
    uint64_t reserved_ = 0;
};

// The one budget of the process.
MemoryBudget& ProcessMemoryBudget();

// A reservation that ends with its scope.
class MemoryReservation {
public:
    MemoryReservation(MemoryBudget& budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {
        ok_ = budget_.reserve(bytes_);
    }
    ~MemoryReservation() {
        if (ok_) budget_.release(bytes_);
    }
    MemoryReservation(const MemoryReservation&) = delete;
    MemoryReservation& operator=(const MemoryReservation&) = delete;
    bool ok() const { return ok_; }

private:
    MemoryBudget& budget_;
    uint64_t bytes_;
    bool ok_ = false;
};

}  // namespace notavox
