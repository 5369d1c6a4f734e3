// The host's own script functions that a plug-in calls by prototype. Each
// reads its arguments from the slots, checks every handle and size, and
// answers a status: it never throws across the slot interface and never
// answers a size of 0.

#include "host/host_state.h"

#include <cmath>
#include <cstring>

namespace zorvan::host::detail {

namespace {

template <class T>
T arg(const DM_ArgSlot& slot) {
    T value;
    std::memcpy(&value, slot.bytes, sizeof(T));
    return value;
}

template <class T>
void result(DM_ArgSlot& slot, T value) {
    std::memset(slot.bytes, 0, sizeof slot.bytes);
    std::memcpy(slot.bytes, &value, sizeof(T));
}

void result_bool(DM_ArgSlot& slot, bool value) { result<std::uint8_t>(slot, value ? 1 : 0); }

Ref<ImageObject> image_arg(const DM_ArgSlot& slot) { return lookup_as<ImageObject>(arg<DM_Handle>(slot), Kind::image); }

constexpr const char* kNotAnImage = "The argument is not a valid image.";

std::int32_t data_type_of(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    result<std::uint32_t>(slots[0], static_cast<std::uint32_t>(image->data_type()));
    return DM_CALL_OK;
}

std::int32_t short_data_type_of(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    result<std::int16_t>(slots[0], static_cast<std::int16_t>(image->data_type()));
    return DM_CALL_OK;
}

std::int32_t num_dimensions(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    result<std::uint32_t>(slots[0], static_cast<std::uint32_t>(image->sizes().size()));
    return DM_CALL_OK;
}

// A dimension the image lacks has size 1.
std::int32_t dimension_size(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    const auto dimension = arg<std::uint32_t>(slots[2]);
    const auto& sizes = image->sizes();
    result<std::uint32_t>(slots[0], dimension < sizes.size() ? static_cast<std::uint32_t>(sizes[dimension]) : 1u);
    return DM_CALL_OK;
}

std::int32_t element_size(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    result<std::uint32_t>(slots[0], image->element_bytes());
    return DM_CALL_OK;
}

std::int32_t is_real(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    const auto bytes = arg<std::int32_t>(slots[2]);
    const dm::pixel_type& type = *dm::find_pixel_type(image->data_type());
    result_bool(slots[0], type.kind == dm::pixel_kind::real && static_cast<std::int64_t>(type.bytes) == bytes);
    return DM_CALL_OK;
}

std::int32_t is_complex(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    const auto bytes = arg<std::int32_t>(slots[2]);
    const dm::pixel_type& type = *dm::find_pixel_type(image->data_type());
    result_bool(slots[0], type.kind == dm::pixel_kind::complex && static_cast<std::int64_t>(type.bytes) == bytes);
    return DM_CALL_OK;
}

std::int32_t is_valid(ContextObject&, DM_ArgSlot* slots) {
    result_bool(slots[0], static_cast<bool>(image_arg(slots[1])));
    return DM_CALL_OK;
}

std::int32_t image_name(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    result(slots[0], Ref<StringObject>::adopt(new StringObject(image->name())).release_handle());
    return DM_CALL_OK;
}

std::int32_t clone(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    const std::string refusal = context.state().check_new_image(image->data_type(), image->sizes());
    if (!refusal.empty()) return context.fail(refusal);
    auto copy = Ref<ImageObject>::adopt(new ImageObject(*image, image->name()));
    result(slots[0], copy.release_handle());
    return DM_CALL_OK;
}

std::int32_t data_changed(ContextObject& context, DM_ArgSlot* slots) {
    const auto image = image_arg(slots[0]);
    if (!image) return context.fail(kNotAnImage);
    image->note_data_changed();
    return DM_CALL_OK;
}

// Real, integer and binary images become 4-byte real; complex ones keep
// their real part.
std::int32_t to_float(ContextObject& context, DM_ArgSlot* slots) {
    namespace type = dm::data_type;
    using convertible = dm::codes<type::int16, type::uint8, type::int32, type::int8, type::uint16, type::uint32,
                                  type::real8, type::binary, type::complex8, type::complex16>;
    const auto image = image_arg(slots[0]);
    if (!image) return context.fail(kNotAnImage);
    if (image->active_locks() > 0) return context.fail("A locked image cannot change its data type.");
    if (image->data_type() == type::real4) return DM_CALL_OK;
    const std::string refusal = context.state().check_new_image(type::real4, image->sizes());
    if (!refusal.empty()) return context.fail(refusal);
    auto storage = ImageObject::allocate(image->element_count() * sizeof(float));
    auto* out = static_cast<float*>(storage.get());
    const bool converted = dm::dispatch(
        convertible{}, image->data_type(),
        [&]<class T>() {
            const auto* in = static_cast<const T*>(image->data());
            for (std::uint64_t i = 0, n = image->element_count(); i < n; ++i) {
                if constexpr (dm::is_complex_v<T>) out[i] = static_cast<float>(in[i].re);
                else out[i] = static_cast<float>(in[i]);
            }
            return true;
        },
        [] { return false; });
    if (!converted) return context.fail("Images of this data type cannot be converted to real.");
    void* data = storage.get();
    image->replace_storage(type::real4, std::move(storage), data);
    return DM_CALL_OK;
}

std::int32_t make_2d(ContextObject& context, DM_ArgSlot& out, std::int32_t type, std::int64_t width,
                     std::int64_t height, std::string name) {
    if (width <= 0 || height <= 0) return context.fail("An image dimension must be at least 1.");
    const std::vector<std::uint64_t> sizes{static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)};
    const std::string refusal = context.state().check_new_image(type, sizes);
    if (!refusal.empty()) return context.fail(refusal);
    result(out, Ref<ImageObject>::adopt(new ImageObject(type, sizes, std::move(name))).release_handle());
    return DM_CALL_OK;
}

std::int32_t real_image(ContextObject& context, DM_ArgSlot* slots) {
    const auto name = lookup_as<StringObject>(arg<DM_Handle>(slots[1]), Kind::string);
    if (!name) return context.fail("The image name is not a valid string.");
    const auto bytes = arg<std::uint32_t>(slots[2]);
    if (bytes != 4 && bytes != 8) return context.fail("A real image has 4 or 8 bytes per element.");
    const auto width = arg<std::uint32_t>(slots[3]);
    const auto height = arg<std::uint32_t>(slots[4]);
    return make_2d(context, slots[0], bytes == 4 ? dm::data_type::real4 : dm::data_type::real8, width, height,
                   name->text);
}

std::int32_t complex_image(ContextObject& context, DM_ArgSlot* slots) {
    const char* name = arg<const char*>(slots[1]);
    const auto bytes = arg<std::int32_t>(slots[2]);
    if (bytes != 8 && bytes != 16) return context.fail("A complex image has 8 or 16 bytes per element.");
    const auto width = arg<std::int32_t>(slots[3]);
    const auto height = arg<std::int32_t>(slots[4]);
    return make_2d(context, slots[0], bytes == 8 ? dm::data_type::complex8 : dm::data_type::complex16, width, height,
                   name ? name : "");
}

std::int32_t locked_data(ContextObject& context, DM_ArgSlot* slots) {
    auto image = image_arg(slots[1]);
    if (!image) return context.fail(kNotAnImage);
    const auto flags = arg<std::uint32_t>(slots[2]);
    boost::shared_ptr<DM_ImageDataSequence> locked(new LockedData(std::move(image), flags));
    result(slots[0], Ref<ScriptObjectObject>::adopt(new ScriptObjectObject(std::move(locked))).release_handle());
    return DM_CALL_OK;
}

std::int32_t extract_sequence(ContextObject& context, DM_ArgSlot* slots) {
    const auto object = lookup_as<ScriptObjectObject>(arg<DM_Handle>(slots[0]), Kind::script_object);
    if (!object || !object->locked) return context.fail("The object holds no locked image data.");
    auto* out = arg<boost::shared_ptr<DM_ImageDataSequence>*>(slots[1]);
    if (out == nullptr) return context.fail("No place was given for the image data.");
    *out = object->locked;
    return DM_CALL_OK;
}

std::int32_t throwable_from_string(ContextObject& context, DM_ArgSlot* slots) {
    const auto text = lookup_as<StringObject>(arg<DM_Handle>(slots[1]), Kind::string);
    if (!text) return context.fail("The message is not a valid string.");
    result(slots[0], Ref<ThrowableObject>::adopt(new ThrowableObject(0, 0, text->text)).release_handle());
    return DM_CALL_OK;
}

std::int32_t abstract_method(ContextObject& context, DM_ArgSlot* slots) {
    const auto name = lookup_as<StringObject>(arg<DM_Handle>(slots[1]), Kind::string);
    const auto prototype = lookup_as<StringObject>(arg<DM_Handle>(slots[2]), Kind::string);
    if (!name || !prototype) return context.fail("The method name or prototype is not a valid string.");
    Prototype parsed;
    if (auto found = parse_prototype(prototype->text)) parsed = std::move(*found);
    parsed.name = name->text;
    result(slots[0], Ref<FunctionObject>::adopt(new FunctionObject(prototype->text, std::move(parsed),
                                                                   FunctionObject::Implementation::abstract))
                         .release_handle());
    return DM_CALL_OK;
}

std::int32_t add_method(ContextObject& context, DM_ArgSlot* slots) {
    const auto script_class = lookup_as<ScriptClassObject>(arg<DM_Handle>(slots[1]), Kind::script_class);
    auto method = lookup_as<FunctionObject>(arg<DM_Handle>(slots[2]), Kind::function);
    if (!script_class || !method) return context.fail("The script class or the method is not valid.");
    {
        std::lock_guard lock(script_class->mutex);
        script_class->methods.push_back(method);
    }
    result(slots[0], method.release_handle());
    return DM_CALL_OK;
}

}  // namespace

