#pragma once
// Counted host handles, the host script functions the plug-in calls (found
// once by prototype text), the exception carrying a host error, and the
// lock on an image's pixel memory.

#include "platform/foundation/foundation.h"
#include "plugin/PlugInUtility.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace Gatan::PlugIn {

// One counted reference to a host object of class `Class`, or null.
template <HostClass Class>
class HostRef {
public:
    HostRef() = default;
    // Takes a new reference to `handle`.
    explicit HostRef(DM_Handle handle) : handle_(handle) {
        if (handle_ != nullptr) host_class(Class)->AddRef(handle_);
    }
    // Takes over the reference `handle` already carries.
    static HostRef adopt(DM_Handle handle) {
        HostRef ref;
        ref.handle_ = handle;
        return ref;
    }
    HostRef(const HostRef& other) : HostRef(other.handle_) {}
    HostRef(HostRef&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    HostRef& operator=(HostRef other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~HostRef() { reset(); }

    void reset() {
        if (handle_ != nullptr) host_class(Class)->Release(std::exchange(handle_, nullptr));
    }
    // Hands the reference out; this object is left null.
    DM_Handle release() { return std::exchange(handle_, nullptr); }
    DM_Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    DM_Handle handle_ = nullptr;
};

using ImageRef = HostRef<HostClass::Image>;
using StringRef = HostRef<HostClass::String>;
using FunctionRef = HostRef<HostClass::Function>;
using ThrowableRef = HostRef<HostClass::Throwable>;
using ScriptObjectRef = HostRef<HostClass::ScriptObject>;
using ScriptClassRef = HostRef<HostClass::ScriptClass>;

// Stores `image` (whose reference passes on) in a result slot, releasing
// the handle the slot held.
void assign_result_slot(DM_Handle* slot, ImageRef image);

// A host String made from 8-bit text.
StringRef make_string(const std::string& text);
std::string string_text(DM_Handle string);

// The exception that carries a host Throwable back to the reporter.
class dmplugin_exception : public Gatan::gatan_exception {
public:
    explicit dmplugin_exception(DM_Handle throwable);  // takes a reference
    dmplugin_exception(const dmplugin_exception& other);
    dmplugin_exception& operator=(const dmplugin_exception&) = delete;
    ~dmplugin_exception() override;
    // The Throwable's message, in a process-wide buffer shared by all.
    const char* what() const noexcept override;
    void get_error_code(std::int32_t& code, std::intptr_t& parameter) const override;
    DM_Handle throwable() const { return throwable_; }

private:
    DM_Handle throwable_;
};

// The cache of one host script function, found by its prototype text at
// first use and kept until the library unloads.
class HostFunction {
public:
    explicit HostFunction(const char* prototype);
    ~HostFunction();
    HostFunction(const HostFunction&) = delete;
    HostFunction& operator=(const HostFunction&) = delete;

    // Calls the function with `slot_count` slots; throws dmplugin_exception
    // when the host reports a failure.
    void call(DM_ScriptContext* context, DM_ArgSlot* slots, std::uint32_t slot_count);

private:
    const char* prototype_;
    std::size_t length_;
    std::atomic<DM_Handle> cached_{nullptr};
};

// Reading and writing slot values (the low bytes of a slot).
template <class T>
T slot_get(const DM_ArgSlot& slot) {
    static_assert(sizeof(T) <= sizeof(DM_ArgSlot));
    T value;
    __builtin_memcpy(&value, slot.bytes, sizeof(T));
    return value;
}
template <class T>
void slot_set(DM_ArgSlot& slot, T value) {
    static_assert(sizeof(T) <= sizeof(DM_ArgSlot));
    __builtin_memcpy(slot.bytes, &value, sizeof(T));
}

// Host function wrappers, named like the host functions they call.
std::uint32_t ImageGetDataType(DM_Handle image);
std::int16_t GetDataType(DM_Handle image);
std::uint32_t ImageGetNumDimensions(DM_Handle image);
std::uint32_t ImageGetDimensionSize(DM_Handle image, std::uint32_t dimension);
std::uint32_t ImageGetDataElementByteSize(DM_Handle image);
bool IsRealDataType(DM_Handle image, std::int32_t bytes);
bool IsComplexDataType(DM_Handle image, std::int32_t bytes);
bool ImageIsValid(DM_Handle image);
std::string ImageGetName(DM_Handle image);
ImageRef ImageClone(DM_Handle image);
void ImageDataChanged(DM_Handle image);
void ConvertToFloat(DM_Handle image);
ImageRef RealImage(const std::string& name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height);
ImageRef ComplexImage(const char* name, std::int32_t bytes, std::int32_t width, std::int32_t height);
ScriptObjectRef ImageGetLockedData(DM_Handle image, std::uint32_t flags, DM_Handle script_object);
void ExtractImageDataSequenceFromScriptObjectOrFail(DM_Handle script_object,
                                                    boost::shared_ptr<DM_ImageDataSequence>* out);
ThrowableRef NewThrowableFromString(DM_ScriptContext* context, const std::string& text);
FunctionRef NewAbstractMethod(DM_ScriptContext* context, const std::string& name, const std::string& prototype);
FunctionRef ScriptClassAddMethod(DM_ScriptContext* context, DM_Handle script_class, DM_Handle method);

// The lock on one host image's pixel memory.
class ImageDataLocker {
public:
    ImageDataLocker(DM_Handle image, std::uint32_t flags);
    ~ImageDataLocker();
    ImageDataLocker(const ImageDataLocker&) = delete;
    ImageDataLocker& operator=(const ImageDataLocker&) = delete;

    void lock(DM_Handle image);
    void unlock();

    void* data() const { return record_.data; }
    std::uint32_t num_dims() const { return record_.num_dims; }
    // Signed byte stride of dimension k; 0 beyond the locked dimensions.
    std::int64_t stride(std::uint32_t k) const {
        return k < record_.num_dims && k < 4 ? record_.dims[k].byte_stride : 0;
    }
    std::uint32_t flags() const { return flags_; }

private:
    DM_SliceRecord record_{};
    ImageRef image_;
    std::uint32_t flags_;
    boost::shared_ptr<DM_ImageDataSequence> access_;
};

}  // namespace Gatan::PlugIn
