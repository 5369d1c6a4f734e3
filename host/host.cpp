#include "host/host.h"

#include "host/host_state.h"
#include "platform/foundation/foundation.h"
#include "platform/trace/trace.h"

#include <dlfcn.h>
#include <omp.h>

#include <cstring>

namespace zorvan::host {

using namespace detail;


std::string to_string(const ObjectCounts& c) {
    return "images " + std::to_string(c.images) + ", strings " + std::to_string(c.strings) + ", functions " +
           std::to_string(c.functions) + ", throwables " + std::to_string(c.throwables) + ", script objects " +
           std::to_string(c.script_objects) + ", script classes " + std::to_string(c.script_classes) +
           ", contexts " + std::to_string(c.contexts) + ", data locks " + std::to_string(c.data_locks);
}

// ---- Image -----------------------------------------------------------------------

Image::Image() = default;

Image::~Image() {
    if (object_ != nullptr) object_->release();
}

Image::Image(const Image& other) : object_(other.object_) {
    if (object_ != nullptr) object_->add_ref();
}

Image::Image(Image&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

Image& Image::operator=(Image other) noexcept {
    std::swap(object_, other.object_);
    return *this;
}

std::int32_t Image::data_type() const { return object_ ? object_->data_type() : 0; }
std::uint32_t Image::element_bytes() const { return object_ ? object_->element_bytes() : 0; }
std::vector<std::uint64_t> Image::sizes() const { return object_ ? object_->sizes() : std::vector<std::uint64_t>{}; }
std::uint64_t Image::size(std::size_t k) const {
    if (object_ == nullptr) return 0;
    return k < object_->sizes().size() ? object_->sizes()[k] : 1;
}
std::uint64_t Image::element_count() const { return object_ ? object_->element_count() : 0; }
std::string Image::name() const { return object_ ? object_->name() : std::string(); }
void Image::set_name(std::string name) {
    if (object_ != nullptr) object_->set_name(std::move(name));
}

std::vector<std::byte> Image::bytes() const {
    if (object_ == nullptr) return {};
    std::vector<std::byte> out(object_->byte_count());
    if (!out.empty()) std::memcpy(out.data(), object_->data(), out.size());
    return out;
}

void Image::set_bytes(const void* data, std::size_t byte_count) {
    if (object_ == nullptr) throw HostError("set_bytes on a null image");
    if (byte_count != object_->byte_count()) {
        throw HostError("set_bytes: " + std::to_string(byte_count) + " bytes given, the image holds " +
                        std::to_string(object_->byte_count()));
    }
    if (byte_count > 0) std::memcpy(object_->data(), data, byte_count);
}

const void* Image::data() const { return object_ ? object_->data() : nullptr; }
std::vector<std::uint32_t> Image::lock_flags() const { return object_ ? object_->lock_flags() : std::vector<std::uint32_t>{}; }
int Image::active_locks() const { return object_ ? object_->active_locks() : 0; }
std::uint64_t Image::data_changed_count() const { return object_ ? object_->data_changed_count() : 0; }
void* Image::handle() const { return object_ ? static_cast<void*>(object_->handle()) : nullptr; }

Image Image::adopt_handle(void* handle) {
    if (handle == nullptr) return Image();
    Ref<ImageObject> found = lookup_as<ImageObject>(static_cast<DM_Handle>(handle), Kind::image);
    if (!found) {
        note_bad_handle();
        return Image();
    }
    found->release();  // the lookup's reference: the handle's own one remains
    return Image(found.detach());
}

// ---- plug-in library -------------------------------------------------------------------

struct PluginLibrary::Entries {
    void (*link)(DM_HostEnv*);
    void (*sdk_version)(std::uint32_t*, std::uint32_t*);
    void (*register_floating_windows)();
    void (*startup)();
    void (*run)();
    bool (*request_close)();
    void (*prepare_close)();
    void (*cleanup)();
    void (*shutdown)();
};

namespace {

template <class F>
void resolve(void* library, const char* name, F& entry) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) throw HostError(std::string("the plug-in does not export ") + name);
    entry = reinterpret_cast<F>(symbol);
}

}  // namespace

