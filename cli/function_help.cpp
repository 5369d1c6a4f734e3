#include "cli/function_help.h"

namespace zorvan::cli {

namespace {

// clang-format off
const FunctionHelp kHelp[] = {
    {"FMovingAverage2",
     "Local mean and local mean of squares over the square window of radius nRad, cut to the image at its edges, in "
     "one pass. imgDst1 receives the means, imgDst2 the means of squares (complex: the complex square v*v). Outputs of "
     "the source's size and type are overwritten; otherwise two new images are made.",
     "4- and 8-byte real, complex of 4- and 8-byte reals",
     "zorvan FMovingAverage2 in.tif 2 null null --save imgDst1=mean.tif --save imgDst2=meansq.tif"},
    {"FMovingAverage",
     "Mean over the square (3-D: cubic) window of radius nRad, cut to the image at its edges; sums in the pixel's own "
     "precision. With no destination a new image is made; with the source as destination it filters in place.",
     "4- and 8-byte real, complex of 4- and 8-byte reals",
     "zorvan FMovingAverage in.tif 3 null -o smooth.tif"},
    {"FMedianFilter",
     "Median over the square window of radius nRad, cut to the image at its edges (even counts: the mean of the two "
     "middle values). 2-D; the destination must have the source's size.",
     "4- and 8-byte real (source and destination alike)",
     "zorvan FMedianFilter in.tif 2 null -o median.tif"},
    {"FSurvey",
     "Minimum, maximum, sum and sum of squares of every pixel, accumulated in double in visiting order.",
     "signed and unsigned 8-, 16- and 32-bit integers, 4- and 8-byte real",
     "zorvan FSurvey in.tif"},
    {"FRadialSurvey",
     "Ring-by-ring profile about the centre (nCX, nCY), rings one unit wide after scaling x and y: a 5-row image with "
     "each ring's minimum, maximum, weight, mean and standard deviation, one column per ring.",
     "4- and 8-byte real",
     "zorvan FRadialSurvey in.tif 128 128 1 1 -o profile.tif"},
    {"FGetCenterOfMass",
     "Refines the position (fX, fY) of a bright feature: the thresholded centre of mass inside a disc of radius fRad, "
     "iterated up to nCycles times. Answers the cycles used, 0 when no position was found; fX and fY are read and "
     "written.",
     "every real and integer type (integers are converted on a copy)",
     "zorvan FGetCenterOfMass spot.tif fX=10 fY=12 fRad=5 nCycles=50 fThreshold=0.1"},
    {"FWeight",
     "Combines each pixel with a radial weight profile imgW (a 1-D table) at its scaled distance from (nCX, nCY): "
     "eMode 0 multiplies, 1 adds, 2 subtracts, 3 replaces.",
     "source and destination 4-byte real or complex of 4-byte reals; imgW 4-byte real",
     "zorvan FWeight in.tif weights.npy 128 128 1 1 0 null -o weighted.tif"},
    {"FFTWindow",
     "Multiplies by a separable apodisation window, 0 at the first row and column and 1 at the centre: eMode 0 Hann, "
     "1 sine.",
     "4-byte real",
     "zorvan FFTWindow in.tif 0 null -o windowed.tif"},
    {"FMaximumFilter",
     "Largest value in the square window of radius nRad, cut to the image at its edges (NaN never wins). 2-D; the "
     "destination must have the source's size and type.",
     "signed and unsigned 8-, 16- and 32-bit integers, binary, 4- and 8-byte real",
     "zorvan FMaximumFilter in.tif 1 null -o max.tif"},
    {"FInvertRotateDLL",
     "A copy reflected through the centre pixel (even sizes: k -> (n - k) mod n; odd sizes: k -> n - 1 - k).",
     "4- and 8-byte real",
     "zorvan FInvertRotateDLL in.tif -o inverted.tif"},
    {"FRadialWarpDLL",
     "Spreads the radial profile imgRadialSrc over an image of imgSizeSrc's size: each pixel takes the profile, "
     "linearly interpolated, at its distance from the centre, scaled by aspectX and aspectY.",
     "profile 4- or 8-byte real; imgSizeSrc any type (only its size is used)",
     "zorvan FRadialWarpDLL in.tif profile.npy 1 1 -o background.tif"},
    {"FMeanComplexDLL",
     "Mean of the real parts and of the imaginary parts of a complex image, written to meanReal and meanImag.",
     "complex of 4- and 8-byte reals",
     "zorvan FMeanComplexDLL fft.npy"},
    {"FCreateFwhitsmMatrixDLL",
     "The width x width second-difference penalty matrix meanImag * D'D (8-byte real), for Whittaker smoothing.",
     "no image input",
     "zorvan FCreateFwhitsmMatrixDLL 8 1 -o penalty.npy"},
    {"FElementWiseProductComplexByRealDLL",
     "Element-wise product of a complex image and a real image of the same size, as a new complex image.",
     "complex of 4- or 8-byte reals times 4- or 8-byte real (all four pairings)",
     "zorvan FElementWiseProductComplexByRealDLL fft.npy mask.npy -o filtered.npy"},
    {"FCreateWienerMaskDLL",
     "Wiener mask (A^2 - B^2) / A^2, clipped below at 0, from an amplitude image A and a base image B of the same size. "
     "Zeros of the amplitude image are overwritten with 1 (in the image itself).",
     "both 4-byte real or both 8-byte real",
     "zorvan FCreateWienerMaskDLL amp.npy base.npy -o mask.npy"},
    {"FPlusComplexImageDLL",
     "Adds imgPlus into imgTarget, element by element, in place.",
     "both complex of 4-byte reals or both complex of 8-byte reals",
     "zorvan FPlusComplexImageDLL sum.npy next.npy --save imgTarget=sum.npy"},
    {"FCalculatePowerSpectrumDLL",
     "New real image \"PowerSpectrum\" holding ln(re^2 + im^2) of every element.",
     "complex of 4-byte reals (float result) or of 8-byte reals (double result)",
     "zorvan FCalculatePowerSpectrumDLL fft.npy -o power.tif"},
    {"FWarpLinear2DDLL",
     "Rescales imgSrc by factorX and factorY with linear interpolation (rows, then columns) into the existing image "
     "imgDst.",
     "4- and 8-byte real (source and destination alike)",
     "zorvan FWarpLinear2DDLL in.tif 2 2 big.tif --save imgDst=big.tif"},
    {"FDiffH",
     "The n-th order forward difference along x: each order takes right neighbour minus pixel, one column narrower.",
     "4-byte real",
     "zorvan FDiffH in.tif 1 -o diff.tif"},
};
// clang-format on

}  // namespace

const FunctionHelp* find_help(std::string_view name) {
    for (const auto& help : kHelp) {
        if (help.name == name) return &help;
    }
    return nullptr;
}

}  // namespace zorvan::cli
