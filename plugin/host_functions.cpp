#include "plugin/host_functions.h"

#include "plugin/errors.h"

#include <cstring>

namespace Gatan::PlugIn {

// ---- calling host functions by prototype ---------------------------------

namespace {

// Set while the plug-in composes the error for an unknown prototype, so
// that a host lacking NewThrowableFromString itself cannot recurse. One flag
// per process, not per thread: the host runs one call at a time, and the
// thread-local storage of a library unloaded again trips LeakSanitizer's
// scan at exit.
std::atomic<bool> g_composing_not_found{false};

constexpr char kNotFoundText[] = "A function of the following prototype can not be found:\n\n";

}  // namespace

HostFunction::HostFunction(const char* prototype) : prototype_(prototype), length_(std::strlen(prototype)) {}

HostFunction::~HostFunction() {
    if (DM_Handle cached = cached_.exchange(nullptr)) FunctionRef::adopt(cached).reset();
}

void HostFunction::call(DM_ScriptContext* given_context, DM_ArgSlot* slots, std::uint32_t slot_count) {
    boost::shared_ptr<DM_PlugInEnv> holder;
    DM_ScriptContext* context = given_context;
    if (context == nullptr) {
        holder = boost::shared_ptr<DM_PlugInEnv>(new DM_PlugInEnv());
        context = holder->context();
    }
    const char* begin = prototype_;
    const char* end = prototype_ + length_;

    if (cached_.load() == nullptr) {
        DM_Handle found = context->GetFunctionTable()->FindFunction(0, 0, 0, 0, begin, end);
        if (DM_Handle previous = cached_.exchange(found)) FunctionRef::adopt(previous).reset();
    }

    std::int32_t status;
    if (cached_.load() == nullptr) {
        if (!g_composing_not_found.exchange(true)) {
            try {
                const ThrowableRef error =
                    NewThrowableFromString(context, kNotFoundText + std::string(begin, end));
                context->RaiseThrowable(error.get());
            } catch (...) {
                g_composing_not_found = false;
                throw;
            }
            g_composing_not_found = false;
        }
        status = DM_CALL_NOT_FOUND;
    } else {
        status = context->CallFunction(cached_.load(), slot_count, slots);
    }

    if (status == DM_CALL_STALE) {
        const FunctionRef found = FunctionRef::adopt(context->GetFunctionTable()->FindFunction(0, 0, 0, 0, begin, end));
        if (found) {
            context->ClearPendingException();
            if (context->CallFunction(found.get(), slot_count, slots) == DM_CALL_OK) {
                if (DM_Handle previous = cached_.exchange(FunctionRef(found).release())) {
                    FunctionRef::adopt(previous).reset();
                }
                status = DM_CALL_OK;
            }
        }
    }

    if (status != DM_CALL_OK) {
        const ThrowableRef pending = ThrowableRef::adopt(context->GetPendingException());
        if (!pending) return;
        context->ClearPendingException();
        throw dmplugin_exception(pending.get());
    }
}

// ---- wrappers --------------------------------------------------------------

namespace {

// One host call with a result slot followed by the arguments.
template <std::size_t N>
struct Slots {
    DM_ArgSlot slot[N]{};
};

// A query with one image argument and a result slot.
template <class Result>
Result image_query(HostFunction& function, DM_Handle image) {
    Slots<2> s;
    slot_set(s.slot[1], image);
    function.call(nullptr, s.slot, 2);
    return slot_get<Result>(s.slot[0]);
}

// A query with an image and a 32-bit argument and a result slot.
template <class Result, class Argument>
Result image_query(HostFunction& function, DM_Handle image, Argument argument) {
    Slots<3> s;
    slot_set(s.slot[1], image);
    slot_set(s.slot[2], argument);
    function.call(nullptr, s.slot, 3);
    return slot_get<Result>(s.slot[0]);
}

}  // namespace

std::uint32_t ImageGetDataType(DM_Handle image) {
    static HostFunction function("uint32 ImageGetDataType( ImageRef )");
    return image_query<std::uint32_t>(function, image);
}

std::int16_t GetDataType(DM_Handle image) {
    static HostFunction function("short GetDataType( ImageRef )");
    return image_query<std::int16_t>(function, image);
}

std::uint32_t ImageGetNumDimensions(DM_Handle image) {
    static HostFunction function("uint32 ImageGetNumDimensions( ImageRef )");
    return image_query<std::uint32_t>(function, image);
}

std::uint32_t ImageGetDimensionSize(DM_Handle image, std::uint32_t dimension) {
    static HostFunction function("uint32 ImageGetDimensionSize( ImageRef, uint32 )");
    return image_query<std::uint32_t>(function, image, dimension);
}

std::uint32_t ImageGetDataElementByteSize(DM_Handle image) {
    static HostFunction function("uint32 ImageGetDataElementByteSize( ImageRef )");
    return image_query<std::uint32_t>(function, image);
}

bool IsRealDataType(DM_Handle image, std::int32_t bytes) {
    static HostFunction function("Boolean IsRealDataType( ImageRef, long )");
    return image_query<std::uint8_t>(function, image, bytes) != 0;
}

bool IsComplexDataType(DM_Handle image, std::int32_t bytes) {
    static HostFunction function("Boolean IsComplexDataType( ImageRef, long )");
    return image_query<std::uint8_t>(function, image, bytes) != 0;
}

bool ImageIsValid(DM_Handle image) {
    static HostFunction function("Boolean ImageIsValid( ImageRef )");
    return image_query<std::uint8_t>(function, image) != 0;
}

std::string ImageGetName(DM_Handle image) {
    static HostFunction function("dm_string ImageGetName( ImageRef )");
    const StringRef name = StringRef::adopt(image_query<DM_Handle>(function, image));
    return string_text(name.get());
}

ImageRef ImageClone(DM_Handle image) {
    static HostFunction function("ImageRef ImageClone( ImageRef )");
    return ImageRef::adopt(image_query<DM_Handle>(function, image));
}

void ImageDataChanged(DM_Handle image) {
    static HostFunction function("void ImageDataChanged( ImageRef )");
    Slots<1> s;
    slot_set(s.slot[0], image);
    function.call(nullptr, s.slot, 1);
}

void ConvertToFloat(DM_Handle image) {
    static HostFunction function("void ConvertToFloat( ImageRef )");
    Slots<1> s;
    slot_set(s.slot[0], image);
    function.call(nullptr, s.slot, 1);
}

ImageRef RealImage(const std::string& name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height) {
    static HostFunction function("RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )");
    const StringRef text = make_string(name);
    Slots<5> s;
    slot_set(s.slot[1], text.get());
    slot_set(s.slot[2], bytes);
    slot_set(s.slot[3], width);
    slot_set(s.slot[4], height);
    function.call(nullptr, s.slot, 5);
    return ImageRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

ImageRef ComplexImage(const char* name, std::int32_t bytes, std::int32_t width, std::int32_t height) {
    static HostFunction function("ComplexImagePtr ComplexImage( string, long, long, long )");
    Slots<5> s;
    slot_set(s.slot[1], name);
    slot_set(s.slot[2], bytes);
    slot_set(s.slot[3], width);
    slot_set(s.slot[4], height);
    function.call(nullptr, s.slot, 5);
    return ImageRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

ScriptObjectRef ImageGetLockedData(DM_Handle image, std::uint32_t flags, DM_Handle script_object) {
    static HostFunction function("ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )");
    Slots<4> s;
    slot_set(s.slot[1], image);
    slot_set(s.slot[2], flags);
    slot_set(s.slot[3], script_object);
    function.call(nullptr, s.slot, 4);
    return ScriptObjectRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

void ExtractImageDataSequenceFromScriptObjectOrFail(DM_Handle script_object,
                                                    boost::shared_ptr<DM_ImageDataSequence>* out) {
    static HostFunction function("void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )");
    Slots<2> s;
    slot_set(s.slot[0], script_object);
    slot_set(s.slot[1], static_cast<void*>(out));
    function.call(nullptr, s.slot, 2);
}

ThrowableRef NewThrowableFromString(DM_ScriptContext* context, const std::string& text) {
    static HostFunction function("Throwable NewThrowableFromString( dm_string )");
    const StringRef message = make_string(text);
    Slots<2> s;
    slot_set(s.slot[1], message.get());
    function.call(context, s.slot, 2);
    return ThrowableRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

FunctionRef NewAbstractMethod(DM_ScriptContext* context, const std::string& name, const std::string& prototype) {
    static HostFunction function("Function NewAbstractMethod( dm_string, dm_string )");
    const StringRef name_text = make_string(name);
    const StringRef prototype_text = make_string(prototype);
    Slots<3> s;
    slot_set(s.slot[1], name_text.get());
    slot_set(s.slot[2], prototype_text.get());
    function.call(context, s.slot, 3);
    return FunctionRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

FunctionRef ScriptClassAddMethod(DM_ScriptContext* context, DM_Handle script_class, DM_Handle method) {
    static HostFunction function("Function ScriptClassAddMethod( ScriptClass, Function )");
    Slots<3> s;
    slot_set(s.slot[1], script_class);
    slot_set(s.slot[2], method);
    function.call(context, s.slot, 3);
    return FunctionRef::adopt(slot_get<DM_Handle>(s.slot[0]));
}

}  // namespace Gatan::PlugIn
