#pragma once
// The embedded host: how the plug-in is loaded, run and tested on this
// system. It holds images, publishes the functions a plug-in registers,
// calls them natively by their prototypes, and reports script errors,
// timing counters and the objects it keeps alive.
//
// One Host lives in a process at a time. Every call into a plug-in is
// serialised by one process-wide lock, whichever thread makes it.

#include "contract/data_types.h"
#include "host/prototype.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct DM_HostEnv;

namespace zorvan::host {

namespace detail {
class ImageObject;
class HostState;
}  // namespace detail

// Host data-type codes, as the plug-in and the file library know them.
namespace data_type = dm::data_type;

// Raised by the API for a request the host refuses (bad sizes, unknown
// type, a plug-in that does not load).
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One counted reference to a host image.
class Image {
public:
    Image();
    ~Image();
    Image(const Image& other);
    Image(Image&& other) noexcept;
    Image& operator=(Image other) noexcept;

    explicit operator bool() const { return object_ != nullptr; }
    bool same_as(const Image& other) const { return object_ == other.object_; }

    std::int32_t data_type() const;
    std::uint32_t element_bytes() const;
    std::vector<std::uint64_t> sizes() const;
    // Size of dimension k; 1 for a dimension the image does not have.
    std::uint64_t size(std::size_t k) const;
    std::uint64_t element_count() const;
    std::string name() const;
    void set_name(std::string name);

    // The pixels, packed, dimension 0 fastest.
    std::vector<std::byte> bytes() const;
    void set_bytes(const void* data, std::size_t byte_count);
    template <class T>
    std::vector<T> pixels() const {
        const auto raw = bytes();
        std::vector<T> out(raw.size() / sizeof(T));
        if (!out.empty()) __builtin_memcpy(out.data(), raw.data(), out.size() * sizeof(T));
        return out;
    }
    const void* data() const;

    // What the plug-in did to the image.
    std::vector<std::uint32_t> lock_flags() const;  // one entry per lock taken
    int active_locks() const;
    std::uint64_t data_changed_count() const;

    // The raw host handle (for tests that drive the plug-in directly).
    void* handle() const;
    // Takes over one reference carried by `handle` (null if not an image).
    static Image adopt_handle(void* handle);

private:
    friend class Host;
    explicit Image(detail::ImageObject* adopted) : object_(adopted) {}
    detail::ImageObject* object_ = nullptr;
};

// One argument of a script call.
class Arg {
public:
    enum class Kind { long_, double_, float_, image, null_image, double_ref, image_ref };

    Arg(std::int32_t value) : kind_(Kind::long_), number_(value) {}
    Arg(double value) : kind_(Kind::double_), number_(value) {}
    Arg(float value) : kind_(Kind::float_), number_(value) {}
    Arg(Image image) : kind_(image ? Kind::image : Kind::null_image), image_(std::move(image)) {}
    Arg(std::nullptr_t) : kind_(Kind::null_image) {}
    // A `double *` argument: read by the function, written back after it.
    static Arg out(double initial = 0.0) {
        Arg arg(initial);
        arg.kind_ = Kind::double_ref;
        return arg;
    }
    // An `ImageRef*` argument: the image the function may replace.
    static Arg slot(Image initial = Image()) {
        Arg arg(std::move(initial));
        arg.kind_ = Kind::image_ref;
        return arg;
    }

