#include "model/sample_history.h"

#include <new>

namespace mistvale {

int SampleHistory::Create() {
    if (created_)
        return 1;
    buffer_.reset(new (std::nothrow) std::int16_t[kCapacity]());
    if (!buffer_)
        return 0;
    capacity_ = kCapacity;
    readIndex_ = 0;
    writeIndex_ = 0;
    created_ = true;
    return 1;
}

void SampleHistory::Append(std::int16_t sample) {
    if (!created_)
        return;
    buffer_[writeIndex_] = sample;
    writeIndex_ = (writeIndex_ + 1) % capacity_;
    // One slot always stays free so that a full ring differs from an empty one.
    if (writeIndex_ == readIndex_)
        readIndex_ = (readIndex_ + 1) % capacity_;
}

std::uint32_t SampleHistory::Count() const {
    if (!created_)
        return 0;
    return (writeIndex_ + capacity_ - readIndex_) % capacity_;
}

std::uint32_t SampleHistory::CopyTo(std::vector<std::int16_t>& out) const {
    out.clear();
    if (!created_)
        return 0;
    out.reserve(Count());
    for (std::uint32_t index = readIndex_; index != writeIndex_; index = (index + 1) % capacity_)
        out.push_back(buffer_[index]);
    return static_cast<std::uint32_t>(out.size());
}

} // namespace mistvale
