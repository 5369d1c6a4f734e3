#pragma once
// The plug-in's 19 script functions, one row each in the order the host
// receives them: the prototype, the Python package's name for it, the
// counter the function's time is added to, how it refuses input, the sizes
// and pixel types it accepts, and what it does. The plug-in registers from
// this table and times its operations under its counters; `zorvan list`,
// `zorvan help` and the command's refusal handling read it; the tests check
// the README's function table and every function's shared behaviour
// against it.

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvan {

enum class refusal {
    script_error,  // raises a script error with a message; returns null, 0 or nothing
    silent,        // returns a null image or 0 without an error (the Fourier-space family)
};

struct script_function {
    std::string_view name;         // the script name
    std::string_view prototype;    // the registered text, byte for byte
    std::string_view python_name;  // the function of the Python package: zorvan.<python_name>
    const char* counter;           // the timing counter, a terminated text
    refusal refuses;
    std::string_view sizes;        // what sizes it accepts
    std::string_view summary;      // what it does, in a line
    std::string_view pixel_types;  // what it accepts
    std::string_view example;      // a `zorvan` command line
};

// clang-format off
inline constexpr script_function script_functions[] = {
    {"FMovingAverage2", "void FMovingAverage2(ImageRef imgSrc, long nRad, ImageRef* imgDst1, ImageRef* imgDst2)", "moving_average_pair",
     "MovingAverageDM2", refusal::script_error, "any size; outputs given: the source's width, height and type (and depth for a stack)",
     "local mean (imgDst1) and local mean of the squares (imgDst2; complex: v·v) over the square window of radius nRad, "
     "cut to the image; overwrites outputs of the source's width, height and type (a stack needs outputs of its depth), "
     "otherwise makes two new 2-D images and replaces the references",
     "real, complex",
     "zorvan FMovingAverage2 in.tif 2 null null --save imgDst1=mean.tif --save imgDst2=meansq.tif"},
    {"FMovingAverage", "ImageRef FMovingAverage(ImageRef imgSrc, long nRad, ImageRef imgDst)", "moving_average",
     "MovingAverageDM", refusal::script_error, "any size; imgDst of the source's width and height",
     "mean over the square (3-D: cubic) window of radius nRad, cut to the image at its edges, sums in the pixel's "
     "precision; null imgDst makes a new image, the source as imgDst filters in place",
     "real, complex",
     "zorvan FMovingAverage in.tif 3 null -o smooth.tif"},
    {"FMedianFilter", "ImageRef FMedianFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)", "median_filter",
     "MedianFilterDM2", refusal::script_error, "any size; imgDst of the source's width and height",
     "median of the square window of radius nRad cut to the image (even counts: mean of the middle two; NaN samples "
     "left out); first plane only; the destination has the source's width and height; in place allowed",
     "real (source and destination alike)",
     "zorvan FMedianFilter in.tif 2 null -o median.tif"},
    {"FSurvey", "void FSurvey(ImageRef imgSrc, double * fMin, double * fMax, double * fSum, double * fSqsum)", "survey",
     "SurveyDM", refusal::script_error, "any size",
     "minimum, maximum, sum and sum of squares, accumulated in double in visiting order",
     "integer, real",
     "zorvan FSurvey in.tif"},
    {"FRadialSurvey", "ImageRef FRadialSurvey(Image * imgSrc, long nCX, long nCY, double fScaleX, double fScaleY )", "radial_survey",
     "RadialSurveyDM", refusal::script_error, "any size; the centre may lie outside",
     "new image \"Radial Survey of <name>\", one column per ring one unit wide around (nCX, nCY) after scaling; rows: "
     "minimum, maximum, weight, mean, standard deviation",
     "real",
     "zorvan FRadialSurvey in.tif 256 256 1 1 -o profile.tif"},
    {"FGetCenterOfMass", "long FGetCenterOfMass(ImageRef imgSrc, double * fX, double * fY, double fRad, long nCycles, double fThreshold)", "center_of_mass",
     "GetCenterOfMassDM", refusal::script_error, "any size; the disc inside the image",
     "refines (fX, fY) by the thresholded centre of mass of a disc of radius fRad, for at most nCycles cycles; returns "
     "the cycles used, 0 when no position was found",
     "real; integer types on a 4-byte real copy (the image is unchanged)",
     "zorvan FGetCenterOfMass spot.tif fX=10 fY=12 fRad=5 nCycles=50 fThreshold=0.1"},
    {"FWeight", "ImageRef FWeight(ImageRef imgSrc, ImageRef imgW, long nCX, long nCY, float fScaleX, float fScaleY, long eMode, ImageRef imgDst)", "weight",
     "WeightDM", refusal::script_error, "any size; imgDst of the source's size",
     "combines each pixel with the radial profile imgW interpolated at its scaled distance from (nCX, nCY): eMode 0 "
     "multiply, 1 add, 2 subtract, 3 replace; in place allowed",
     "4-byte real or complex of 4-byte reals; imgW 4-byte real",
     "zorvan FWeight in.tif weights.npy 256 256 1 1 0 null -o weighted.tif"},
    {"FFTWindow", "ImageRef FFTWindow(ImageRef imgSrc, long eMode,ImageRef imgDst)", "ft_window",
     "FTWindowDM", refusal::script_error, "any size; imgDst of the source's size",
     "multiplies the first plane by a 2-D Hann (0) or sine (1) window, 0 at the first row and column, 1 at the centre; "
     "in place allowed",
     "4-byte real",
     "zorvan FFTWindow in.tif 0 null -o windowed.tif"},
    {"FMaximumFilter", "ImageRef FMaximumFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)", "maximum_filter",
     "MaximumFilterDM", refusal::script_error, "any size; imgDst of the source's width and height",
     "largest value of the square window of radius nRad cut to the image (NaN never wins); first plane only; out of "
     "place only",
     "integer, binary, real (destination of the same type)",
     "zorvan FMaximumFilter in.tif 1 null -o max.tif"},
    {"FInvertRotateDLL", "ImageRef FInvertRotateDLL(ImageRef imgSrc )", "invert_rotate",
     "InvertRotateDM", refusal::silent, "any size",
     "copy reflected through the centre pixel (even sizes k → (n − k) mod n, odd sizes k → n − 1 − k)",
     "real",
     "zorvan FInvertRotateDLL in.tif -o inverted.tif"},
    {"FRadialWarpDLL", "ImageRef FRadialWarpDLL(ImageRef imgSizeSrc, ImageRef imgRadialSrc, double   aspectX, double   aspectY )", "radial_warp",
     "RadialWarpDM", refusal::silent, "a 1-D or 2-D profile, any size image",
     "spreads the profile imgRadialSrc over an image of imgSizeSrc's size: each pixel takes the profile, linearly "
     "interpolated, at its aspect-scaled distance from the centre",
     "profile real; imgSizeSrc any type (only its size is read)",
     "zorvan FRadialWarpDLL in.tif profile.npy 1 1 -o background.tif"},
    {"FMeanComplexDLL", "short FMeanComplexDLL(ImageRef imgSrc, double * meanReal, double * meanImag )", "mean_complex",
     "MeanComplexDM", refusal::silent, "any size",
     "mean of the real and of the imaginary parts; returns 1, or 0 when refused",
     "complex",
     "zorvan FMeanComplexDLL fft.npy"},
    {"FCreateFwhitsmMatrixDLL", "ImageRef FCreateFwhitsmMatrixDLL(long   width, double meanImag )", "penalty_matrix",
     "CreateFwhitsmMatrixDM", refusal::silent, "width at least 2",
     "the width × width penalty matrix meanImag·DᵀD of second differences (8-byte real), for Whittaker smoothing",
     "no image input",
     "zorvan FCreateFwhitsmMatrixDLL 8 1 -o penalty.npy"},
    {"FElementWiseProductComplexByRealDLL", "ImageRef FElementWiseProductComplexByRealDLL(ImageRef imgComplex, ImageRef imgReal )", "multiply_complex_by_real",
     "ElementWiseProductComplexByRealDM", refusal::silent, "the same width and height",
     "element-wise product as a new complex image of imgComplex's type",
     "complex × real, all four pairings",
     "zorvan FElementWiseProductComplexByRealDLL fft.npy mask.npy -o filtered.npy"},
    {"FCreateWienerMaskDLL", "ImageRef FCreateWienerMaskDLL(ImageRef imgAmp, ImageRef imgBase )", "wiener_mask",
     "CreateWienerMaskDM", refusal::silent, "the same width and height",
     "Wiener mask (A² − B²)/A² clipped below at 0, as a new real image; zeros of the amplitude image A are overwritten "
     "with 1, in that image itself",
     "both 4-byte or both 8-byte real",
     "zorvan FCreateWienerMaskDLL amp.npy base.npy -o mask.npy --save imgAmp=amp_fixed.npy"},
    {"FPlusComplexImageDLL", "short FPlusComplexImageDLL(ImageRef imgTarget, ImageRef imgPlus )", "add_complex",
     "PlusComplexImageDM", refusal::silent, "the same width and height",
     "adds imgPlus into imgTarget in place; returns 1, or 0 when refused",
     "both complex of the same type",
     "zorvan FPlusComplexImageDLL sum.npy next.npy --save imgTarget=sum.npy"},
    {"FCalculatePowerSpectrumDLL", "ImageRef FCalculatePowerSpectrumDLL(ImageRef imgTarget )", "power_spectrum",
     "CalculatePowerSpectrumDM", refusal::silent, "any size",
     "new real image \"PowerSpectrum\" holding ln(re² + im²) of every element",
     "complex (float or double result)",
     "zorvan FCalculatePowerSpectrumDLL fft.npy -o power.tif"},
    {"FWarpLinear2DDLL", "short FWarpLinear2DDLL(ImageRef imgSrc, double   factorX, double   factorY, ImageRef imgDst )", "rescale",
     "ImresizeLinear2DDM", refusal::silent, "source at least 2 x 2, factors > 0 that fit the destination",
     "rescales by factorX, factorY with linear interpolation (rows, then columns) into the existing imgDst; returns 1, "
     "or 0 when refused",
     "real (source and destination alike)",
     "zorvan FWarpLinear2DDLL in.tif 2 2 big.tif --save imgDst=big.tif"},
    {"FDiffH", "ImageRef FDiffH(ImageRef src, long n)", "diff_h",
     "DiffHDM", refusal::script_error, "wider than n columns",
     "n-th forward difference along x, n columns narrower, each order rounded to float; n ≤ 0 returns the source",
     "4-byte real",
     "zorvan FDiffH in.tif 1 -o diff.tif"},
};
// clang-format on

// The registered prototype.
inline std::string prototype_of(const script_function& function) { return std::string(function.prototype); }

// The row of a script name, or null.
constexpr const script_function* find_script_function(std::string_view name) {
    for (const script_function& function : script_functions) {
        if (function.name == name) return &function;
    }
    return nullptr;
}

// The row of a name that must be in the table: a compile error otherwise.
consteval const script_function& script_function_named(std::string_view name) {
    for (const script_function& function : script_functions) {
        if (function.name == name) return function;
    }
    throw "no script function of that name";
}

namespace detail {
// Each row's name is the one its prototype declares, after the result type
// and one blank; each row has a Python name.
constexpr bool names_match_prototypes() {
    for (const script_function& function : script_functions) {
        const std::string_view prototype = function.prototype;
        const std::size_t blank = prototype.find(' ');
        if (blank == std::string_view::npos || function.python_name.empty()) return false;
        if (prototype.substr(blank + 1, function.name.size()) != function.name) return false;
        if (prototype.substr(blank + 1 + function.name.size(), 1) != "(") return false;
    }
    return true;
}
static_assert(names_match_prototypes());
static_assert(std::size(script_functions) == 19);
}  // namespace detail

}  // namespace zorvan
