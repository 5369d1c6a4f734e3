#pragma once
// The contract between the plug-in and the host application.
//
// The plug-in reaches the host only through the interfaces declared here:
// the environment handed to DMPlugIn_Link_2, the script context, the
// function table, one object class per host class name, and the host's
// script functions, which are found by prototype text and called through an
// array of 16-byte argument slots. The embedded host (host/) implements the
// same header, so this file is the single description both sides build on.
//
// Slot numbers are the positions of the virtual operations; unused positions
// are kept as Reserved operations so that every interface keeps its layout.
//
// Means the plug-in needs beyond the listed slots, kept minimal:
//  - DM_ObjectClass slot 12, CreateFromText: the String class makes a new
//    String from 8-bit text; the ScriptClass class makes a new, empty script
//    class of that name. Other classes answer null.
//  - DM_ObjectClass slot 13, CopyText: the String class copies a String's
//    8-bit text out; it answers the full length, copying at most capacity
//    bytes (no terminator is written).
//  - The data-access object behind a lock (DM_ImageDataSequence) is handed
//    over in a boost::shared_ptr<DM_ImageDataSequence>; while any share of it
//    lives, the image data stays locked at the address it describes.

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>

// Every host handle points at a host object the plug-in never looks into.
struct DM_Object;
using DM_Handle = DM_Object*;

// Status of a host call (DM_ScriptContext::CallFunction).
enum : std::int32_t {
    DM_CALL_OK = 0,
    DM_CALL_FAILED = 1,     // the function raised; its Throwable is pending
    DM_CALL_NOT_FOUND = 2,  // used by the plug-in itself for an unknown prototype
    DM_CALL_STALE = 3,      // the function handle is out of date: find it again
};

inline constexpr std::uint32_t DM_REQUIRED_VERSION = 0x030A0000;  // 3.10.0.0
inline constexpr std::uint32_t DM_CALL_KIND_NATIVE = 3;

// One argument or result slot of a host call. The value sits in the low
// bytes: a pointer-sized handle or address, a 32-bit integer, or a Boolean
// (one byte, 0 or 1).
struct alignas(16) DM_ArgSlot {
    unsigned char bytes[16];
};
static_assert(sizeof(DM_ArgSlot) == 16);

// What the host learns about a function the plug-in registers.
struct DM_FunctionDescriptor {
    std::uint32_t call_kind;  // always DM_CALL_KIND_NATIVE
    void* address;            // the implementing function
};

// The description of one locked slice of image data.
struct DM_SliceRecord {
    void* data;                           // offset 0: first element
    unsigned char host_reserved0[12];     // offsets 8..19
    std::uint32_t num_dims;               // offset 20: locked dimensions
    unsigned char host_reserved1[8];      // offsets 24..31
    struct Dimension {
        std::int64_t byte_stride;         // first 8 bytes of the entry
        std::int64_t host_extent;         // the host's: dimension size
    } dims[4];                            // offset 32, 16 bytes each
};
static_assert(offsetof(DM_SliceRecord, num_dims) == 20);
static_assert(offsetof(DM_SliceRecord, dims) == 32);
static_assert(sizeof(DM_SliceRecord::Dimension) == 16);

// The host's data-access object of one locked image.
struct DM_ImageDataSequence {
    virtual ~DM_ImageDataSequence() = default;
    virtual std::uint32_t CountSlices() = 0;
    virtual void Reserved2() {}
    // Describes slice `slice` into `record`; writes the number of locked
    // dimensions to `out_num_dims`. Answers 0 on success.
    virtual std::int32_t DescribeSlice(std::uint32_t slice, std::uint32_t reserved,
                                       std::uint32_t* out_num_dims, DM_SliceRecord* record) = 0;
};

struct DM_FunctionTable {
    virtual void Reserved0() {}
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    virtual void Reserved6() {}
    virtual void Reserved7() {}
    virtual void Reserved8() {}
    virtual void Reserved9() {}
    virtual void Reserved10() {}
    virtual void Reserved11() {}
    // 12: the Function of that exact prototype text, with one reference
    // for the caller, or null.
    virtual DM_Handle FindFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                   const char* prototype_begin, const char* prototype_end) = 0;
};

struct DM_ObjectClass {
    virtual void Reserved0() {}
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    virtual void AddRef(DM_Handle object) = 0;                       // 6
    virtual void Release(DM_Handle object) = 0;                      // 7
    virtual void Reserved8() {}
    virtual bool IsValid(DM_Handle object) = 0;                      // 9
    virtual void Reserved10() {}
    virtual bool IsSameObject(DM_Handle a, DM_Handle b) = 0;         // 11
    virtual DM_Handle CreateFromText(const char* begin, const char* end) = 0;  // 12
    virtual std::size_t CopyText(DM_Handle string, char* buffer, std::size_t capacity) = 0;  // 13
};

