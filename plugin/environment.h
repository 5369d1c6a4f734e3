#pragma once
// The plug-in object, the host environment it adopts, and the class
// interfaces fetched from that environment.

#include "contract/dm_host_interfaces.h"

#include <cstdint>
#include <vector>

#define ZORVAN_EXPORT extern "C" __attribute__((visibility("default")))

namespace Gatan::PlugIn {

// A callback run with the newly current environment whenever an
// environment reference links. Nodes are static and never freed.
struct LinkListener {
    void (*on_link)(DM_HostEnv* environment);
    LinkListener* next;
};
void add_link_listener(LinkListener* listener);

// The environment all host calls go to: the host's once linked, otherwise
// the built-in null environment (every operation does nothing and answers
// null, zero, or null objects of its own). Null only outside the lifetime
// of every environment reference.
DM_HostEnv* current_environment();

// Keeps the host environment alive while it lives and records whether this
// call sequence adopted the pending link.
class DM_EnvRef {
public:
    DM_EnvRef();
    ~DM_EnvRef();
    DM_EnvRef(const DM_EnvRef&) = delete;
    DM_EnvRef& operator=(const DM_EnvRef&) = delete;

    void Link();
    void Unlink() { linked_ = false; }
    bool linked() const { return linked_; }

private:
    bool linked_ = false;
};

// An environment reference plus a script context of the current environment.
class DM_PlugInEnv {
public:
    DM_PlugInEnv();
    ~DM_PlugInEnv();
    DM_PlugInEnv(const DM_PlugInEnv&) = delete;
    DM_PlugInEnv& operator=(const DM_PlugInEnv&) = delete;
    DM_ScriptContext* context() const { return context_; }

private:
    DM_EnvRef environment_;
    DM_ScriptContext* context_;
};

// The host classes the plug-in handles objects of.
enum class HostClass { Image, ScriptObject, String, Function, Throwable, ScriptClass };

// The class interface of the current environment (never null: the null
// environment's classes do nothing). Fetched at first use, fetched again
// whenever an environment reference links.
DM_ObjectClass* host_class(HostClass id);

// A script context of the current environment, held for a scope.
class ScopedContext {
public:
    ScopedContext();
    explicit ScopedContext(DM_ScriptContext* borrowed);  // takes its own reference
    ~ScopedContext();
    ScopedContext(const ScopedContext&) = delete;
    ScopedContext& operator=(const ScopedContext&) = delete;
    DM_ScriptContext* get() const { return context_; }
    DM_ScriptContext* operator->() const { return context_; }

private:
    DM_ScriptContext* context_;
};

}  // namespace Gatan::PlugIn

namespace Gatan::Win32 {

class PlugInMain {
public:
    virtual ~PlugInMain() = default;
};

}  // namespace Gatan::Win32

namespace Gatan::PlugIn {

class PlugInMain : public Gatan::Win32::PlugInMain {
public:
    PlugInMain();
    ~PlugInMain() override;
    PlugInMain(const PlugInMain&) = delete;
    PlugInMain& operator=(const PlugInMain&) = delete;

    virtual void RegisterFloatingWindows() {}
    virtual void Start() {}
    virtual void Run() {}
    virtual bool RequestClose() { return true; }
    virtual void PrepareClose() {}
    virtual void Cleanup() {}
    virtual void End() {}
    virtual void Reserved() {}

    // Creates and publishes a script function; answers its handle with one
    // reference for the caller (null when the host made none).
    DM_Handle AddFunction(const char* prototype_begin, const char* prototype_end, void* address);

    // Removes every registered function from the host, last first.
    void RemoveAllFunctions();

    DM_EnvRef& environment() { return environment_; }
    bool floating_windows_started() const { return floating_windows_; }
    void set_floating_windows_started() { floating_windows_ = true; }

private:
    DM_EnvRef environment_;
    std::vector<DM_Handle> functions_;
    bool floating_windows_ = false;
};

// Removes each function from the host, last first, releasing its handle.
void remove_functions_last_first(std::vector<DM_Handle>& functions);

// The one plug-in object (the default object when none was constructed).
PlugInMain* plugin_object();

}  // namespace Gatan::PlugIn