PluginLibrary::PluginLibrary(HostState& state, const std::string& path) : state_(state) {
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        throw HostError("cannot load the plug-in " + path + ": " + (reason ? reason : "unknown reason"));
    }
    entries_ = std::make_unique<Entries>();
    try {
        resolve(library_, "DMPlugIn_Link_2", entries_->link);
        resolve(library_, "PlugInGetSDKVersion", entries_->sdk_version);
        resolve(library_, "PlugInRegisterFloatingWindows", entries_->register_floating_windows);
        resolve(library_, "PlugInStartup", entries_->startup);
        resolve(library_, "PlugInRun", entries_->run);
        resolve(library_, "PlugInRequestClose", entries_->request_close);
        resolve(library_, "PlugInPrepareClose", entries_->prepare_close);
        resolve(library_, "PlugInCleanup", entries_->cleanup);
        resolve(library_, "PlugInShutdown", entries_->shutdown);
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

PluginLibrary::~PluginLibrary() {
    std::lock_guard lock(HostState::call_mutex());
    dlclose(library_);
}

template <class F>
auto PluginLibrary::in_call(F&& f) {
    CallScope scope(state_);
    struct Record {
        CallScope& scope;
        HostState& state;
        ~Record() {
            if (const auto pending = scope.context().pending()) {
                std::lock_guard lock(state.errors_mutex);
                state.lifecycle_errors.push_back(state.error_of(*pending));
            }
        }
    } record{scope, state_};
    return f();
}

void PluginLibrary::link(DM_HostEnv* environment) {
    in_call([&] { entries_->link(environment); });
}
void PluginLibrary::sdk_version(std::uint32_t& major, std::uint32_t& minor) {
    in_call([&] { entries_->sdk_version(&major, &minor); });
}
void PluginLibrary::register_floating_windows() {
    in_call([&] { entries_->register_floating_windows(); });
}
void PluginLibrary::startup() {
    in_call([&] { entries_->startup(); });
}
void PluginLibrary::run() {
    in_call([&] { entries_->run(); });
}
bool PluginLibrary::request_close() {
    return in_call([&] { return entries_->request_close(); });
}
void PluginLibrary::prepare_close() {
    in_call([&] { entries_->prepare_close(); });
}
void PluginLibrary::cleanup() {
    in_call([&] { entries_->cleanup(); });
}
void PluginLibrary::shutdown() {
    in_call([&] { entries_->shutdown(); });
}

// ---- host -----------------------------------------------------------------------

namespace {

// The host keeps the OpenMP runtime mapped itself, so unloading a plug-in
// never unmaps it under its idle worker threads.
[[maybe_unused]] const int g_openmp_threads = omp_get_max_threads();

// Never destroyed, so that a Host living in a static object can still
// report while it shuts its plug-in down at exit.
Gatan::ErrorManager& host_error_manager() {
    static Gatan::ErrorManager* const manager = new Gatan::ErrorManager;
    return *manager;
}

}  // namespace

Host::Host() : state_(std::make_unique<HostState>()) { Gatan::SetErrorManager(&host_error_manager()); }

Host::~Host() {
    if (plugin_) {
        try {
            unload_plugin();
        } catch (...) {
        }
    }
    Gatan::SetErrorManager(nullptr);
}

void Host::load_plugin(const std::string& path) {
    if (plugin_) throw HostError("a plug-in is loaded already");
    auto library = std::make_unique<PluginLibrary>(*state_, path);
    std::uint32_t major = 0, minor = 0;
    library->link(&state_->environment);
    library->sdk_version(major, minor);
    library->startup();
    plugin_ = std::move(library);
}

void Host::unload_plugin() {
    if (!plugin_) return;
    plugin_->shutdown();
    plugin_.reset();
}

bool Host::plugin_loaded() const { return static_cast<bool>(plugin_); }

std::unique_ptr<PluginLibrary> Host::open_library(const std::string& path) {
    return std::make_unique<PluginLibrary>(*state_, path);
}

DM_HostEnv* Host::environment() { return &state_->environment; }
std::int64_t Host::environment_references() const { return state_->environment.references(); }
void Host::set_version(std::uint32_t version) { state_->version = version; }

Image Host::make_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name) {
    const std::string refusal = state_->check_new_image(data_type, sizes);
    if (!refusal.empty()) throw HostError(refusal);
    return Image(new ImageObject(data_type, std::move(sizes), std::move(name)));
}

Image Host::make_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, const void* data,
                       std::size_t byte_count, std::string name) {
    Image image = make_image(data_type, std::move(sizes), std::move(name));
    image.set_bytes(data, byte_count);
    return image;
}

Image Host::wrap_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, void* data,
                       std::shared_ptr<void> keepalive, std::string name) {
    const std::string refusal = state_->check_new_image(data_type, sizes);
    if (!refusal.empty()) throw HostError(refusal);
    if (data == nullptr) throw HostError("wrap_image: no memory given");
    // Complex pixels need only their parts' alignment.
    const dm::pixel_type& type = *dm::find_pixel_type(data_type);
    const bool two_parts = type.kind == dm::pixel_kind::complex || type.kind == dm::pixel_kind::packed;
    const std::uint32_t alignment = two_parts ? type.bytes / 2 : type.bytes;
    if (reinterpret_cast<std::uintptr_t>(data) % alignment != 0) {
        throw HostError("wrap_image: memory not aligned to its element type");
    }
    return Image(new ImageObject(data_type, std::move(sizes), std::move(name), data, std::move(keepalive)));
}