void register_builtins(HostState& state) {
    state.add_builtin("uint32 ImageGetDataType( ImageRef )", &data_type_of);
    state.add_builtin("short GetDataType( ImageRef )", &short_data_type_of);
    state.add_builtin("uint32 ImageGetNumDimensions( ImageRef )", &num_dimensions);
    state.add_builtin("uint32 ImageGetDimensionSize( ImageRef, uint32 )", &dimension_size);
    state.add_builtin("uint32 ImageGetDataElementByteSize( ImageRef )", &element_size);
    state.add_builtin("Boolean IsRealDataType( ImageRef, long )", &is_real);
    state.add_builtin("Boolean IsComplexDataType( ImageRef, long )", &is_complex);
    state.add_builtin("Boolean ImageIsValid( ImageRef )", &is_valid);
    state.add_builtin("dm_string ImageGetName( ImageRef )", &image_name);
    state.add_builtin("ImageRef ImageClone( ImageRef )", &clone);
    state.add_builtin("void ImageDataChanged( ImageRef )", &data_changed);
    state.add_builtin("void ConvertToFloat( ImageRef )", &to_float);
    state.add_builtin("RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )", &real_image);
    state.add_builtin("ComplexImagePtr ComplexImage( string, long, long, long )", &complex_image);
    state.add_builtin("ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )", &locked_data);
    state.add_builtin("void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )", &extract_sequence);
    state.add_builtin("Throwable NewThrowableFromString( dm_string )", &throwable_from_string);
    state.add_builtin("Function NewAbstractMethod( dm_string, dm_string )", &abstract_method);
    state.add_builtin("Function ScriptClassAddMethod( ScriptClass, Function )", &add_method);
}

}  // namespace zorvan::host::detail
