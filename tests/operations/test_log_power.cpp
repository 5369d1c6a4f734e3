// FCalculatePowerSpectrumDLL called through the host application:
// ln(re*re + im*im) in the input's own precision, from the first plane, into a
// new real image "PowerSpectrum"; every other type is refused silently.

#include "tests/support/plugin_test.h"

#include <sys/mman.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "CalculatePowerSpectrumDM";
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Element {
    double re, im;
};

// One plane of 12 elements; the worked answers are checked by index below.
const std::vector<Element> kPlane = {
    {3, 4},     {0, 0},      {-0.0, -0.0}, {1, 0},           {1e20, 0},       {1e-30, 1e-30},
    {-3, -4},   {0.5, -1.25}, {kInf, 0},   {std::nan(""), 1}, {-1e-3, 7e10},   {123.456, -0.001},
};

template <class F>
std::vector<F> interleaved(const std::vector<Element>& elements) {
    std::vector<F> parts;
    for (const Element& e : elements) {
        parts.push_back(static_cast<F>(e.re));
        parts.push_back(static_cast<F>(e.im));
    }
    return parts;
}

// The squares and their sum rounded in F, then the logarithm of F.
template <class F>
F log_power(F re, F im) {
    const F square_re = re * re;
    const F square_im = im * im;
    const F sum = square_re + square_im;
    return std::log(sum);
}

class PowerSpectrum : public PluginTest {
protected:
    template <class F>
    void check_spectrum(std::int32_t input_type, std::int32_t result_type, const std::vector<std::uint64_t>& sizes) {
        // Later planes hold other values, which must not be read.
        std::vector<Element> elements = kPlane;
        const std::size_t planes = sizes.size() > 2 ? sizes[2] : 1;
        for (std::size_t i = kPlane.size(); i < kPlane.size() * planes; ++i) elements.push_back({double(i), -2.0 * i});
        const std::vector<F> parts = interleaved<F>(elements);
        const Image input = image(input_type, sizes, parts);
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);

        const CallResult result = host.call("FCalculatePowerSpectrumDLL", {input});
        ASSERT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(Host::object_counts().images, images + 1);
        ASSERT_TRUE(result.image);
        const std::uint64_t width = sizes[0], height = sizes.size() > 1 ? sizes[1] : 1;
        EXPECT_EQ(result.image.data_type(), result_type);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{width, height}));
        EXPECT_EQ(result.image.name(), "PowerSpectrum");
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(input.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(input.data_changed_count(), 0u);
        EXPECT_EQ(std::memcmp(input.data(), parts.data(), parts.size() * sizeof(F)), 0) << "the input changed";
        EXPECT_EQ(result.image.active_locks() + input.active_locks(), 0);

        const std::vector<F> got = result.image.pixels<F>();
        ASSERT_EQ(got.size(), width * height);
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_TRUE(same_bits(got[i], log_power(parts[2 * i], parts[2 * i + 1])))
                << "element " << i << ": " << got[i];
        }
        // Worked answers: ln 25, -inf for zero of either sign, ln 1 = 0; in
        // single precision 1e20 squared overflows and 1e-30 squared underflows.
        if constexpr (sizeof(F) == 8) {
            EXPECT_EQ(got[0], 3.2188758248682006);
            EXPECT_NEAR(got[4], 92.10340371976183, 1e-13);
            EXPECT_NEAR(got[5], -137.4619583990828, 1e-13);
        } else {
            EXPECT_EQ(got[0], std::log(25.0f));
            EXPECT_EQ(got[4], std::numeric_limits<float>::infinity());
            EXPECT_EQ(got[5], -std::numeric_limits<float>::infinity());
        }
        EXPECT_EQ(got[1], -std::numeric_limits<F>::infinity());
        EXPECT_EQ(got[2], -std::numeric_limits<F>::infinity());
        EXPECT_EQ(got[3], F(0));
        EXPECT_EQ(got[8], std::numeric_limits<F>::infinity());
        EXPECT_TRUE(std::isnan(got[9]));
    }
};

TEST_F(PowerSpectrum, IsTheLogOfTheSquaredModulusInTheInputPrecisionOverTheFirstPlane) {
    // 1-D: the host answers 1 for the missing height.
    const std::vector<std::vector<std::uint64_t>> shapes = {{4, 3}, {2, 6}, {12}, {4, 3, 3}, {3, 4, 2}};
    for (const auto& sizes : shapes) {
        SCOPED_TRACE(::testing::Message() << sizes.size() << "-D, width " << sizes[0]);
        check_spectrum<float>(type::complex8, type::real4, sizes);
        check_spectrum<double>(type::complex16, type::real8, sizes);
    }
}

TEST_F(PowerSpectrum, RefusesEveryOtherTypeWithANullImageAndNoError) {
    for (const std::int32_t code : {type::real4, type::real8, type::int16, type::uint8, type::int32, type::int8,
                                    type::uint16, type::uint32, type::binary, type::rgb, type::packed_complex}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        const Image input = host.make_image(code, {4, 3});
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FCalculatePowerSpectrumDLL", {input});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.raised, 0);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(Host::object_counts().images, images) << "an image was created";
        EXPECT_EQ(additions(kCounter), calls + 1) << "refusals are timed";
        EXPECT_TRUE(input.lock_flags().empty());
        EXPECT_EQ(input.data_changed_count(), 0u);
    }
}

// An element count w*h beyond the signed 32-bit range is refused the same
// way. The input is only reserved address space, which a refusal never reads.
TEST_F(PowerSpectrum, RefusesAnElementCountBeyondInt32) {
    constexpr std::uint64_t width = 65536, height = 32769;  // 2^31 + 2^16 elements
    constexpr std::uint64_t bytes = width * height * 8;
    void* reserved = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) GTEST_SKIP() << "cannot reserve the address space";
    const std::shared_ptr<void> mapping(reserved, [](void* p) { munmap(p, bytes); });
    host.set_allocation_limit(bytes);
    const Image input = host.wrap_image(type::complex8, {width, height}, reserved, mapping);
    const auto images = Host::object_counts().images;
    const CallResult result = host.call("FCalculatePowerSpectrumDLL", {input});
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.raised, 0);
    EXPECT_FALSE(result.image);
    EXPECT_EQ(Host::object_counts().images, images);
    EXPECT_EQ(additions(kCounter), 1u);
    EXPECT_TRUE(input.lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
