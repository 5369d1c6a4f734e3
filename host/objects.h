#pragma once
// The objects behind host handles: a registry of live objects, so that a
// handle is looked up before it is trusted, and counts per kind.

#include "host/prototype.h"
#include "contract/data_types.h"
#include "contract/dm_host_interfaces.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zorvan::host::detail {

enum class Kind : int { image, string, function, throwable, script_object, script_class, context, count };

class HostObject {
public:
    explicit HostObject(Kind kind);
    virtual ~HostObject();
    HostObject(const HostObject&) = delete;
    HostObject& operator=(const HostObject&) = delete;

    Kind kind() const { return kind_; }
    void add_ref() { references_.fetch_add(1, std::memory_order_relaxed); }
    void release();
    // Adds a reference unless the object is already being destroyed.
    bool try_add_ref();
    DM_Handle handle() { return reinterpret_cast<DM_Handle>(this); }

private:
    Kind kind_;
    std::atomic<std::int64_t> references_{1};
};

// An intrusive counted pointer to a host object.
template <class T>
class Ref {
public:
    Ref() = default;
    static Ref adopt(T* object) {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    static Ref share(T* object) {
        if (object != nullptr) object->add_ref();
        return adopt(object);
    }
    Ref(const Ref& other) : object_(other.object_) {
        if (object_ != nullptr) object_->add_ref();
    }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { reset(); }
    void reset() {
        if (object_ != nullptr) std::exchange(object_, nullptr)->release();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference out as a handle.
    DM_Handle release_handle() { return object_ ? std::exchange(object_, nullptr)->handle() : nullptr; }
    T* detach() { return std::exchange(object_, nullptr); }

private:
    T* object_ = nullptr;
};

// The live object behind `handle` if it is of `kind`, with a new reference.
Ref<HostObject> lookup(DM_Handle handle, Kind kind);

template <class T>
Ref<T> lookup_as(DM_Handle handle, Kind kind) {
    return Ref<T>::adopt(static_cast<T*>(lookup(handle, kind).detach()));
}

std::int64_t live_count(Kind kind);
// Runs `visit` on every live object of `kind` (under the registry's lock).
void for_each_live(Kind kind, const std::function<void(HostObject&)>& visit);
std::int64_t live_data_locks();
void note_bad_handle();
std::uint64_t bad_handle_uses();
// A plug-in that broke the calling convention, in words.
void note_contract_break(std::string what);
std::vector<std::string> contract_breaks();

// ---- kinds --------------------------------------------------------------

class ImageObject final : public HostObject {
public:
    ImageObject(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name);
    // A copy of `source`'s pixels (the block is not zeroed first).
    ImageObject(const ImageObject& source, std::string name);
    // Over memory the host does not own: `keepalive` keeps it valid.
    ImageObject(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name, void* data,
                std::shared_ptr<void> keepalive);

    std::int32_t data_type() const { return data_type_; }
    std::uint32_t element_bytes() const { return element_bytes_; }
    const std::vector<std::uint64_t>& sizes() const { return sizes_; }
    std::uint64_t element_count() const;
    std::uint64_t byte_count() const { return element_count() * element_bytes_; }
    std::int64_t byte_stride(std::size_t k) const { return strides_[k]; }
    void* data() const { return data_; }
    std::string name() const;
    void set_name(std::string name);

    // Replaces the pixel storage (same sizes, new type); only while unlocked.
    void replace_storage(std::int32_t data_type, std::shared_ptr<void> storage, void* data);

    void note_lock(std::uint32_t flags);
    void note_unlock();
    int active_locks() const { return locks_.load(); }
    std::vector<std::uint32_t> lock_flags() const;
    void note_data_changed() { ++data_changed_; }
    std::uint64_t data_changed_count() const { return data_changed_.load(); }

    // 64-byte aligned, zero-filled unless `zeroed` is false (for a block
    // about to be overwritten whole).
    static std::shared_ptr<void> allocate(std::uint64_t bytes, bool zeroed = true);

private:
    void compute_strides();

    std::int32_t data_type_;
    std::uint32_t element_bytes_;
    std::vector<std::uint64_t> sizes_;
    std::array<std::int64_t, 4> strides_{};
    mutable std::mutex mutex_;
    std::string name_;
    std::shared_ptr<void> storage_;
    void* data_ = nullptr;
    std::atomic<int> locks_{0};
    std::vector<std::uint32_t> lock_flags_;
    std::atomic<std::uint64_t> data_changed_{0};
};

class StringObject final : public HostObject {
public:
    explicit StringObject(std::string text) : HostObject(Kind::string), text(std::move(text)) {}
    const std::string text;
};

class ThrowableObject final : public HostObject {
public:
    ThrowableObject(std::int32_t code, std::intptr_t parameter, std::string message)
        : HostObject(Kind::throwable), code(code), parameter(parameter), message(std::move(message)) {}
    const std::int32_t code;
    const std::intptr_t parameter;
    const std::string message;
};

class ContextObject;

// A host script function implemented by the host itself.
using Builtin = std::int32_t (*)(ContextObject& context, DM_ArgSlot* slots);

class FunctionObject final : public HostObject {
public:
    enum class Implementation { builtin, native, abstract };
    FunctionObject(std::string prototype_text, Prototype parsed, Implementation implementation);

    const std::string prototype_text;
    const Prototype prototype;
    const Implementation implementation;
    Builtin builtin = nullptr;
    std::uint32_t slot_count = 0;  // builtin: slots the caller must pass
    void* address = nullptr;       // native: the plug-in's function
    std::atomic<bool> stale{false};
};

// The data-access object behind one lock: the image stays locked while it lives.
class LockedData final : public DM_ImageDataSequence {
public:
    LockedData(Ref<ImageObject> image, std::uint32_t flags);
    ~LockedData() override;
    std::uint32_t CountSlices() override { return 1; }
    std::int32_t DescribeSlice(std::uint32_t slice, std::uint32_t reserved, std::uint32_t* out_num_dims,
                               DM_SliceRecord* record) override;

private:
    Ref<ImageObject> image_;
};

class ScriptObjectObject final : public HostObject {
public:
    explicit ScriptObjectObject(boost::shared_ptr<DM_ImageDataSequence> locked)
        : HostObject(Kind::script_object), locked(std::move(locked)) {}
    const boost::shared_ptr<DM_ImageDataSequence> locked;
};

class ScriptClassObject final : public HostObject {
public:
    explicit ScriptClassObject(std::string name) : HostObject(Kind::script_class), name(std::move(name)) {}
    const std::string name;
    std::mutex mutex;
    std::vector<Ref<FunctionObject>> methods;
};

}  // namespace zorvan::host::detail
