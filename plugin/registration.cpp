// The plug-in object and its registration table: one row per script
// function, in the order the host receives them.

#include "filters/filters.h"
#include "fourier/fourier.h"
#include "measure/measure.h"
#include "plugin/script_function.h"

namespace {

using Gatan::PlugIn::ScriptFunctionRow;
using namespace zorvan::ops;

template <class F>
void* address(F* function) {
    return reinterpret_cast<void*>(function);
}

// clang-format off
const ScriptFunctionRow kRows[] = {
    {"void ",     "MovingAverage2(ImageRef imgSrc, long nRad, ImageRef* imgDst1, ImageRef* imgDst2)", address(&MovingAverage2)},
    {"ImageRef ", "MovingAverage(ImageRef imgSrc, long nRad, ImageRef imgDst)",                       address(&MovingAverage)},
    {"ImageRef ", "MedianFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)",                        address(&MedianFilter)},
    {"void ",     "Survey(ImageRef imgSrc, double * fMin, double * fMax, double * fSum, double * fSqsum)", address(&Survey)},
    {"ImageRef ", "RadialSurvey(Image * imgSrc, long nCX, long nCY, double fScaleX, double fScaleY )", address(&RadialSurvey)},
    {"long ",     "GetCenterOfMass(ImageRef imgSrc, double * fX, double * fY, double fRad, long nCycles, double fThreshold)",
                                                                                                      address(&GetCenterOfMass)},
    {"ImageRef ", "Weight(ImageRef imgSrc, ImageRef imgW, long nCX, long nCY, float fScaleX, float fScaleY, long eMode, ImageRef imgDst)",
                                                                                                      address(&Weight)},
    {"ImageRef ", "FTWindow(ImageRef imgSrc, long eMode,ImageRef imgDst)",                            address(&FTWindow)},
    {"ImageRef ", "MaximumFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)",                       address(&MaximumFilter)},
    {"ImageRef ", "InvertRotateDLL(ImageRef imgSrc )",                                                address(&InvertRotateDLL)},
    {"ImageRef ", "RadialWarpDLL(ImageRef imgSizeSrc, ImageRef imgRadialSrc, double   aspectX, double   aspectY )",
                                                                                                      address(&RadialWarpDLL)},
    {"short ",    "MeanComplexDLL(ImageRef imgSrc, double * meanReal, double * meanImag )",           address(&MeanComplexDLL)},
    {"ImageRef ", "CreateFwhitsmMatrixDLL(long   width, double meanImag )",                           address(&CreateFwhitsmMatrixDLL)},
    {"ImageRef ", "ElementWiseProductComplexByRealDLL(ImageRef imgComplex, ImageRef imgReal )",       address(&ElementWiseProductComplexByRealDLL)},
    {"ImageRef ", "CreateWienerMaskDLL(ImageRef imgAmp, ImageRef imgBase )",                          address(&CreateWienerMaskDLL)},
    {"short ",    "PlusComplexImageDLL(ImageRef imgTarget, ImageRef imgPlus )",                       address(&PlusComplexImageDLL)},
    {"ImageRef ", "CalculatePowerSpectrumDLL(ImageRef imgTarget )",                                   address(&CalculatePowerSpectrumDLL)},
    {"short ",    "WarpLinear2DDLL(ImageRef imgSrc, double   factorX, double   factorY, ImageRef imgDst )",
                                                                                                      address(&WarpLinear2DDLL)},
};
// clang-format on

// The horizontal difference is registered last, by its whole prototype.
constexpr const char* kDiffHPrototype = "ImageRef FDiffH(ImageRef src, long n)";

class MyPlugIn final : public Gatan::PlugIn::PlugInMain {
public:
    void Start() override {
        Gatan::PlugIn::register_rows(*this, kRows, sizeof kRows / sizeof kRows[0]);
        Gatan::PlugIn::register_prototype(*this, kDiffHPrototype, address(&DiffH));
    }
};

MyPlugIn g_plugin;

}  // namespace
