#pragma once
// The lock on one host image's pixel memory: while it holds, the host keeps
// the data at the address and byte strides it describes.

#include "plugin/host_refs.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace Gatan::PlugIn {

class ImageDataLocker {
public:
    ImageDataLocker(DM_Handle image, std::uint32_t flags);
    ~ImageDataLocker();
    ImageDataLocker(const ImageDataLocker&) = delete;
    ImageDataLocker& operator=(const ImageDataLocker&) = delete;

    // Locks `image` (an invalid one leaves nothing locked); the image locked
    // already keeps its lock.
    void lock(DM_Handle image);
    void unlock();

    void* data() const { return record_.data; }
    // Signed byte stride of dimension k; 0 beyond the locked dimensions.
    std::int64_t stride(std::uint32_t k) const {
        return k < record_.num_dims && k < 4 ? record_.dims[k].byte_stride : 0;
    }

private:
    DM_SliceRecord record_{};
    ImageRef image_;
    std::uint32_t flags_;
    boost::shared_ptr<DM_ImageDataSequence> access_;
};

}  // namespace Gatan::PlugIn
