// Calling a plug-in's function natively, with the argument and result
// types its prototype names, through libffi: no per-signature code.

#include "host/host_state.h"

#include <ffi.h>

#include <cmath>
#include <limits>

namespace zorvan::host::detail {

namespace {

// Native storage of one argument.
union NativeValue {
    std::int32_t long_value;
    double double_value;
    float float_value;
    void* pointer;
};

std::string describe_argument(const Prototype& prototype, std::size_t index) {
    const Parameter& parameter = prototype.parameters[index];
    return "Argument " + std::to_string(index + 1) + (parameter.name.empty() ? "" : " (" + parameter.name + ")") +
           " of " + prototype.name;
}

bool is_number(Arg::Kind kind) {
    return kind == Arg::Kind::long_ || kind == Arg::Kind::double_ || kind == Arg::Kind::float_ ||
           kind == Arg::Kind::double_ref;
}

ffi_type* ffi_type_of(ScriptType type) {
    switch (type) {
        case ScriptType::void_: return &ffi_type_void;
        case ScriptType::long_: return &ffi_type_sint32;
        case ScriptType::short_: return &ffi_type_sint16;
        case ScriptType::double_: return &ffi_type_double;
        case ScriptType::float_: return &ffi_type_float;
        case ScriptType::double_ref:
        case ScriptType::image:
        case ScriptType::image_ref: return &ffi_type_pointer;
        case ScriptType::other: return nullptr;
    }
    return nullptr;
}

}  // namespace

CallResult call_native(HostState& state, FunctionObject& function, std::vector<Arg>& args) {
    const Prototype& prototype = function.prototype;
    CallResult outcome;
    outcome.kind = prototype.result;
    auto refuse = [&outcome](std::string message) {
        outcome.error = ScriptError{0, 0, std::move(message)};
        return outcome;
    };

    if (function.implementation != FunctionObject::Implementation::native || function.address == nullptr) {
        return refuse("The function " + prototype.name + " cannot be called.");
    }
    if (args.size() != prototype.parameters.size()) {
        return refuse(prototype.name + " takes " + std::to_string(prototype.parameters.size()) + " arguments, not " +
                      std::to_string(args.size()) + ".");
    }
    ffi_type* result_type = ffi_type_of(prototype.result);
    if (result_type == nullptr || prototype.result == ScriptType::double_ref || prototype.result == ScriptType::image_ref ||
        prototype.result == ScriptType::float_ || prototype.variadic) {
        return refuse("The host cannot call " + prototype.name + ": its result type is not supported.");
    }

    const std::size_t count = args.size();
    std::vector<ffi_type*> types(count);
    std::vector<NativeValue> values(count);
    std::vector<void*> addresses(count);
    std::vector<double> doubles(count);          // targets of double * arguments
    std::vector<DM_Handle> slots(count, nullptr);  // targets of ImageRef* arguments
    std::vector<Ref<ImageObject>> slot_references(count);

    for (std::size_t i = 0; i < count; ++i) {
        const ScriptType type = prototype.parameters[i].script_type;
        const Arg& given = args[i];
        types[i] = ffi_type_of(type);
        addresses[i] = &values[i];
        switch (type) {
            case ScriptType::long_: {
                if (!is_number(given.kind())) return refuse(describe_argument(prototype, i) + " must be a number.");
                const double number = std::trunc(given.number());
                if (!(number >= std::numeric_limits<std::int32_t>::min() &&
                      number <= std::numeric_limits<std::int32_t>::max())) {
                    return refuse(describe_argument(prototype, i) + " does not fit a long.");
                }
                values[i].long_value = static_cast<std::int32_t>(number);
                break;
            }
            case ScriptType::double_:
                if (!is_number(given.kind())) return refuse(describe_argument(prototype, i) + " must be a number.");
                values[i].double_value = given.number();
                break;
            case ScriptType::float_:
                if (!is_number(given.kind())) return refuse(describe_argument(prototype, i) + " must be a number.");
                values[i].float_value = static_cast<float>(given.number());
                break;
            case ScriptType::double_ref:
                if (given.kind() != Arg::Kind::double_ref) {
                    return refuse(describe_argument(prototype, i) + " must be a number variable (Arg::out).");
                }
                doubles[i] = given.number();
                values[i].pointer = &doubles[i];
                break;
            case ScriptType::image:
                if (given.kind() != Arg::Kind::image && given.kind() != Arg::Kind::null_image &&
                    given.kind() != Arg::Kind::image_ref) {
                    return refuse(describe_argument(prototype, i) + " must be an image.");
                }
                values[i].pointer = given.image() ? given.image().handle() : nullptr;
                break;
            case ScriptType::image_ref:
                if (given.kind() != Arg::Kind::image_ref) {
                    return refuse(describe_argument(prototype, i) + " must be an image variable (Arg::slot).");
                }
                // The slot owns one reference while the function runs; the
                // function may release it and store a new one.
                if (given.image()) {
                    slot_references[i] = lookup_as<ImageObject>(static_cast<DM_Handle>(given.image().handle()), Kind::image);
                    slots[i] = slot_references[i].release_handle();
                }
                values[i].pointer = &slots[i];
                break;
            default:
                return refuse("The host cannot call " + prototype.name + ": parameter type \"" +
                              prototype.parameters[i].type + "\" is not supported.");
        }
    }

    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count), result_type, types.data()) != FFI_OK) {
        return refuse("The host cannot call " + prototype.name + ".");
    }

    ffi_arg returned = 0;  // integer results come back widened to a register
    void* returned_pointer = nullptr;
    void* result_address = prototype.result == ScriptType::image ? static_cast<void*>(&returned_pointer)
                                                                   : static_cast<void*>(&returned);
    {
        CallScope scope(state);
        ffi_call(&cif, FFI_FN(function.address), result_address, addresses.data());

        switch (prototype.result) {
            case ScriptType::image:
                outcome.image = Image::adopt_handle(returned_pointer);
                break;
            case ScriptType::short_:
                outcome.number = static_cast<std::int16_t>(static_cast<ffi_sarg>(returned));
                break;
            case ScriptType::long_:
                outcome.number = static_cast<std::int32_t>(static_cast<ffi_sarg>(returned));
                break;
            default:
                break;
        }
        outcome.raised = scope.context().raised();
        if (const auto pending = scope.context().pending()) outcome.error = state.error_of(*pending);
    }

    for (std::size_t i = 0; i < count; ++i) {
        const ScriptType type = prototype.parameters[i].script_type;
        if (type == ScriptType::double_ref) {
            args[i] = Arg::out(doubles[i]);
        } else if (type == ScriptType::image_ref) {
            // Whatever the slot holds now carries one reference for the caller;
            // the caller's previous image is released exactly once here.
            args[i] = Arg::slot(Image::adopt_handle(slots[i]));
        }
    }
    // A function that raised returns null; an image it returns anyway is
    // released here, and the break recorded, rather than handed on.
    if (outcome.error && outcome.image) {
        note_contract_break(prototype.name + " returned an image together with a script error");
        outcome.image = Image();
    }
    return outcome;
}

}  // namespace zorvan::host::detail
