#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace mistvale {

// Ring of 101 signed 16-bit slots holding at most the newest 100 samples. It has no lock of its own;
// Source guards it with its history lock (use the Source operations from other threads).
class SampleHistory {
public:
    static constexpr std::uint32_t kCapacity = 101;

    // Allocates the ring; 1 on success (also when it already exists), 0 when memory runs out.
    int Create();
    int Created() const { return created_ ? 1 : 0; }
    // Stores one sample, dropping the oldest when the ring is full. Does nothing before Create.
    void Append(std::int16_t sample);
    std::uint32_t Count() const;
    // Copies the samples, oldest first, into out (replacing its content); returns their number.
    std::uint32_t CopyTo(std::vector<std::int16_t>& out) const;

private:
    std::unique_ptr<std::int16_t[]> buffer_;
    std::uint32_t capacity_ = 0;
    std::uint32_t readIndex_ = 0;
    std::uint32_t writeIndex_ = 0;
    bool created_ = false;
};

} // namespace mistvale
