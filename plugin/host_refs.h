#pragma once
// Counted references to host objects, and host Strings made from and read
// back as 8-bit text.

#include "plugin/environment.h"

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

// A host String made from 8-bit text, and the text of one.
StringRef make_string(const std::string& text);
std::string string_text(DM_Handle string);

}  // namespace Gatan::PlugIn
