#pragma once
// The host script functions the plug-in calls, each found once by its
// prototype text and called through an array of 16-byte argument slots.
// A failure the host reports comes back as a dmplugin_exception.

#include "plugin/host_refs.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Gatan::PlugIn {

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

}  // namespace Gatan::PlugIn
