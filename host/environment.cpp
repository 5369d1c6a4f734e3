#include "host/host_state.h"

#include "platform/foundation/foundation.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace zorvan::host::detail {

// ---- classes -----------------------------------------------------------------

void ObjectClassImpl::AddRef(DM_Handle object) {
    Ref<HostObject> found = lookup(object, kind_);
    if (!found) return note_bad_handle();
    found->add_ref();
}

void ObjectClassImpl::Release(DM_Handle object) {
    Ref<HostObject> found = lookup(object, kind_);
    if (!found) return note_bad_handle();
    found->release();  // the lookup's own reference keeps it alive until here
}

bool ObjectClassImpl::IsValid(DM_Handle object) { return static_cast<bool>(lookup(object, kind_)); }

bool ObjectClassImpl::IsSameObject(DM_Handle a, DM_Handle b) { return a == b && IsValid(a); }

DM_Handle ObjectClassImpl::CreateFromText(const char* begin, const char* end) {
    if ((begin == nullptr) != (end == nullptr) || end < begin) return nullptr;
    try {
        std::string text = begin ? std::string(begin, end) : std::string();
        if (kind_ == Kind::string) return Ref<StringObject>::adopt(new StringObject(std::move(text))).release_handle();
        if (kind_ == Kind::script_class) {
            return Ref<ScriptClassObject>::adopt(new ScriptClassObject(std::move(text))).release_handle();
        }
    } catch (...) {
    }
    return nullptr;
}

std::size_t ObjectClassImpl::CopyText(DM_Handle string, char* buffer, std::size_t capacity) {
    if (kind_ != Kind::string) return 0;
    const Ref<StringObject> found = lookup_as<StringObject>(string, Kind::string);
    if (!found) {
        note_bad_handle();
        return 0;
    }
    const std::size_t length = found->text.size();
    if (buffer != nullptr && capacity > 0) std::memcpy(buffer, found->text.data(), length < capacity ? length : capacity);
    return length;
}

// ---- script context ---------------------------------------------------------

ContextObject::ContextObject(HostState& state) : HostObject(Kind::context), state_(state), table_(state) {}

std::uint32_t ContextObject::AddRef() {
    add_ref();
    return 1;
}

std::uint32_t ContextObject::Release() {
    release();
    return 0;
}

void ContextObject::ClearPendingException() { pending_.reset(); }

DM_Handle ContextObject::NewThrowable(std::int32_t code, std::intptr_t parameter) {
    try {
        return Ref<ThrowableObject>::adopt(new ThrowableObject(code, parameter, describe_code(code, parameter)))
            .release_handle();
    } catch (...) {
        return nullptr;
    }
}

DM_Handle ContextObject::GetThrowableMessage(DM_Handle throwable) {
    const Ref<ThrowableObject> found = lookup_as<ThrowableObject>(throwable, Kind::throwable);
    if (!found) {
        note_bad_handle();
        return nullptr;
    }
    try {
        return Ref<StringObject>::adopt(new StringObject(found->message)).release_handle();
    } catch (...) {
        return nullptr;
    }
}

DM_Handle ContextObject::GetPendingException() { return Ref<ThrowableObject>(pending_).release_handle(); }

void ContextObject::RaiseThrowable(DM_Handle throwable) {
    Ref<ThrowableObject> found = lookup_as<ThrowableObject>(throwable, Kind::throwable);
    if (!found) return note_bad_handle();
    pending_ = std::move(found);
    ++raised_;
}

std::int32_t ContextObject::fail(const std::string& message) {
    try {
        pending_ = Ref<ThrowableObject>::adopt(new ThrowableObject(0, 0, message));
    } catch (...) {
        pending_.reset();
    }
    return DM_CALL_FAILED;
}

