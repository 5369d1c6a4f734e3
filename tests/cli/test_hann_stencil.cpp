// The Hann-windowed spectrum the Wiener filter takes from the plane's own
// transform by the window's stencil, against the route it replaces: the
// plug-in's FFTWindow, then the transform of the windowed plane.

#include "tests/support/command_test.h"
#include "wiener/transforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

namespace type = zorvan::host::data_type;
using zorvan::wiener::RealTransforms;

class HannStencil : public zorvan::testing::CommandTest {};

TEST_F(HannStencil, GivesTheTransformOfTheFFTWindowedPlaneToFloatRounding) {
    // Odd and even sides, both ways; a mean level well above the noise, so
    // that the zero frequency dominates and its neighbours carry its leak.
    const std::vector<std::pair<std::size_t, std::size_t>> sizes = {{16, 16}, {17, 19}, {18, 15}, {21, 20}, {48, 33}};
    std::mt19937 random(7);
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        std::normal_distribution<float> noise(5.0f, 1.0f);
        std::vector<float> plane(w * h);
        for (float& v : plane) v = noise(random);
        // A gradient and a stripe, so that no symmetry hides a wrong conjugate.
        for (std::size_t y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < w; ++x) {
                plane[y * w + x] += 0.3f * static_cast<float>(x) + (y % 3 == 0 ? 2.0f : 0.0f);
            }
        }
        const auto input = host_.make_image(type::real4, {w, h}, plane.data(), plane.size() * sizeof(float));
        const auto result = host_.call("FFTWindow", {input, std::int32_t{0}, nullptr});
        ASSERT_TRUE(result.ok() && result.image);
        const auto windowed = result.image.pixels<float>();

        RealTransforms transforms(w, h);
        const std::size_t hw = transforms.half_width();
        transforms.forward(windowed.data());
        const std::vector<float> expected(transforms.half(), transforms.half() + 2 * hw * h);
        transforms.forward(plane.data());
        std::vector<float> centred(2 * w * h), amplitude(w * h), half_power(hw * h);
        zorvan::wiener::hann_windowed_spectrum(transforms.half(), w, h, centred.data(), amplitude.data(),
                                               half_power.data());

        // Each transform rounds in float through about log2(w h) stages, the
        // stencil in two more, relative to the largest term: the zero frequency.
        double largest = 0;
        for (std::size_t i = 0; i < hw * h; ++i) {
            largest = std::max(largest, std::hypot(double(expected[2 * i]), double(expected[2 * i + 1])));
        }
        const double tolerance = 4 * std::numeric_limits<float>::epsilon() * std::log2(double(w * h)) * largest;
        for (std::size_t l = 0; l < h; ++l) {
            for (std::size_t k = 0; k < w; ++k) {
                // Element (k, l) of the full transform, from the half by its symmetry.
                const bool inside = k <= w / 2;
                const std::size_t hk = inside ? k : w - k, hl = inside ? l : (h - l) % h;
                const double re = expected[2 * (hl * hw + hk)];
                const double im = inside ? expected[2 * (hl * hw + hk) + 1] : -expected[2 * (hl * hw + hk) + 1];
                const std::size_t cx = (k + w / 2) % w, cy = (l + h / 2) % h;
                ASSERT_NEAR(centred[2 * (cy * w + cx)], re, tolerance) << k << ", " << l;
                ASSERT_NEAR(centred[2 * (cy * w + cx) + 1], im, tolerance) << k << ", " << l;
                const double modulus = std::hypot(re, im);
                ASSERT_NEAR(amplitude[cy * w + cx], modulus, tolerance) << k << ", " << l;
                if (inside) {
                    // The power on the half plane: (k, l + h/2).
                    ASSERT_NEAR(half_power[cy * hw + k], modulus * modulus, 2 * tolerance * largest) << k << ", " << l;
                }
            }
        }
    }
}

}  // namespace
