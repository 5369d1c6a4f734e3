#pragma once
// The host environment the plug-in adopts: the link handed over by the host,
// the environment every host call goes to (the host's, or a built-in null
// environment), the environment references that keep it alive, the class
// interfaces fetched from it, and script contexts held for a scope.

#include "contract/dm_host_interfaces.h"

namespace Gatan::PlugIn {

// The interface most recently handed to DMPlugIn_Link_2 waits here until an
// environment reference links; this takes a reference to it and releases
// the previous one.
void set_pending_link(DM_HostEnv* environment);

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

private:
    bool linked_ = false;
};

// An environment reference and a script context held for a scope: one of
// the current environment, or, when given one, a further reference to it.
class DM_PlugInEnv {
public:
    explicit DM_PlugInEnv(DM_ScriptContext* borrowed = nullptr);
    ~DM_PlugInEnv();
    DM_PlugInEnv(const DM_PlugInEnv&) = delete;
    DM_PlugInEnv& operator=(const DM_PlugInEnv&) = delete;
    DM_ScriptContext* context() const { return context_; }
    DM_ScriptContext* operator->() const { return context_; }

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

}  // namespace Gatan::PlugIn
