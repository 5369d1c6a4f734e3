// _zorvan: the plug-in in the embedded host, loaded once per process, and
// one generic call that converts Python values by the function's prototype,
// so Python sees exactly what a script sees. The Pythonic functions are in
// zorvan/__init__.py.

#include "contract/data_types.h"
#include "contract/script_functions.h"
#include "files/image_io.h"
#include "host/host.h"
#include "wiener/transforms.h"
#include "wiener/wiener.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <dlfcn.h>
#include <omp.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace py = pybind11;
using zorvan::host::Arg;
using zorvan::host::Host;
using zorvan::host::Image;
using zorvan::host::ScriptType;
namespace data_type = zorvan::dm::data_type;

namespace {

// The host and its plug-in. Never destroyed: at exit the plug-in is shut
// down and unloaded, and a call that comes later (a daemon thread) finds
// it closed rather than gone.
struct Loaded {
    Host host;
    std::shared_mutex running;  // calls share it; the shutdown takes it alone
    bool closed = false;
};

// The plug-in beside this module when the package is installed, else the
// one of the build tree the module was built in.
std::string plugin_path() {
    Dl_info module{};
    if (dladdr(reinterpret_cast<const void*>(&plugin_path), &module) != 0 && module.dli_fname != nullptr) {
        const std::filesystem::path beside =
            std::filesystem::path(module.dli_fname).parent_path() / std::filesystem::path(ZORVAN_PLUGIN_PATH).filename();
        if (std::filesystem::exists(beside)) return beside.string();
    }
    return ZORVAN_PLUGIN_PATH;
}

Loaded& loaded() {
    static Loaded* const instance = [] {
        auto* fresh = new Loaded;
        fresh->host.load_plugin(plugin_path());
        return fresh;
    }();
    return *instance;
}

void shutdown() {
    Loaded& state = loaded();
    py::gil_scoped_release release;  // calls in flight need the GIL to finish
    std::unique_lock lock(state.running);
    if (state.closed) return;
    state.closed = true;
    state.host.unload_plugin();
}

PyObject* g_zorvan_error = nullptr;  // zorvan.ZorvanError, a ValueError

// NumPy's kind and item size of each host type code that has an element type.
struct dtype_row {
    std::int32_t code;
    char kind;
};
constexpr dtype_row kDtypes[] = {
    {data_type::int16, 'i'},  {data_type::real4, 'f'},  {data_type::complex8, 'c'},  {data_type::uint8, 'u'},
    {data_type::int32, 'i'},  {data_type::int8, 'i'},   {data_type::uint16, 'u'},    {data_type::uint32, 'u'},
    {data_type::real8, 'f'},  {data_type::complex16, 'c'}, {data_type::binary, 'b'},
};

std::int32_t code_of(const py::dtype& dtype) {
    for (const dtype_row& row : kDtypes) {
        if (row.kind == dtype.kind() && zorvan::dm::bytes_of(row.code) == static_cast<std::uint32_t>(dtype.itemsize())) {
            return row.code;
        }
    }
    return 0;
}

py::dtype dtype_of(std::int32_t code) {
    for (const dtype_row& row : kDtypes) {
        if (row.code == code) return py::dtype(std::string(1, row.kind) + std::to_string(zorvan::dm::bytes_of(code)));
    }
    throw std::logic_error("the host returned an image of type " + std::to_string(code) + ", which NumPy cannot hold");
}

// One call's arrays lent to the host: the same memory with the same layout
// is lent as one image, so `out=a` filters in place.
struct Lent {
    py::array array;
    Image image;
};

Image lend(Host& host, const py::handle& value, std::vector<Lent>& lent) {
    if (!py::isinstance<py::array>(value)) throw py::type_error("an image argument must be a NumPy array or None");
    auto array = py::reinterpret_borrow<py::array>(value);
    const std::int32_t code = code_of(array.dtype());
    const int flags = array.flags();
    const bool native = array.dtype().byteorder() != '>';
    if (code == 0 || !native) throw py::type_error("the array's dtype is not a host pixel type");
    if (!(flags & py::array::c_style) || !(flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) || !array.writeable()) {
        throw py::value_error("an array lent to the host must be C-contiguous, aligned and writeable");
    }
    std::vector<std::uint64_t> sizes;  // host dimension 0 is NumPy's last axis
    for (py::ssize_t axis = array.ndim(); axis-- > 0;) sizes.push_back(static_cast<std::uint64_t>(array.shape(axis)));
    for (const Lent& earlier : lent) {
        if (earlier.array.data() == array.data() && earlier.image.data_type() == code && earlier.image.sizes() == sizes) {
            return earlier.image;
        }
    }
    // The image keeps the array alive; it may be released without the GIL.
    PyObject* owner = array.inc_ref().ptr();
    std::shared_ptr<void> keepalive(owner, [](void* object) {
        if (!Py_IsInitialized()) return;
        py::gil_scoped_acquire gil;
        Py_DECREF(static_cast<PyObject*>(object));
    });
    Image image = host.wrap_image(code, sizes, array.mutable_data(), std::move(keepalive));
    lent.push_back({array, image});
    return image;
}

// An image as an array: the array lent for it, or one over the host's
// memory that keeps the image alive.
py::object array_of(const Image& image, const std::vector<Lent>& lent) {
    if (!image) return py::none();
    for (const Lent& earlier : lent) {
        if (earlier.image.same_as(image)) return earlier.array;
    }
    std::vector<py::ssize_t> shape;
    for (std::uint64_t size : image.sizes()) shape.insert(shape.begin(), static_cast<py::ssize_t>(size));
    auto* owner = new Image(image);
    py::capsule base(owner, [](void* held) { delete static_cast<Image*>(held); });
    return py::array(dtype_of(image.data_type()), shape, const_cast<void*>(image.data()), base);
}

double number_of(const py::handle& value) {
    if (value.is_none() || py::isinstance<py::bool_>(value) || py::isinstance<py::str>(value) ||
        py::isinstance<py::bytes>(value) || py::isinstance<py::array>(value) || !PyNumber_Check(value.ptr())) {
        throw py::type_error("a number argument must be an int or a float, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
}

// Calls the script function `name` with `values`, one per parameter: numbers,
// arrays or None for images, the initial number (or None) for `double *`, an
// array or None for `ImageRef*`. Returns (result, [outputs by position]).
py::tuple call(const std::string& name, const py::sequence& values) {
    Loaded& state = loaded();
    Host& host = state.host;
    const auto prototype = host.prototype_of(name);
    if (!prototype) {
        PyErr_SetString(g_zorvan_error, ("The function " + name + " is not defined.").c_str());
        throw py::error_already_set();
    }
    const auto& parameters = prototype->parameters;
    if (values.size() != parameters.size()) {
        throw py::type_error(name + " takes " + std::to_string(parameters.size()) + " arguments, not " +
                             std::to_string(values.size()));
    }
    std::vector<Lent> lent;
    std::vector<Arg> args;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const py::handle value = values[i];
        switch (parameters[i].script_type) {
            case ScriptType::long_:
            case ScriptType::double_:
            case ScriptType::float_: args.emplace_back(number_of(value)); break;
            case ScriptType::double_ref: args.push_back(Arg::out(value.is_none() ? 0.0 : number_of(value))); break;
            case ScriptType::image:
                args.emplace_back(value.is_none() ? Image() : lend(host, value, lent));
                break;
            case ScriptType::image_ref:
                args.push_back(Arg::slot(value.is_none() ? Image() : lend(host, value, lent)));
                break;
            default: throw py::type_error("parameter " + parameters[i].type + " of " + name + " cannot be passed");
        }
    }

    zorvan::host::CallResult result;
    bool closed = false;
    {
        py::gil_scoped_release release;
        std::shared_lock lock(state.running);
        closed = state.closed;
        if (!closed) result = host.call(name, args);
    }
    if (closed) throw std::runtime_error("zorvan: the plug-in has been shut down");
    if (result.error) {
        PyErr_SetString(g_zorvan_error, result.error->message.c_str());
        throw py::error_already_set();
    }
    py::list outputs;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i].script_type == ScriptType::double_ref) outputs.append(args[i].number());
        if (parameters[i].script_type == ScriptType::image_ref) outputs.append(array_of(args[i].image(), lent));
    }
    py::object value = py::none();
    if (result.kind == ScriptType::image) value = array_of(result.image, lent);
    if (result.kind == ScriptType::short_ || result.kind == ScriptType::long_) value = py::int_(result.number);
    return py::make_tuple(value, outputs);
}

