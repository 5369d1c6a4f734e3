#pragma once
// The host's inner state: its environment, classes, script contexts and
// function table, as the plug-in sees them through the interface slots.

#include "host/host.h"
#include "host/objects.h"

#include <map>
#include <mutex>

namespace zorvan::host::detail {

class HostState;

class ObjectClassImpl final : public DM_ObjectClass {
public:
    explicit ObjectClassImpl(Kind kind) : kind_(kind) {}
    void AddRef(DM_Handle object) override;
    void Release(DM_Handle object) override;
    bool IsValid(DM_Handle object) override;
    bool IsSameObject(DM_Handle a, DM_Handle b) override;
    DM_Handle CreateFromText(const char* begin, const char* end) override;
    std::size_t CopyText(DM_Handle string, char* buffer, std::size_t capacity) override;

private:
    Kind kind_;
};

class ContextObject final : public HostObject, public DM_ScriptContext {
public:
    explicit ContextObject(HostState& state);

    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    void ClearPendingException() override;
    DM_Handle NewThrowable(std::int32_t code, std::intptr_t parameter) override;
    DM_Handle GetThrowableMessage(DM_Handle throwable) override;
    DM_Handle GetPendingException() override;
    void RaiseThrowable(DM_Handle throwable) override;
    std::int32_t CallFunction(DM_Handle function, std::uint32_t slot_count, DM_ArgSlot* slots) override;
    DM_FunctionTable* GetFunctionTable() override { return &table_; }
    void GetThrowableCode(DM_Handle throwable, std::int32_t* code, std::intptr_t* parameter) override;

    // Makes `message` the pending exception; answers DM_CALL_FAILED.
    std::int32_t fail(const std::string& message);
    HostState& state() { return state_; }
    Ref<ThrowableObject> pending() const { return pending_; }
    int raised() const { return raised_; }

private:
    class Table final : public DM_FunctionTable {
    public:
        explicit Table(HostState& state) : state_(state) {}
        DM_Handle FindFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t, const char* begin,
                               const char* end) override;

    private:
        HostState& state_;
    };

    HostState& state_;
    Table table_;
    Ref<ThrowableObject> pending_;
    int raised_ = 0;
};

class EnvironmentImpl final : public DM_HostEnv {
public:
    explicit EnvironmentImpl(HostState& state) : state_(state) {}
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++references_); }
    std::uint32_t Release() override { return static_cast<std::uint32_t>(--references_); }
    std::uint32_t GetVersion() override;
    DM_ScriptContext* GetContext() override;
    DM_ObjectClass* GetClass(std::uint32_t, const char* name) override;
    void RemoveFunction(DM_Handle function) override;
    DM_Handle CreateFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t, const char* begin,
                             const char* end, const DM_FunctionDescriptor* descriptor) override;
    void PublishFunction(std::uintptr_t, std::uintptr_t, DM_Handle function) override;
    std::int64_t references() const { return references_.load(); }

private:
    HostState& state_;
    std::atomic<std::int64_t> references_{0};  // held by the plug-in only
};

// The script message of a Throwable made from a code and a parameter.
std::string describe_code(std::int32_t code, std::intptr_t parameter);

class HostState {
public:
    HostState();
    ~HostState();

    EnvironmentImpl environment{*this};
    std::atomic<std::uint32_t> version{0x030A0000};
    std::atomic<std::uint64_t> allocation_limit{std::uint64_t{8} << 30};

    DM_ObjectClass* class_named(const char* name);

    // Serialises every call into the plug-in, whoever makes it: one lock
    // per process, since the plug-in's caches and buffers are process-wide.
    static std::recursive_mutex& call_mutex();
    // The context of the call in progress (guarded by call_mutex).
    ContextObject* current_context = nullptr;

    // Function table.
    mutable std::mutex table_mutex;
    std::map<std::string, Ref<FunctionObject>, std::less<>> by_prototype;
    std::vector<Ref<FunctionObject>> published;  // in order of publication
    std::map<std::string, std::uint64_t, std::less<>> lookups;
    std::vector<std::string> removed;  // prototypes, in order of removal

    void add_builtin(const char* prototype, Builtin builtin);
    Ref<FunctionObject> find(std::string_view prototype, bool count_lookup);
    Ref<FunctionObject> find_published(std::string_view name) const;

    mutable std::mutex errors_mutex;
    std::vector<ScriptError> lifecycle_errors;

    // Checks sizes against the host's limits; the empty text when acceptable.
    std::string check_new_image(std::int32_t data_type, const std::vector<std::uint64_t>& sizes) const;

    ScriptError error_of(const ThrowableObject& throwable) const;

private:
    ObjectClassImpl classes_[6] = {ObjectClassImpl(Kind::image),    ObjectClassImpl(Kind::script_object),
                                   ObjectClassImpl(Kind::string),   ObjectClassImpl(Kind::function),
                                   ObjectClassImpl(Kind::throwable), ObjectClassImpl(Kind::script_class)};
};

// Runs `work` as one call into the plug-in: under the host's lock, with a
// fresh current context; answers the Throwable left pending, if any.
struct CallScope {
    explicit CallScope(HostState& state);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    ContextObject& context() { return *context_; }

    std::unique_lock<std::recursive_mutex> lock;
    HostState& state;
    Ref<ContextObject> context_;
    ContextObject* previous;
};

void register_builtins(HostState& state);

// Calls a native plug-in function with script arguments (libffi).
CallResult call_native(HostState& state, FunctionObject& function, std::vector<Arg>& args);

}  // namespace zorvan::host::detail
