// The plug-in object and its registration table: one row per script
// function, in the order the host receives them.

#include "plugin/script_functions.h"
#include "plugin/script_function.h"

namespace {

using Gatan::PlugIn::ScriptFunctionRow;

template <class F>
void* address(F* function) {
    return reinterpret_cast<void*>(function);
}

// clang-format off
const ScriptFunctionRow kRows[] = {
    {"ImageRef ", "MovingAverage(ImageRef imgSrc, long nRad, ImageRef imgDst)",  address(&zorvan::ops::MovingAverage)},
    {"void ",     "Survey(ImageRef imgSrc, double * fMin, double * fMax, double * fSum, double * fSqsum)",
                                                                                 address(&zorvan::ops::Survey)},
    {"ImageRef ", "CalculatePowerSpectrumDLL(ImageRef imgTarget )",              address(&zorvan::ops::CalculatePowerSpectrumDLL)},
};
// clang-format on

class MyPlugIn final : public Gatan::PlugIn::PlugInMain {
public:
    void Start() override { Gatan::PlugIn::register_rows(*this, kRows, sizeof kRows / sizeof kRows[0]); }
};

MyPlugIn g_plugin;

}  // namespace