py::array_t<double> doubles(const std::vector<double>& values) {
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

// The filter of `zorvan wiener` on a C-contiguous array of a host pixel
// type: (float32 array of a's shape, dict of details). A refusal raises
// ZorvanError with the pipeline's message.
py::tuple wiener(const py::array& a, int mode, double margin, double smoothing, int window) {
    // The array's own pixels, read while it is held here (no copy).
    zorvan::wiener::PixelView input;
    input.data_type = code_of(a.dtype());
    if (input.data_type == 0 || a.dtype().byteorder() == '>' || !(a.flags() & py::array::c_style)) {
        throw py::type_error("wiener takes a C-contiguous array of a host pixel type in native byte order");
    }
    for (py::ssize_t axis = a.ndim(); axis-- > 0;) input.sizes.push_back(static_cast<std::uint64_t>(a.shape(axis)));
    input.bytes = static_cast<const std::byte*>(a.data());
    zorvan::wiener::WienerOptions options;
    options.noise_margin = margin;
    options.lambda = smoothing;
    options.window = static_cast<zorvan::wiener::Window>(window);
    options.mode = static_cast<zorvan::wiener::Mode>(mode);

    Loaded& state = loaded();
    auto result = std::make_unique<zorvan::wiener::WienerResult>();
    std::string refusal;
    bool closed = false;
    {
        py::gil_scoped_release release;
        std::shared_lock lock(state.running);
        // One filter at a time: the host serialises the plug-in's calls
        // anyway, and each filter holds buffers of several times the plane
        // (FFTW's planning has a lock of its own, wiener/transforms.cpp).
        static std::mutex one_at_a_time;
        std::lock_guard one(one_at_a_time);
        closed = state.closed;
        try {
            if (!closed) *result = zorvan::wiener::wiener_filter(state.host, input, options, nullptr);
        } catch (const zorvan::wiener::WienerRefusal& error) {
            refusal = error.what();
        }
    }
    if (closed) throw std::runtime_error("zorvan: the plug-in has been shut down");
    if (!refusal.empty()) {
        PyErr_SetString(g_zorvan_error, refusal.c_str());
        throw py::error_already_set();
    }
    const auto& plane = result->first;
    py::dict details;
    py::list times;
    for (const auto& stage : result->stages) times.append(py::make_tuple(stage.name, stage.milliseconds));
    details["stages"] = times;
    details["planes"] = result->planes;
    details["replaced_pixels"] = result->replaced_pixels;
    details["converted"] = result->converted;
    details["mask"] = array_of(plane.mask, {});  // the host's image itself, no copy
    details["noise_power"] = plane.noise_power;
    details["noise_variance"] = plane.noise_variance;
    details["noise_ln_mean"] = plane.noise_ln_mean;
    details["kept_fraction"] = plane.kept_fraction;
    details["mask_passed"] = plane.mask_passed;
    details["ring_means"] = doubles(plane.profile);
    details["background"] = doubles(plane.background);
    std::vector<double> threshold(plane.background);
    for (double& t : threshold) t += plane.threshold_offset;
    details["threshold"] = doubles(threshold);
    details["rings_per_cycle"] = plane.rings_per_cycle;

    std::vector<py::ssize_t> shape(a.shape(), a.shape() + a.ndim());
    auto* filtered = new std::vector<std::byte>(std::move(result->filtered.bytes));
    py::capsule base(filtered, [](void* held) { delete static_cast<std::vector<std::byte>*>(held); });
    return py::make_tuple(py::array(py::dtype("f4"), shape, filtered->data(), base), details);
}

// For the benchmark: a callable running the three real transforms that
// `wiener` needs for a width x height plane (two forward, one inverse, of the
// plane with its mirrored edges) with the plans and buffers it reuses, on
// as many threads as `wiener` would use now.
py::cpp_function wiener_transforms(std::uint64_t width, std::uint64_t height) {
    if (width < zorvan::wiener::kMinimumSide || height < zorvan::wiener::kMinimumSide) {
        throw py::value_error("wiener_transforms takes sides of 16 or more");
    }
    const std::size_t w = zorvan::wiener::mirrored_side(width), h = zorvan::wiener::mirrored_side(height);
    auto transforms = std::make_shared<zorvan::wiener::RealTransforms>(w, h);
    const std::shared_ptr<float[]> plane = zorvan::wiener::plane_buffer(w * h);
    for (std::size_t i = 0; i < w * h; ++i) plane[i] = static_cast<float>(i % 251);
    const std::shared_ptr<float[]> out = zorvan::wiener::plane_buffer(w * h);
    return py::cpp_function([transforms, plane, out] {
        py::gil_scoped_release release;
        transforms->forward(plane.get());
        transforms->forward(plane.get());
        transforms->inverse(transforms->half(), out.get());
    });
}

// Image files, for zorvan.io: what a file says of an image, as a dict.
py::dict summary_dict(const zorvan::files::ImageSummary& s) {
    py::list axes;
    for (const auto& axis : s.axes) axes.append(py::make_tuple(axis.scale, axis.origin, axis.unit));
    py::dict out;
    out["index"] = s.index;
    out["name"] = s.name;
    out["data_type"] = s.data_type;
    out["type_text"] = s.type_text;
    out["sizes"] = s.sizes;
    out["axes"] = axes;
    out["pixel_size"] = s.pixel_size.value;
    out["reciprocal"] = s.pixel_size.reciprocal;
    out["voltage_v"] = s.voltage_v;
    out["exposure_s"] = s.exposure_s;
    out["refusal"] = s.refusal;
    out["raw_data_offset"] = s.raw_data_offset;
    return out;
}

// The pixels as an array that owns them (no copy), and the image's metadata.
py::tuple read_image_file(const std::string& path) {
    auto image = std::make_unique<zorvan::files::ImageData>();
    {
        py::gil_scoped_release released;
        *image = zorvan::files::read_image(path);
    }
    zorvan::files::ImageSummary summary;
    summary.name = image->name;
    summary.data_type = image->data_type;
    summary.sizes = image->sizes;
    summary.axes = image->axes;
    summary.pixel_size = image->pixel_size;
    summary.voltage_v = image->voltage_v;
    summary.exposure_s = image->exposure_s;
    std::vector<py::ssize_t> shape;
    for (std::uint64_t size : image->sizes) shape.insert(shape.begin(), static_cast<py::ssize_t>(size));
    const py::dtype dtype = dtype_of(image->data_type);
    void* data = image->bytes.data();
    py::capsule owner(image.release(), [](void* held) { delete static_cast<zorvan::files::ImageData*>(held); });
    return py::make_tuple(py::array(dtype, shape, data, owner), summary_dict(summary));
}

void write_image_file(const std::string& path, const py::array& array, double pixel_size, bool reciprocal) {
    const std::int32_t code = code_of(array.dtype());
    if (code == 0 || array.dtype().byteorder() == '>') {
        throw py::type_error("the array's dtype is not a host pixel type");
    }
    if (!(array.flags() & py::array::c_style)) throw py::value_error("the array must be C-contiguous");
    zorvan::files::ImageData image;
    image.data_type = code;
    for (py::ssize_t axis = array.ndim(); axis-- > 0;) image.sizes.push_back(static_cast<std::uint64_t>(array.shape(axis)));
    const auto* begin = static_cast<const std::byte*>(array.data());
    image.bytes.assign(begin, begin + array.nbytes());
    image.pixel_size = {pixel_size, reciprocal};
    py::gil_scoped_release released;
    zorvan::files::write_image(path, image);
}

}  // namespace

