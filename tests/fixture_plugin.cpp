// A small plug-in built from the same shell, with a registration table of
// its own: functions of every native type, and switches that make the
// lifecycle and the host call path fail on purpose.

#include "platform/win32/win32.h"
#include "plugin/errors.h"
#include "plugin/host_functions.h"
#include "plugin/plugin_main.h"

#include <new>
#include <string_view>
#include <stdexcept>

using namespace Gatan::PlugIn;

namespace {

std::int32_t g_failing_step = 0;  // which lifecycle operation throws

enum FailingStep : std::int32_t { none = 0, run = 1, request_close = 2, prepare_close = 3, cleanup = 4, end = 5 };

void maybe_fail(std::int32_t step) {
    if (g_failing_step == step) throw std::runtime_error("lifecycle step failed");
}

class FixturePlugIn final : public PlugInMain {
public:
    void Start() override;
    void Run() override { maybe_fail(run); }
    bool RequestClose() override {
        maybe_fail(request_close);
        return true;
    }
    void PrepareClose() override { maybe_fail(prepare_close); }
    void Cleanup() override { maybe_fail(cleanup); }
    void End() override { maybe_fail(end); }
};

std::int32_t EchoLong(std::int32_t value) {
    return script_guard<std::int32_t>([&] { return value; });
}

std::int16_t NarrowShort(std::int32_t value) {
    return script_guard<std::int16_t>([&] { return static_cast<std::int16_t>(value); });
}

// Writes a + b and the float argument as it arrived.
void Mix(double a, float b, double* sum, double* as_float) {
    script_guard<void>([&] {
        *sum = a + b;
        *as_float = b;
    });
}

// Doubles what the reference holds.
void Twice(double* value) {
    script_guard<void>([&] { *value = *value * 2; });
}

// Answers the image itself with a new reference for the caller.
DM_Handle Same(DM_Handle image) {
    return script_guard<DM_Handle>([&] { return ImageRef(image).release(); });
}

// Replaces the slot's image by a new real image of that width.
void Replace(DM_Handle* slot, std::int32_t width) {
    script_guard<void>([&] {
        ImageRef made = RealImage("replacement", 4, static_cast<std::uint32_t>(width), 1);
        assign_result_slot(slot, std::move(made));
    });
}

// Data type of the image, through the cached host function.
std::int32_t TypeOf(DM_Handle image) {
    return script_guard<std::int32_t>([&] { return static_cast<std::int32_t>(ImageGetDataType(image)); });
}

std::int32_t Fail(std::int32_t how) {
    return script_guard<std::int32_t>([&]() -> std::int32_t {
        switch (how) {
            case 0: throw std::runtime_error("A message of our own.");
            case 1: throw 42;
            case 2: throw _com_error(static_cast<HRESULT>(0x80004005), CreateDescribedErrorInfo(u"Described failure"));
            case 3: throw _com_error(static_cast<HRESULT>(0x80070057));
            case 4: {
                static HostFunction unknown("void NoSuchHostFunction( ImageRef )");
                DM_ArgSlot slot{};
                unknown.call(nullptr, &slot, 1);
                return 4;
            }
            case 5: return static_cast<std::int32_t>(ImageGetDataType(nullptr));
            case 6: return assertion_report("PlugInUtility", 242, "sData != NULL", 1) ? 1 : 0;
            case 7: return assertion_report("fixture.cpp", 7, "x > 0", 2) ? 1 : 0;
            case 8: throw std::bad_alloc();
            default: return -1;
        }
    });
}

std::int32_t SetFailingStep(std::int32_t step) {
    return script_guard<std::int32_t>([&] { return std::exchange(g_failing_step, step); });
}

// Breaks the calling convention: raises a script error and still returns
// the image with a reference, which the host must not hand on.
DM_Handle SameAndFail(DM_Handle image) {
    try {
        throw std::runtime_error("failed after all");
    } catch (...) {
        report_exception_in_flight(nullptr);
    }
    return ImageRef(image).release();
}

struct Row {
    const char* prototype;
    void* address;
};

const Row kRows[] = {
    {"long FEchoLong(long value)", reinterpret_cast<void*>(&EchoLong)},
    {"short FNarrowShort(long value)", reinterpret_cast<void*>(&NarrowShort)},
    {"void FMix(double a, float b, double * sum, double * asFloat)", reinterpret_cast<void*>(&Mix)},
    {"void FTwice(double * value)", reinterpret_cast<void*>(&Twice)},
    {"ImageRef FSame(Image * img)", reinterpret_cast<void*>(&Same)},
    {"void FReplace(ImageRef* img, long width)", reinterpret_cast<void*>(&Replace)},
    {"long FTypeOf(ImageRef img)", reinterpret_cast<void*>(&TypeOf)},
    {"long FFail(long how)", reinterpret_cast<void*>(&Fail)},
    {"long FSetFailingStep(long step)", reinterpret_cast<void*>(&SetFailingStep)},
    {"ImageRef FSameAndFail(ImageRef img)", reinterpret_cast<void*>(&SameAndFail)},
    {"long TLast(long value)", reinterpret_cast<void*>(&EchoLong)},
};

void FixturePlugIn::Start() {
    for (const Row& row : kRows) {
        const std::string_view prototype = row.prototype;
        FunctionRef::adopt(AddFunction(prototype.data(), prototype.data() + prototype.size(), row.address));
    }
}

FixturePlugIn g_plugin;

}  // namespace