std::int32_t ContextObject::CallFunction(DM_Handle function, std::uint32_t slot_count, DM_ArgSlot* slots) {
    const Ref<FunctionObject> found = lookup_as<FunctionObject>(function, Kind::function);
    if (!found) {
        note_bad_handle();
        return fail("The function handle is not valid.");
    }
    if (found->stale.load()) {
        fail("The function handle is out of date.");
        return DM_CALL_STALE;
    }
    if (found->implementation != FunctionObject::Implementation::builtin) {
        return fail("The function " + found->prototype.name + " cannot be called through argument slots.");
    }
    if (slots == nullptr || slot_count != found->slot_count) {
        return fail("Wrong number of argument slots for " + found->prototype.name + ".");
    }
    try {
        return found->builtin(*this, slots);
    } catch (const std::bad_alloc&) {
        return fail("Out of memory.");
    } catch (const std::exception& error) {
        return fail(error.what());
    } catch (...) {
        return fail("Unknown host error.");
    }
}

void ContextObject::GetThrowableCode(DM_Handle throwable, std::int32_t* code, std::intptr_t* parameter) {
    const Ref<ThrowableObject> found = lookup_as<ThrowableObject>(throwable, Kind::throwable);
    if (!found) note_bad_handle();
    if (code != nullptr) *code = found ? found->code : 0;
    if (parameter != nullptr) *parameter = found ? found->parameter : 0;
}

DM_Handle ContextObject::Table::FindFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                             const char* begin, const char* end) {
    if (begin == nullptr || end < begin) return nullptr;
    return state_.find(std::string_view(begin, static_cast<std::size_t>(end - begin)), true).release_handle();
}

// ---- environment ------------------------------------------------------------

std::uint32_t EnvironmentImpl::GetVersion() { return state_.version.load(); }

DM_ScriptContext* EnvironmentImpl::GetContext() {
    if (ContextObject* current = state_.current_context) {
        current->add_ref();
        return current;
    }
    try {
        return new ContextObject(state_);
    } catch (...) {
        return nullptr;
    }
}

DM_ObjectClass* EnvironmentImpl::GetClass(std::uint32_t, const char* name) { return state_.class_named(name); }

void EnvironmentImpl::RemoveFunction(DM_Handle function) {
    const Ref<FunctionObject> found = lookup_as<FunctionObject>(function, Kind::function);
    if (!found) return note_bad_handle();
    std::lock_guard lock(state_.table_mutex);
    state_.removed.push_back(found->prototype_text);
    auto& published = state_.published;
    for (auto it = published.begin(); it != published.end();) {
        it = it->get() == found.get() ? published.erase(it) : it + 1;
    }
    auto entry = state_.by_prototype.find(found->prototype_text);
    if (entry != state_.by_prototype.end() && entry->second.get() == found.get()) state_.by_prototype.erase(entry);
}

DM_Handle EnvironmentImpl::CreateFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                          const char* begin, const char* end, const DM_FunctionDescriptor* descriptor) {
    if (begin == nullptr || end < begin || descriptor == nullptr) return nullptr;
    if (descriptor->call_kind != DM_CALL_KIND_NATIVE || descriptor->address == nullptr) return nullptr;
    try {
        std::string text(begin, end);
        std::optional<Prototype> parsed = parse_prototype(text);
        if (!parsed) return nullptr;
        auto function = Ref<FunctionObject>::adopt(
            new FunctionObject(std::move(text), std::move(*parsed), FunctionObject::Implementation::native));
        function->address = descriptor->address;
        return function.release_handle();
    } catch (...) {
        return nullptr;
    }
}

void EnvironmentImpl::PublishFunction(std::uintptr_t, std::uintptr_t, DM_Handle function) {
    Ref<FunctionObject> found = lookup_as<FunctionObject>(function, Kind::function);
    if (!found) return note_bad_handle();
    try {
        std::lock_guard lock(state_.table_mutex);
        for (const auto& entry : state_.published) {
            if (entry.get() == found.get()) return;
        }
        state_.published.push_back(found);
        state_.by_prototype[found->prototype_text] = found;
    } catch (...) {
    }
}

// ---- host state ----------------------------------------------------------------