    Kind kind() const { return kind_; }
    double number() const { return number_; }
    const Image& image() const { return image_; }

private:
    friend class Host;
    Kind kind_;
    double number_ = 0.0;
    Image image_;
};

struct ScriptError {
    std::int32_t code = 0;
    std::intptr_t parameter = 0;
    std::string message;
};

struct CallResult {
    ScriptType kind = ScriptType::void_;
    Image image;                // ImageRef results (null on failure or refusal)
    std::int64_t number = 0;    // short and long results
    std::optional<ScriptError> error;
    int raised = 0;             // Throwables raised during the call
    bool ok() const { return !error.has_value(); }
};

struct TraceCounter {
    std::string name;
    std::uint64_t additions;
    std::int64_t total_ticks;  // nanoseconds
    double total_ms() const { return static_cast<double>(total_ticks) / 1e6; }
};

struct ErrorReport {
    std::int32_t code;
    std::string text;
    bool continuable;
};

struct ObjectCounts {
    std::int64_t images = 0, strings = 0, functions = 0, throwables = 0, script_objects = 0, script_classes = 0,
                 contexts = 0, data_locks = 0;
    bool operator==(const ObjectCounts&) const = default;
};
std::string to_string(const ObjectCounts& counts);

// The plug-in library and its nine entry points, each call made under the
// host's lock with a script context of its own.
class PluginLibrary {
public:
    PluginLibrary(detail::HostState& state, const std::string& path);
    ~PluginLibrary();  // closes the library (no shutdown)
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    void link(DM_HostEnv* environment);
    void sdk_version(std::uint32_t& major, std::uint32_t& minor);
    void register_floating_windows();
    void startup();
    void run();
    bool request_close();
    void prepare_close();
    void cleanup();
    void shutdown();

private:
    template <class F>
    auto in_call(F&& f);
    struct Entries;
    detail::HostState& state_;
    void* library_ = nullptr;
    std::unique_ptr<Entries> entries_;
};

class Host {
public:
    Host();
    ~Host();  // unloads a loaded plug-in first
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads, links and starts a plug-in; throws HostError when the library
    // cannot be opened or lacks an entry point.
    void load_plugin(const std::string& path);
    // Shuts the plug-in down and unloads it.
    void unload_plugin();
    bool plugin_loaded() const;
    // Opens a library without driving its lifecycle (for lifecycle tests).
    std::unique_ptr<PluginLibrary> open_library(const std::string& path);
    DM_HostEnv* environment();
    // References the plug-in holds on the environment.
    std::int64_t environment_references() const;
    void set_version(std::uint32_t version);

    Image make_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, std::string name = "");
    Image make_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, const void* data,
                     std::size_t byte_count, std::string name = "");
    // An image over memory the host does not own; `keepalive` keeps it valid.
    Image wrap_image(std::int32_t data_type, std::vector<std::uint64_t> sizes, void* data,
                     std::shared_ptr<void> keepalive, std::string name = "");
    void set_allocation_limit(std::uint64_t bytes);

    // Calls a published function by name; `args` receive `double *` and
    // `ImageRef*` results.
    CallResult call(std::string_view name, std::vector<Arg>& args);
    CallResult call(std::string_view name, std::vector<Arg>&& args) { return call(name, args); }

    std::vector<std::string> published_prototypes() const;
    std::optional<Prototype> prototype_of(std::string_view name) const;
    // Prototypes the plug-in removed, in order.
    std::vector<std::string> removed_prototypes() const;
    std::vector<std::string> script_class_names() const;
    std::vector<std::string> script_class_methods(std::string_view class_name) const;

    // Makes the function table hand out a new handle for `prototype`, so a
    // handle cached earlier answers "stale" (status 3) when called.
    void make_stale(std::string_view prototype);
    // How often the plug-in looked `prototype` up in the function table.
    std::uint64_t lookups_of(std::string_view prototype) const;

    std::vector<ScriptError> lifecycle_errors() const;
    void clear_lifecycle_errors();

    static std::vector<TraceCounter> counters();
    static std::optional<TraceCounter> counter(std::string_view name);
    static void reset_counters();
    static std::vector<ErrorReport> error_reports();
    static void clear_error_reports();
    static ObjectCounts object_counts();
    // Handles the plug-in passed that were null, released or of another class.
    static std::uint64_t bad_handle_uses();
    // Calls that broke the calling convention (an image returned together
    // with a script error), in words, in order.
    static std::vector<std::string> contract_breaks();

private:
    std::unique_ptr<detail::HostState> state_;
    std::unique_ptr<PluginLibrary> plugin_;
};

}  // namespace zorvan::host
