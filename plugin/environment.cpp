#include "plugin/PlugInUtility.h"

#include "plugin/ImageUtility.h"
#include "plugin/errors.h"
#include "plugin/timing.h"
#include "plugin/utility_libraries.h"

#include <atomic>

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

DM_PlugInEnv::DM_PlugInEnv() : context_(nullptr) {
    DM_HostEnv* environment = current_environment();
    context_ = environment ? environment->GetContext() : nullptr;
    if (context_ == nullptr) context_ = null_environment().GetContext();
}

DM_PlugInEnv::~DM_PlugInEnv() { context_->Release(); }

ScopedContext::ScopedContext() : context_(nullptr) {
    DM_HostEnv* environment = current_environment();
    context_ = environment ? environment->GetContext() : nullptr;
    if (context_ == nullptr) context_ = null_environment().GetContext();
}

ScopedContext::ScopedContext(DM_ScriptContext* borrowed) : context_(borrowed) {
    if (context_ == nullptr) {
        DM_HostEnv* environment = current_environment();
        context_ = environment ? environment->GetContext() : nullptr;
        if (context_ == nullptr) context_ = null_environment().GetContext();
    } else {
        context_->AddRef();
    }
}

ScopedContext::~ScopedContext() { context_->Release(); }

// ---- the plug-in object ---------------------------------------------------

namespace {
PlugInMain* g_plugin = nullptr;
}

PlugInMain::PlugInMain() { g_plugin = this; }

PlugInMain::~PlugInMain() {
    RemoveAllFunctions();
    if (g_plugin == this) g_plugin = nullptr;
}

DM_Handle PlugInMain::AddFunction(const char* prototype_begin, const char* prototype_end, void* address) {
    const DM_FunctionDescriptor descriptor{DM_CALL_KIND_NATIVE, address};
    DM_HostEnv* environment = current_environment();
    if (environment == nullptr) return nullptr;
    DM_Handle function = environment->CreateFunction(0, 0, 0, 0, prototype_begin, prototype_end, &descriptor);
    FunctionRef created = FunctionRef::adopt(function);
    environment->PublishFunction(0, 0, function);
    functions_.push_back(nullptr);
    functions_.back() = FunctionRef(function).release();
    return created.release();
}

void PlugInMain::RemoveAllFunctions() { remove_functions_last_first(functions_); }

void remove_functions_last_first(std::vector<DM_Handle>& functions) {
    while (!functions.empty()) {
        DM_Handle function = functions.back();
        if (DM_HostEnv* environment = current_environment()) environment->RemoveFunction(function);
        FunctionRef::adopt(function).reset();
        functions.pop_back();
    }
}

PlugInMain* plugin_object() {
    if (g_plugin == nullptr) {
        static PlugInMain default_object;
        if (g_plugin == nullptr) g_plugin = &default_object;
    }
    return g_plugin;
}

}  // namespace Gatan::PlugIn

// ---- exported entry points -----------------------------------------------

namespace {

using Gatan::PlugIn::PlugInMain;

enum class EnvStep { none, link, unlink };

// Runs one lifecycle export's work, timed inline: nothing is counted when
// an exception ends the work. Answers whether the work completed.
template <class Work>
bool timed_export(const char* counter, EnvStep step, Work&& work) {
    PlugInMain* plugin = nullptr;
    bool completed = false;
    try {
        plugin = Gatan::PlugIn::plugin_object();
        if (step == EnvStep::link && plugin != nullptr) plugin->environment().Link();
        const Gatan::PlugIn::InlineTiming timing(counter);
        if (plugin != nullptr) work(*plugin);
        timing.stop();
        completed = true;
    } catch (...) {
        Gatan::PlugIn::report_exception_in_flight(nullptr);
    }
    if (step == EnvStep::unlink && plugin != nullptr) plugin->environment().Unlink();
    return completed;
}

}  // namespace

ZORVAN_EXPORT void DMPlugIn_Link_2(DM_HostEnv* environment) {
    using namespace Gatan::PlugIn;
    if (environment == g_pending_link) return;
    if (environment != nullptr) environment->AddRef();
    DM_HostEnv* previous = g_pending_link;
    g_pending_link = environment;
    if (previous != nullptr) previous->Release();
}

ZORVAN_EXPORT void PlugInGetSDKVersion(std::uint32_t* major, std::uint32_t* minor) {
    if (major != nullptr) *major = 3;
    if (minor != nullptr) *minor = 5;
}

ZORVAN_EXPORT void PlugInRegisterFloatingWindows() {
    timed_export("PlugIn_RegisterFloatingWindows", EnvStep::link, [](PlugInMain& plugin) {
        Gatan::PlugIn::start_utility_libraries(&plugin);
        plugin.set_floating_windows_started();
        plugin.RegisterFloatingWindows();
    });
}

ZORVAN_EXPORT void PlugInStartup() {
    timed_export("PlugIn_Start", EnvStep::link, [](PlugInMain& plugin) {
        DM_HostEnv* environment = Gatan::PlugIn::current_environment();
        if (environment == nullptr || environment->GetVersion() < DM_REQUIRED_VERSION) {
            Gatan::PlugIn::report_to_error_manager(Gatan::PlugIn::kErrorManagerCode,
                                                   "This plugin requires DM 3.10.0 or later.");
        }
        if (!plugin.floating_windows_started()) Gatan::PlugIn::start_utility_libraries(&plugin);
        plugin.Start();
    });
}

ZORVAN_EXPORT void PlugInRun() {
    timed_export("PlugIn_Run", EnvStep::none, [](PlugInMain& plugin) { plugin.Run(); });
}

ZORVAN_EXPORT bool PlugInRequestClose() {
    bool answer = false;
    const bool completed = timed_export("PlugIn_RequestClose", EnvStep::none,
                                        [&answer](PlugInMain& plugin) { answer = plugin.RequestClose(); });
    return completed && answer;
}

ZORVAN_EXPORT void PlugInPrepareClose() {
    timed_export("PlugIn_PrepareClose", EnvStep::none, [](PlugInMain& plugin) { plugin.PrepareClose(); });
}

ZORVAN_EXPORT void PlugInCleanup() {
    timed_export("PlugIn_Cleanup", EnvStep::none, [](PlugInMain& plugin) { plugin.Cleanup(); });
}

ZORVAN_EXPORT void PlugInShutdown() {
    timed_export("PlugIn_End", EnvStep::unlink, [](PlugInMain& plugin) {
        plugin.End();
        plugin.RemoveAllFunctions();
        Gatan::PlugIn::stop_utility_libraries(&plugin);
    });
}