PYBIND11_MODULE(_zorvan, module) {
    module.doc() = "The plug-in loaded into the embedded host; use the package zorvan.";
    module.attr("__version__") = ZORVAN_VERSION;
    static py::exception<zorvan::host::HostError> zorvan_error(module, "ZorvanError", PyExc_ValueError);
    g_zorvan_error = zorvan_error.ptr();
    // What the host refuses to hold (sizes, dimensions) is a ValueError.
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const zorvan::host::HostError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        }
    });
    loaded();
    py::module_::import("atexit").attr("register")(py::cpp_function(&shutdown));

    module.def("call", &call, py::arg("name"), py::arg("args"));
    module.def("wiener", &wiener, py::arg("a"), py::arg("mode"), py::arg("margin"), py::arg("smoothing"), py::arg("window"));
    module.def("wiener_transforms", &wiener_transforms, py::arg("width"), py::arg("height"));
    // The threads of the plug-in's parallel loops and of wiener's transforms
    // for calls from this Python thread (OpenMP's setting: OMP_NUM_THREADS
    // until changed).
    module.def("set_threads", [](int threads) {
        if (threads < 1) throw py::value_error("set_threads takes 1 or more");
        omp_set_num_threads(threads);
    }, py::arg("threads"));
    module.def("threads", [] { return omp_get_max_threads(); });
    module.def("functions", [] { return loaded().host.published_prototypes(); });
    module.def("table", [] {
        py::list rows;
        for (const zorvan::script_function& row : zorvan::script_functions) {
            py::dict fields;
            fields["name"] = std::string(row.name);
            fields["prototype"] = std::string(row.prototype);
            fields["python_name"] = std::string(row.python_name);
            fields["counter"] = std::string(row.counter);
            fields["silent"] = row.refuses == zorvan::refusal::silent;
            fields["summary"] = std::string(row.summary);
            fields["pixel_types"] = std::string(row.pixel_types);
            fields["sizes"] = std::string(row.sizes);
            rows.append(fields);
        }
        return rows;
    });
    module.def("type_codes", [] {
        py::dict codes;
        for (const dtype_row& row : kDtypes) codes[dtype_of(row.code)] = row.code;
        return codes;
    });
    module.def("counters", [] {
        py::dict counters;
        for (const auto& counter : Host::counters()) {
            counters[py::str(counter.name)] = py::make_tuple(counter.additions, counter.total_ms());
        }
        return counters;
    });
    module.def("object_counts", [] {
        const auto counts = Host::object_counts();
        py::dict out;
        out["images"] = counts.images;
        out["strings"] = counts.strings;
        out["functions"] = counts.functions;
        out["throwables"] = counts.throwables;
        out["script_objects"] = counts.script_objects;
        out["contexts"] = counts.contexts;
        out["data_locks"] = counts.data_locks;
        return out;
    });
    module.def("set_allocation_limit", [](std::uint64_t bytes) { loaded().host.set_allocation_limit(bytes); });
    module.def("shutdown", &shutdown);

    py::register_exception<zorvan::files::FileError>(module, "FileError", PyExc_OSError);
    module.def("read_image", &read_image_file, py::arg("path"));
    module.def("list_images", [](const std::string& path) {
        std::vector<zorvan::files::ImageSummary> summaries;
        {
            py::gil_scoped_release released;
            summaries = zorvan::files::list_images(path);
        }
        py::list out;
        for (const auto& summary : summaries) out.append(summary_dict(summary));
        return out;
    }, py::arg("path"));
    module.def("write_image", &write_image_file, py::arg("path"), py::arg("array"), py::arg("pixel_size"),
               py::arg("reciprocal"));
    module.def("pixel_size_from", [](double scale, const std::string& unit) {
        const zorvan::files::PixelSize size = zorvan::files::pixel_size_from(scale, unit);
        return py::make_tuple(size.value, size.reciprocal);
    }, py::arg("scale"), py::arg("unit"));
    module.def("keeps_calibration", [](const std::string& path, double pixel_size, bool reciprocal) {
        return zorvan::files::keeps_calibration(path, {pixel_size, reciprocal});
    }, py::arg("path"), py::arg("pixel_size"), py::arg("reciprocal"));
}
