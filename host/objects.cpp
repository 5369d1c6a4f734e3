#include "host/objects.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace zorvan::host::detail {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<HostObject*> live;
};

Registry& registry() {
    static Registry* const instance = new Registry;  // outlives every object
    return *instance;
}

std::atomic<std::int64_t> g_live[static_cast<int>(Kind::count)];
std::atomic<std::int64_t> g_data_locks{0};
std::atomic<std::uint64_t> g_bad_handles{0};

}  // namespace

HostObject::HostObject(Kind kind) : kind_(kind) {
    auto& all = registry();
    {
        std::lock_guard lock(all.mutex);
        all.live.insert(this);
    }
    ++g_live[static_cast<int>(kind)];
}

// Leaves the registry here, not in release(), so that an object whose
// constructor threw is forgotten too. Lookups never revive an object whose
// count reached zero (try_add_ref).
HostObject::~HostObject() {
    {
        auto& all = registry();
        std::lock_guard lock(all.mutex);
        all.live.erase(this);
    }
    --g_live[static_cast<int>(kind_)];
}

void HostObject::release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

bool HostObject::try_add_ref() {
    std::int64_t count = references_.load(std::memory_order_relaxed);
    while (count > 0) {
        if (references_.compare_exchange_weak(count, count + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

Ref<HostObject> lookup(DM_Handle handle, Kind kind) {
    if (handle == nullptr) return {};
    auto* object = reinterpret_cast<HostObject*>(handle);
    auto& all = registry();
    std::lock_guard lock(all.mutex);
    if (all.live.count(object) == 0 || object->kind() != kind || !object->try_add_ref()) return {};
    return Ref<HostObject>::adopt(object);
}

void for_each_live(Kind kind, const std::function<void(HostObject&)>& visit) {
    auto& all = registry();
    std::lock_guard lock(all.mutex);
    for (HostObject* object : all.live) {
        if (object->kind() == kind) visit(*object);
    }
}

std::int64_t live_count(Kind kind) { return g_live[static_cast<int>(kind)].load(); }
std::int64_t live_data_locks() { return g_data_locks.load(); }
void note_bad_handle() { ++g_bad_handles; }

namespace {
std::mutex g_breaks_mutex;
std::vector<std::string> g_contract_breaks;
}  // namespace

void note_contract_break(std::string what) {
    std::lock_guard lock(g_breaks_mutex);
    g_contract_breaks.push_back(std::move(what));
}

std::vector<std::string> contract_breaks() {
    std::lock_guard lock(g_breaks_mutex);
    return g_contract_breaks;
}
std::uint64_t bad_handle_uses() { return g_bad_handles.load(); }

namespace {

// The blocks given up lately, kept mapped for the next images: a script
// that makes a result image per call (a filter over a stack, a clone per
// plane, a chain of Fourier-space steps of different element sizes) then
// reuses warm, mapped pages instead of having the kernel fault in and zero
// fresh ones. Measured on a 2-core VM where untouched pages come at about
// 0.3 GB/s: 37% of an invert-rotate of 4096 x 4096 floats went to the
// kernel's page clearing, and at 1024 x 1024 a complex-by-real product
// (an 8 MiB clone) took 4.2-4.3 ms with its block from the C library's
// heap, whose threshold for mapping afresh moves with the sizes freed
// before, and 1.4-1.5 ms with a kept block (median of 200 calls).
// A request takes the smallest kept block that holds it and wastes at most
// half its size again; a block given back is kept as the newest, and the
// oldest are unmapped beyond kMost blocks or kMostBytes.
class mapped_blocks {
public:
    struct found {
        void* block;
        std::uint64_t bytes;  // the block's own size, at least the size asked
    };
    found take(std::uint64_t bytes) {
        std::lock_guard lock(mutex_);
        std::size_t best = count_;
        for (std::size_t i = count_; i-- > 0;) {  // the newest first: of equal sizes, the warmest
            const std::uint64_t size = kept_[i].bytes;
            if (size >= bytes && size - bytes <= bytes / 2 && (best == count_ || size < kept_[best].bytes)) best = i;
        }
        if (best == count_) return {nullptr, 0};
        const found taken = kept_[best];
        held_ -= taken.bytes;
        for (std::size_t i = best + 1; i < count_; ++i) kept_[i - 1] = kept_[i];  // keeps the age order
        --count_;
        return taken;
    }
    void give_back(void* block, std::uint64_t bytes) {
        found dropped[kMost + 1];
        std::size_t drops = 0;
        if (bytes > kMostBytes) {
            dropped[drops++] = {block, bytes};
        } else {
            std::lock_guard lock(mutex_);
            std::size_t oldest = 0;
            while (count_ - oldest == kMost || held_ + bytes > kMostBytes) {
                dropped[drops++] = kept_[oldest];
                held_ -= kept_[oldest++].bytes;
            }
            for (std::size_t i = oldest; i < count_; ++i) kept_[i - oldest] = kept_[i];
            count_ -= oldest;
            kept_[count_++] = {block, bytes};
            held_ += bytes;
        }
        for (std::size_t i = 0; i < drops; ++i) ::munmap(dropped[i].block, dropped[i].bytes);
    }

private:
    static constexpr std::size_t kMost = 16;
    static constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 30;
    std::mutex mutex_;
    found kept_[kMost] = {};  // oldest first
    std::size_t count_ = 0;
    std::uint64_t held_ = 0;
};

mapped_blocks& large_blocks() {
    static mapped_blocks* blocks = new mapped_blocks;  // never destroyed: images may die after static destructors
    return *blocks;
}

}  // namespace

// Blocks from 1 MiB on are mapped directly: a block given up lately when
// one fits (zeroed here only when asked), else fresh zero pages from the
// kernel with transparent huge pages asked for, so a fresh result image
// costs few page faults and no memset pass. Smaller ones come from the
// heap; they too are zeroed only when asked, so a clone is one copy, not a
// fill and a copy.
std::shared_ptr<void> ImageObject::allocate(std::uint64_t bytes, bool zeroed) {
    constexpr std::uint64_t mapped_from = std::uint64_t{1} << 20;
    const std::uint64_t rounded = bytes == 0 ? 64 : (bytes + 63) / 64 * 64;
    if (rounded >= mapped_from) {
        if (const auto reused = large_blocks().take(rounded); reused.block != nullptr) {
            if (zeroed) std::memset(reused.block, 0, rounded);
            const std::uint64_t size = reused.bytes;
            return std::shared_ptr<void>(reused.block, [size](void* block) { large_blocks().give_back(block, size); });
        }
        void* memory = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        ::madvise(memory, rounded, MADV_HUGEPAGE);  // advice only: its failure changes nothing
        return std::shared_ptr<void>(memory, [rounded](void* block) { large_blocks().give_back(block, rounded); });
    }
    void* memory = std::aligned_alloc(64, rounded);
    if (memory == nullptr) throw std::bad_alloc();
    if (zeroed) std::memset(memory, 0, rounded);
    return std::shared_ptr<void>(memory, &std::free);
}

ImageObject::ImageObject(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name)
    : HostObject(Kind::image),
      data_type_(data_type),
      element_bytes_(dm::bytes_of(data_type)),
      sizes_(std::move(sizes)),
      name_(std::move(name)) {
    compute_strides();
    storage_ = allocate(byte_count());
    data_ = storage_.get();
}

ImageObject::ImageObject(const ImageObject& source, std::string name)
    : HostObject(Kind::image),
      data_type_(source.data_type_),
      element_bytes_(source.element_bytes_),
      sizes_(source.sizes_),
      name_(std::move(name)) {
    compute_strides();
    const std::uint64_t bytes = byte_count();
    storage_ = allocate(bytes, false);
    data_ = storage_.get();
    if (bytes > 0) std::memcpy(data_, source.data_, bytes);
}

ImageObject::ImageObject(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name, void* data,
                         std::shared_ptr<void> keepalive)
    : HostObject(Kind::image),
      data_type_(data_type),
      element_bytes_(dm::bytes_of(data_type)),
      sizes_(std::move(sizes)),
      name_(std::move(name)),
      storage_(std::move(keepalive)),
      data_(data) {
    compute_strides();
}

void ImageObject::compute_strides() {
    std::int64_t stride = element_bytes_;
    for (std::size_t k = 0; k < 4; ++k) {
        if (k < sizes_.size()) {
            strides_[k] = stride;
            stride *= static_cast<std::int64_t>(sizes_[k]);
        } else {
            strides_[k] = 0;
        }
    }
}

std::uint64_t ImageObject::element_count() const {
    std::uint64_t count = 1;
    for (auto size : sizes_) count *= size;
    return count;
}

std::string ImageObject::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void ImageObject::set_name(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

void ImageObject::replace_storage(std::int32_t data_type, std::shared_ptr<void> storage, void* data) {
    data_type_ = data_type;
    element_bytes_ = dm::bytes_of(data_type);
    storage_ = std::move(storage);
    data_ = data;
    compute_strides();
}

void ImageObject::note_lock(std::uint32_t flags) {
    {
        std::lock_guard lock(mutex_);
        lock_flags_.push_back(flags);
    }
    ++locks_;
    ++g_data_locks;
}

void ImageObject::note_unlock() {
    --locks_;
    --g_data_locks;
}

std::vector<std::uint32_t> ImageObject::lock_flags() const {
    std::lock_guard lock(mutex_);
    return lock_flags_;
}

FunctionObject::FunctionObject(std::string prototype_text, Prototype parsed, Implementation implementation)
    : HostObject(Kind::function),
      prototype_text(std::move(prototype_text)),
      prototype(std::move(parsed)),
      implementation(implementation) {}

LockedData::LockedData(Ref<ImageObject> image, std::uint32_t flags) : image_(std::move(image)) {
    image_->note_lock(flags);
}

LockedData::~LockedData() { image_->note_unlock(); }

std::int32_t LockedData::DescribeSlice(std::uint32_t slice, std::uint32_t, std::uint32_t* out_num_dims,
                                       DM_SliceRecord* record) {
    if (slice != 0 || record == nullptr) return 1;
    std::memset(record, 0, sizeof *record);
    record->data = image_->data();
    const auto dims = static_cast<std::uint32_t>(image_->sizes().size());
    for (std::uint32_t k = 0; k < dims && k < 4; ++k) {
        record->dims[k].byte_stride = image_->byte_stride(k);
        record->dims[k].host_extent = static_cast<std::int64_t>(image_->sizes()[k]);
    }
    record->num_dims = dims;
    if (out_num_dims != nullptr) *out_num_dims = dims;
    return 0;
}

}  // namespace zorvan::host::detail