struct DM_ScriptContext {
    virtual std::uint32_t AddRef() = 0;                              // 0
    virtual std::uint32_t Release() = 0;                             // 1
    virtual void Reserved2() {}
    virtual void Reserved3() {}
    virtual void ClearPendingException() = 0;                        // 4
    // 5: a new Throwable (one reference) of that code and parameter.
    virtual DM_Handle NewThrowable(std::int32_t code, std::intptr_t parameter) = 0;
    // 6: the message of a Throwable as a new String (one reference).
    virtual DM_Handle GetThrowableMessage(DM_Handle throwable) = 0;
    // 7: the pending exception with one reference for the caller, or null.
    virtual DM_Handle GetPendingException() = 0;
    // 8: raises the Throwable in this context (the context takes its own
    // reference); it becomes the pending exception and the script's error.
    virtual void RaiseThrowable(DM_Handle throwable) = 0;
    virtual void Reserved9() {}
    virtual void Reserved10() {}
    virtual void Reserved11() {}
    // 12: calls a host function; `slots` holds `slot_count` slots, the
    // result slot first for a function with a result.
    virtual std::int32_t CallFunction(DM_Handle function, std::uint32_t slot_count,
                                      DM_ArgSlot* slots) = 0;
    virtual void Reserved13() {}
    virtual void Reserved14() {}
    virtual void Reserved15() {}
    virtual void Reserved16() {}
    virtual void Reserved17() {}
    virtual void Reserved18() {}
    // 19: the function table, valid while the context lives.
    virtual DM_FunctionTable* GetFunctionTable() = 0;
    virtual void Reserved20() {}
    virtual void Reserved21() {}
    virtual void Reserved22() {}
    virtual void Reserved23() {}
    virtual void Reserved24() {}
    virtual void Reserved25() {}
    virtual void Reserved26() {}
    virtual void Reserved27() {}
    virtual void Reserved28() {}
    virtual void Reserved29() {}
    virtual void Reserved30() {}
    virtual void Reserved31() {}
    virtual void Reserved32() {}
    virtual void Reserved33() {}
    virtual void Reserved34() {}
    virtual void Reserved35() {}
    virtual void Reserved36() {}
    // 37: the code and parameter of a Throwable.
    virtual void GetThrowableCode(DM_Handle throwable, std::int32_t* code,
                                  std::intptr_t* parameter) = 0;
};

struct DM_HostEnv {
    virtual std::uint32_t AddRef() = 0;                              // 0
    virtual std::uint32_t Release() = 0;                             // 1
    virtual std::uint32_t GetVersion() = 0;                          // 2
    // 3: a script context with one reference for the caller.
    virtual DM_ScriptContext* GetContext() = 0;
    // 4: the class interface of that name. Class interfaces are not
    // counted: they live as long as the environment that answered them.
    virtual DM_ObjectClass* GetClass(std::uint32_t, const char* name) = 0;
    virtual void Reserved5() {}
    // 6: unpublishes and forgets the function; the caller keeps its handle.
    virtual void RemoveFunction(DM_Handle function) = 0;
    virtual void Reserved7() {}
    // 8: a new Function (one reference) from its prototype text.
    virtual DM_Handle CreateFunction(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                     const char* prototype_begin, const char* prototype_end,
                                     const DM_FunctionDescriptor* descriptor) = 0;
    virtual void Reserved9() {}
    // 10: makes the function callable from scripts by its name.
    virtual void PublishFunction(std::uintptr_t, std::uintptr_t, DM_Handle function) = 0;
};

// Host class names.
inline constexpr const char* DM_CLASS_IMAGE = "Gatan:DigitalMicrograph:Image";
inline constexpr const char* DM_CLASS_SCRIPT_OBJECT = "Gatan:DigitalMicrograph:ScriptObject";
inline constexpr const char* DM_CLASS_STRING = "Gatan:DigitalMicrograph:String";
inline constexpr const char* DM_CLASS_FUNCTION = "Gatan:DigitalMicrograph:Function";
inline constexpr const char* DM_CLASS_THROWABLE = "Gatan:DigitalMicrograph:Throwable";
inline constexpr const char* DM_CLASS_SCRIPT_CLASS = "Gatan:DigitalMicrograph:ScriptClass";
