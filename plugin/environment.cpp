#include "plugin/environment.h"

#include <atomic>
#include <cstdint>

namespace Gatan::PlugIn {

namespace {

// ---- the null environment: every operation does nothing ----------------

class NullClass final : public DM_ObjectClass {
public:
    void AddRef(DM_Handle) override {}
    void Release(DM_Handle) override {}
    bool IsValid(DM_Handle) override { return false; }
    bool IsSameObject(DM_Handle, DM_Handle) override { return false; }
    DM_Handle CreateFromText(const char*, const char*) override { return nullptr; }
    std::size_t CopyText(DM_Handle, char*, std::size_t) override { return 0; }
};

class NullFunctionTable final : public DM_FunctionTable {
public:
    DM_Handle FindFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t, const char*,
                           const char*) override {
        return nullptr;
    }
};

class NullContext final : public DM_ScriptContext {
public:
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    void ClearPendingException() override {}
    DM_Handle NewThrowable(std::int32_t, std::intptr_t) override { return nullptr; }
    DM_Handle GetThrowableMessage(DM_Handle) override { return nullptr; }
    DM_Handle GetPendingException() override { return nullptr; }
    void RaiseThrowable(DM_Handle) override {}
    std::int32_t CallFunction(DM_Handle, std::uint32_t, DM_ArgSlot*) override { return DM_CALL_OK; }
    DM_FunctionTable* GetFunctionTable() override { return &table_; }
    void GetThrowableCode(DM_Handle, std::int32_t* code, std::intptr_t* parameter) override {
        if (code) *code = 0;
        if (parameter) *parameter = 0;
    }

private:
    NullFunctionTable table_;
};

class NullEnvironment final : public DM_HostEnv {
public:
    std::uint32_t AddRef() override { return 1; }
    std::uint32_t Release() override { return 1; }
    std::uint32_t GetVersion() override { return 0; }
    DM_ScriptContext* GetContext() override { return &context_; }
    DM_ObjectClass* GetClass(std::uint32_t, const char*) override { return &class_; }
    void RemoveFunction(DM_Handle) override {}
    DM_Handle CreateFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t, const char*,
                             const char*, const DM_FunctionDescriptor*) override {
        return nullptr;
    }
    void PublishFunction(std::uintptr_t, std::uintptr_t, DM_Handle) override {}
    DM_ObjectClass* null_class() { return &class_; }

private:
    NullContext context_;
    NullClass class_;
};

// Constant-initialised with a trivial destructor: the environment state
// stays usable while other process-wide objects are destroyed at unload.
constinit NullEnvironment g_null_environment;

NullEnvironment& null_environment() { return g_null_environment; }

DM_HostEnv* g_pending_link = nullptr;
DM_HostEnv* g_current = nullptr;
std::atomic<std::int32_t> g_env_references{0};
LinkListener* g_listeners = nullptr;

void set_current(DM_HostEnv* environment) {
    if (environment == g_current) return;
    if (environment != nullptr) environment->AddRef();
    DM_HostEnv* previous = g_current;
    g_current = environment;
    if (previous != nullptr) previous->Release();
}

// ---- host class holders --------------------------------------------------

constexpr const char* kClassNames[] = {DM_CLASS_IMAGE,    DM_CLASS_SCRIPT_OBJECT, DM_CLASS_STRING,
                                       DM_CLASS_FUNCTION, DM_CLASS_THROWABLE,     DM_CLASS_SCRIPT_CLASS};
constexpr int kClassCount = sizeof kClassNames / sizeof kClassNames[0];

struct ClassHolder {
    DM_ObjectClass* interface_ = nullptr;
    bool listening = false;
};
ClassHolder g_classes[kClassCount];

DM_ObjectClass* fetch_class(DM_HostEnv* environment, int index) {
    DM_ObjectClass* found = environment ? environment->GetClass(0, kClassNames[index]) : nullptr;
    return found ? found : null_environment().null_class();
}

void refetch_classes(DM_HostEnv* environment) {
    for (int index = 0; index < kClassCount; ++index) {
        if (g_classes[index].listening) g_classes[index].interface_ = fetch_class(environment, index);
    }
}

LinkListener g_class_listener{&refetch_classes, nullptr};
bool g_class_listener_added = false;  // the node is static: pushed once only

}  // namespace

void set_pending_link(DM_HostEnv* environment) {
    if (environment == g_pending_link) return;
    if (environment != nullptr) environment->AddRef();
    DM_HostEnv* previous = g_pending_link;
    g_pending_link = environment;
    if (previous != nullptr) previous->Release();
}

void add_link_listener(LinkListener* listener) {
    listener->next = g_listeners;
    g_listeners = listener;
}

DM_HostEnv* current_environment() { return g_current; }

DM_ObjectClass* host_class(HostClass id) {
    const int index = static_cast<int>(id);
    ClassHolder& holder = g_classes[index];
    if (!holder.listening) {
        if (g_current == nullptr) return null_environment().null_class();
        holder.interface_ = fetch_class(g_current, index);
        holder.listening = true;
        if (!g_class_listener_added) {
            add_link_listener(&g_class_listener);
            g_class_listener_added = true;
        }
    }
    return holder.interface_;
}

DM_EnvRef::DM_EnvRef() {
    if (++g_env_references == 1) set_current(&null_environment());
}

DM_EnvRef::~DM_EnvRef() {
    if (--g_env_references == 0) {
        DM_HostEnv* previous = g_current;
        g_current = nullptr;
        if (previous != nullptr) previous->Release();
        for (auto& holder : g_classes) holder = ClassHolder{};
    }
}

void DM_EnvRef::Link() {
    if (linked_) return;
    DM_HostEnv* link = g_pending_link;
    g_pending_link = nullptr;
    DM_HostEnv* adopted = link ? link : &null_environment();
    set_current(adopted);
    for (LinkListener* listener = g_listeners; listener != nullptr; listener = listener->next) {
        listener->on_link(g_current);
    }
    linked_ = true;
    if (link != nullptr) link->Release();
}

DM_PlugInEnv::DM_PlugInEnv(DM_ScriptContext* borrowed) : context_(borrowed) {
    if (context_ != nullptr) {
        context_->AddRef();
        return;
    }
    DM_HostEnv* environment = current_environment();
    context_ = environment ? environment->GetContext() : nullptr;
    if (context_ == nullptr) context_ = null_environment().GetContext();
}

DM_PlugInEnv::~DM_PlugInEnv() { context_->Release(); }

}  // namespace Gatan::PlugIn
