// The plug-in object: at start-up it registers every row of the
// script-function table, in the table's order, with its implementation.

#include "contract/script_functions.h"
#include "filters/filters.h"
#include "fourier/fourier.h"
#include "measure/measure.h"
#include "plugin/host_refs.h"
#include "plugin/plugin_main.h"

#include <iterator>
#include <string>
#include <string_view>

namespace {

using namespace zorvan::ops;

template <auto Function>
void* address_of() {
    return reinterpret_cast<void*>(Function);
}

struct Implementation {
    std::string_view name;
    void* (*address)();
};

// The function behind each script name of the table.
constexpr Implementation kImplementations[] = {
    {"FMovingAverage2", &address_of<&MovingAverage2>},
    {"FMovingAverage", &address_of<&MovingAverage>},
    {"FMedianFilter", &address_of<&MedianFilter>},
    {"FSurvey", &address_of<&Survey>},
    {"FRadialSurvey", &address_of<&RadialSurvey>},
    {"FGetCenterOfMass", &address_of<&GetCenterOfMass>},
    {"FWeight", &address_of<&Weight>},
    {"FFTWindow", &address_of<&FTWindow>},
    {"FMaximumFilter", &address_of<&MaximumFilter>},
    {"FInvertRotateDLL", &address_of<&InvertRotateDLL>},
    {"FRadialWarpDLL", &address_of<&RadialWarpDLL>},
    {"FMeanComplexDLL", &address_of<&MeanComplexDLL>},
    {"FCreateFwhitsmMatrixDLL", &address_of<&CreateFwhitsmMatrixDLL>},
    {"FElementWiseProductComplexByRealDLL", &address_of<&ElementWiseProductComplexByRealDLL>},
    {"FCreateWienerMaskDLL", &address_of<&CreateWienerMaskDLL>},
    {"FPlusComplexImageDLL", &address_of<&PlusComplexImageDLL>},
    {"FCalculatePowerSpectrumDLL", &address_of<&CalculatePowerSpectrumDLL>},
    {"FWarpLinear2DDLL", &address_of<&WarpLinear2DDLL>},
    {"FDiffH", &address_of<&DiffH>},
};

const Implementation* find_implementation(std::string_view name) {
    for (const Implementation& implementation : kImplementations) {
        if (implementation.name == name) return &implementation;
    }
    return nullptr;
}

// Every row has its function, and every function its row.
constexpr bool every_row_implemented() {
    for (const zorvan::script_function& function : zorvan::script_functions) {
        bool found = false;
        for (const Implementation& implementation : kImplementations) found = found || implementation.name == function.name;
        if (!found) return false;
    }
    return std::size(kImplementations) == std::size(zorvan::script_functions);
}
static_assert(every_row_implemented());

class MyPlugIn final : public Gatan::PlugIn::PlugInMain {
public:
    void Start() override {
        for (const zorvan::script_function& function : zorvan::script_functions) {
            const std::string prototype = zorvan::prototype_of(function);
            Gatan::PlugIn::FunctionRef::adopt(AddFunction(prototype.data(), prototype.data() + prototype.size(),
                                                          find_implementation(function.name)->address()));
        }
    }
};

MyPlugIn g_plugin;

}  // namespace
