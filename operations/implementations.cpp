// Each row of the script-function table with the function that implements
// it, in the table's order; the build fails while a row has none.

#include "operations/implementations.h"

#include "contract/script_functions.h"
#include "filters/filters.h"
#include "fourier/fourier.h"
#include "measure/measure.h"

#include <iterator>
#include <string_view>

namespace zorvan::ops {
namespace {

struct Implementation {
    std::string_view name;
    void* (*address)();
};

template <auto Function>
void* address_of() {
    return reinterpret_cast<void*>(Function);
}

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

// Row by row, the same names in the same order as the table.
constexpr bool rows_match_the_table() {
    if (std::size(kImplementations) != std::size(script_functions)) return false;
    for (std::size_t row = 0; row < std::size(script_functions); ++row) {
        if (kImplementations[row].name != script_functions[row].name) return false;
    }
    return true;
}
static_assert(rows_match_the_table());

}  // namespace

void* implementation_of(std::size_t row) { return kImplementations[row].address(); }

}  // namespace zorvan::ops