std::string describe_code(std::int32_t code, std::intptr_t parameter) {
    char text[96];
    switch (code) {
        case Gatan::kExceptionTextCode: {
            std::string message;
            if (Gatan::take_exception_text(parameter, message)) return message;
            return "An exception occurred in a plug-in.";
        }
        case 0x7082:
            return "The plug-in reported an error.";
        case 0x7083:
            return "An unknown exception occurred in a plug-in.";
        case 0x708B:
            std::snprintf(text, sizeof text, "A COM error occurred in a plug-in (HRESULT 0x%08X).",
                          static_cast<unsigned>(static_cast<std::uint32_t>(parameter)));
            return text;
        default:
            std::snprintf(text, sizeof text, "Error 0x%X (parameter %lld).", static_cast<unsigned>(code),
                          static_cast<long long>(parameter));
            return text;
    }
}

HostState::HostState() { register_builtins(*this); }

HostState::~HostState() = default;

DM_ObjectClass* HostState::class_named(const char* name) {
    if (name == nullptr) return nullptr;
    constexpr const char* names[] = {DM_CLASS_IMAGE,    DM_CLASS_SCRIPT_OBJECT, DM_CLASS_STRING,
                                     DM_CLASS_FUNCTION, DM_CLASS_THROWABLE,     DM_CLASS_SCRIPT_CLASS};
    for (int i = 0; i < 6; ++i) {
        if (std::strcmp(name, names[i]) == 0) return &classes_[i];
    }
    return nullptr;
}

void HostState::add_builtin(const char* prototype, Builtin builtin) {
    std::optional<Prototype> parsed = parse_prototype(prototype);
    auto function = Ref<FunctionObject>::adopt(
        new FunctionObject(prototype, std::move(*parsed), FunctionObject::Implementation::builtin));
    function->builtin = builtin;
    function->slot_count = static_cast<std::uint32_t>(function->prototype.parameters.size() +
                                                      (function->prototype.result == ScriptType::void_ ? 0 : 1));
    std::lock_guard lock(table_mutex);
    by_prototype[function->prototype_text] = function;
}

Ref<FunctionObject> HostState::find(std::string_view prototype, bool count_lookup) {
    std::lock_guard lock(table_mutex);
    if (count_lookup) {
        auto counted = lookups.find(prototype);
        if (counted == lookups.end()) counted = lookups.emplace(std::string(prototype), 0).first;
        ++counted->second;
    }
    auto entry = by_prototype.find(prototype);
    return entry == by_prototype.end() ? Ref<FunctionObject>() : entry->second;
}

Ref<FunctionObject> HostState::find_published(std::string_view name) const {
    std::lock_guard lock(table_mutex);
    for (auto it = published.rbegin(); it != published.rend(); ++it) {
        if ((*it)->prototype.name == name) return *it;
    }
    return {};
}

std::string HostState::check_new_image(std::int32_t data_type, const std::vector<std::uint64_t>& sizes) const {
    const std::uint32_t bytes = dm::bytes_of(data_type);
    if (bytes == 0) return "The host holds no images of data type " + std::to_string(data_type) + ".";
    if (sizes.empty() || sizes.size() > 4) return "An image has 1 to 4 dimensions.";
    std::uint64_t total = bytes;
    for (std::uint64_t size : sizes) {
        if (size == 0) return "An image dimension cannot be 0.";
        if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            return "An image dimension cannot exceed 2147483647 (a negative size?).";
        }
        if (total > allocation_limit.load() / size) return "The image is too large to allocate.";
        total *= size;
    }
    return {};
}

ScriptError HostState::error_of(const ThrowableObject& throwable) const {
    return ScriptError{throwable.code, throwable.parameter, throwable.message};
}

std::recursive_mutex& HostState::call_mutex() {
    static std::recursive_mutex* const mutex = new std::recursive_mutex;  // never destroyed
    return *mutex;
}

CallScope::CallScope(HostState& state) : lock(HostState::call_mutex()), state(state) {
    context_ = Ref<ContextObject>::adopt(new ContextObject(state));
    previous = state.current_context;
    state.current_context = context_.get();
}

CallScope::~CallScope() { state.current_context = previous; }

}  // namespace zorvan::host::detail
