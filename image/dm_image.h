#pragma once
// The typed view of one host image: a counted reference, a share of the
// data lock, the address of the first element and four sizes.

#include "contract/data_types.h"
#include "plugin/data_locker.h"
#include "plugin/host_functions.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace zorvan::dm {

template <class T>
class image {
public:
    // Takes a new reference to `handle` and locks its data with `flags`.
    image(DM_Handle handle, std::uint32_t flags) : image_(handle) { open(flags); }
    image(const Gatan::PlugIn::ImageRef& ref, std::uint32_t flags) : image_(ref) { open(flags); }
    image(const image&) = default;
    image& operator=(const image&) = delete;
    // Members go in reverse order: the lock share first, then the reference.
    ~image() = default;

    std::uint64_t size(unsigned k) const { return k < 4 ? sizes_[k] : 1; }
    std::uint64_t width() const { return sizes_[0]; }
    std::uint64_t height() const { return sizes_[1]; }
    std::uint64_t depth() const { return sizes_[2]; }
    // Signed byte stride of dimension k; 0 beyond the locked dimensions.
    std::int64_t stride(unsigned k) const { return lock_->stride(k); }
    T* data() const { return data_; }
    // Element (x, y) of packed rows.
    T& at(std::uint64_t x, std::uint64_t y) const { return data_[y * sizes_[0] + x]; }
    DM_Handle handle() const { return image_.get(); }

    // Tells the host the pixels changed and hands the reference out; the
    // data stays locked until the view is destroyed.
    DM_Handle release() {
        Gatan::PlugIn::ImageDataChanged(image_.get());
        return image_.release();
    }

private:
    void open(std::uint32_t flags) {
        lock_ = boost::shared_ptr<Gatan::PlugIn::ImageDataLocker>(
            new Gatan::PlugIn::ImageDataLocker(image_.get(), flags));
        data_ = static_cast<T*>(lock_->data());
        const std::uint32_t dimensions = Gatan::PlugIn::ImageGetNumDimensions(image_.get());
        for (std::uint32_t k = 0; k < 4; ++k) {
            sizes_[k] = k < dimensions ? Gatan::PlugIn::ImageGetDimensionSize(image_.get(), k) : 1;
        }
    }

    Gatan::PlugIn::ImageRef image_;
    boost::shared_ptr<Gatan::PlugIn::ImageDataLocker> lock_;
    T* data_ = nullptr;
    std::uint64_t sizes_[4] = {1, 1, 1, 1};
};

}  // namespace zorvan::dm