void Host::set_allocation_limit(std::uint64_t bytes) { state_->allocation_limit = bytes; }

CallResult Host::call(std::string_view name, std::vector<Arg>& args) {
    const Ref<FunctionObject> function = state_->find_published(name);
    if (!function) {
        CallResult outcome;
        outcome.error = ScriptError{0, 0, "The function " + std::string(name) + " is not defined."};
        return outcome;
    }
    return call_native(*state_, *function, args);
}

std::vector<std::string> Host::published_prototypes() const {
    std::lock_guard lock(state_->table_mutex);
    std::vector<std::string> out;
    for (const auto& function : state_->published) out.push_back(function->prototype_text);
    return out;
}

std::optional<Prototype> Host::prototype_of(std::string_view name) const {
    const Ref<FunctionObject> function = state_->find_published(name);
    if (!function) return std::nullopt;
    return function->prototype;
}

std::vector<std::string> Host::removed_prototypes() const {
    std::lock_guard lock(state_->table_mutex);
    return state_->removed;
}

std::vector<std::string> Host::script_class_names() const {
    std::vector<std::string> names;
    for_each_live(Kind::script_class, [&names](HostObject& object) {
        names.push_back(static_cast<ScriptClassObject&>(object).name);
    });
    return names;
}

std::vector<std::string> Host::script_class_methods(std::string_view class_name) const {
    std::vector<std::string> methods;
    for_each_live(Kind::script_class, [&](HostObject& object) {
        auto& script_class = static_cast<ScriptClassObject&>(object);
        if (script_class.name != class_name) return;
        std::lock_guard lock(script_class.mutex);
        for (const auto& method : script_class.methods) {
            methods.push_back(method->prototype.name + ": " + method->prototype_text);
        }
    });
    return methods;
}

void Host::make_stale(std::string_view prototype) {
    std::lock_guard lock(state_->table_mutex);
    auto entry = state_->by_prototype.find(prototype);
    if (entry == state_->by_prototype.end()) return;
    const Ref<FunctionObject>& old = entry->second;
    auto fresh = Ref<FunctionObject>::adopt(new FunctionObject(old->prototype_text, old->prototype, old->implementation));
    fresh->builtin = old->builtin;
    fresh->slot_count = old->slot_count;
    fresh->address = old->address;
    old->stale = true;
    entry->second = fresh;
}

std::uint64_t Host::lookups_of(std::string_view prototype) const {
    std::lock_guard lock(state_->table_mutex);
    auto entry = state_->lookups.find(prototype);
    return entry == state_->lookups.end() ? 0 : entry->second;
}

std::vector<ScriptError> Host::lifecycle_errors() const {
    std::lock_guard lock(state_->errors_mutex);
    return state_->lifecycle_errors;
}

void Host::clear_lifecycle_errors() {
    std::lock_guard lock(state_->errors_mutex);
    state_->lifecycle_errors.clear();
}

std::vector<TraceCounter> Host::counters() {
    std::vector<TraceCounter> out;
    for (const auto& counter : ipu::DLLTraceReadCounters()) {
        out.push_back({counter.name, counter.additions, counter.total_ticks});
    }
    return out;
}

std::optional<TraceCounter> Host::counter(std::string_view name) {
    for (auto& counter : counters()) {
        if (counter.name == name) return counter;
    }
    return std::nullopt;
}

void Host::reset_counters() { ipu::DLLTraceResetCounters(); }

std::vector<ErrorReport> Host::error_reports() {
    std::vector<ErrorReport> out;
    for (const auto& report : Gatan::error_reports()) out.push_back({report.code, report.text, report.continuable});
    return out;
}

void Host::clear_error_reports() { Gatan::clear_error_reports(); }

ObjectCounts Host::object_counts() {
    ObjectCounts counts;
    counts.images = live_count(Kind::image);
    counts.strings = live_count(Kind::string);
    counts.functions = live_count(Kind::function);
    counts.throwables = live_count(Kind::throwable);
    counts.script_objects = live_count(Kind::script_object);
    counts.script_classes = live_count(Kind::script_class);
    counts.contexts = live_count(Kind::context);
    counts.data_locks = live_data_locks();
    return counts;
}

std::uint64_t Host::bad_handle_uses() { return detail::bad_handle_uses(); }
std::vector<std::string> Host::contract_breaks() { return detail::contract_breaks(); }

}  // namespace zorvan::host
