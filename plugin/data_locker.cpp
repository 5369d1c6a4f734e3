#include "plugin/data_locker.h"

#include "plugin/host_functions.h"

namespace Gatan::PlugIn {

ImageDataLocker::ImageDataLocker(DM_Handle image, std::uint32_t flags) : flags_(flags) {
    record_.data = nullptr;
    record_.num_dims = 0;
    lock(image);
}

ImageDataLocker::~ImageDataLocker() { unlock(); }

void ImageDataLocker::lock(DM_Handle image) {
    DM_ObjectClass* images = host_class(HostClass::Image);
    if (image_ && images->IsSameObject(image, image_.get())) return;
    unlock();
    if (!images->IsValid(image)) return;

    boost::shared_ptr<DM_ImageDataSequence> access;
    {
        const ScriptObjectRef locked = ImageGetLockedData(image, flags_, nullptr);
        if (host_class(HostClass::ScriptObject)->IsValid(locked.get())) {
            ExtractImageDataSequenceFromScriptObjectOrFail(locked.get(), &access);
        }
    }
    access_ = access;
    if (access_) {
        std::uint32_t count = 0;
        access_->DescribeSlice(0, 0, &count, &record_);
        record_.num_dims = count;
    }
    image_ = ImageRef(image);
}

void ImageDataLocker::unlock() {
    access_.reset();
    image_.reset();
}

}  // namespace Gatan::PlugIn
