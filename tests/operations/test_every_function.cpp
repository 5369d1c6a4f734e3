// What every script function shares, a row each in the published order: a valid
// call (counted once, inputs unchanged, its lock flags, nothing left locked), an
// invalid one (one script error or one silent refusal), and a null image.

#include "tests/support/operation_cases.h"

#include <functional>

namespace zorvan::testing {
namespace {

class EveryFunction : public OperationTest {};

TEST_F(EveryFunction, IsPublishedByItsPrototypeInTableOrder) {
    std::vector<std::string> prototypes;
    for (const script_function& function : script_functions) prototypes.push_back(prototype_of(function));
    EXPECT_EQ(host.published_prototypes(), prototypes);
}

TEST_F(EveryFunction, SharesItsFramesChecks) {
    using A = std::vector<Arg>;
    using Args = std::function<A()>;
    struct Row {
        std::string_view name;
        Args valid;
        std::vector<std::uint32_t> first_locks;  // of the first image argument after the valid call
        int written;                             // the argument the valid call writes, or -1
        Args invalid;
        const char* message;                     // of the invalid call; empty: a silent refusal
    };
    const auto real4 = [this](std::vector<std::uint64_t> sizes) { return patterned(type::real4, std::move(sizes)); };
    const auto of = [this](std::int32_t code, std::vector<std::uint64_t> sizes) { return patterned(code, sizes); };
    std::vector<float> spot(12 * 12, 0.0f);
    spot[6 * 12 + 6] = 1;
    const std::vector<std::uint32_t> one{1}, strided{32}, none{};
    const char* const kInvalid = "Invalid data type.";
    const Row rows[] = {
        {"FMovingAverage2", [&] { return A{real4({5, 4}), 1, Arg::slot(), Arg::slot()}; }, strided, -1,
         [&] { return A{of(type::int16, {5, 4}), 1, Arg::slot(), Arg::slot()}; }, "Invalid data type."},
        {"FMovingAverage", [&] { return A{real4({5, 4}), 1, nullptr}; }, strided, -1,
         [&] { return A{of(type::int16, {5, 4}), 1, nullptr}; }, "Invalid data type."},
        {"FMedianFilter", [&] { return A{of(type::real8, {5, 4}), 1, nullptr}; }, one, -1,
         [&] { return A{of(type::int16, {5, 4}), 1, nullptr}; }, "All data type should be Real."},
        {"FSurvey", [&] { return A{of(type::uint16, {3, 2}), Arg::out(), Arg::out(), Arg::out(), Arg::out()}; },
         {32, 32}, -1, [&] { return A{of(type::complex8, {3}), Arg::out(1), Arg::out(2), Arg::out(3), Arg::out(4)}; },
         kInvalid},
        {"FRadialSurvey", [&] { return A{real4({5, 5}), 2, 2, 1.0, 1.0}; }, one, -1,
         [&] { return A{of(type::int16, {5, 5}), 2, 2, 1.0, 1.0}; }, "Data type should be Real."},
        {"FGetCenterOfMass",
         [&] { return A{image(type::real4, {12, 12}, spot), Arg::out(5), Arg::out(5), 3.0, 9, 0.0}; }, one, -1,
         [&] { return A{of(type::complex8, {8, 8}), Arg::out(4), Arg::out(4), 3.0, 10, 0.0}; },
         "imgSrc should be Real."},
        {"FWeight", [&] { return A{real4({4, 3}), real4({5}), 1, 1, 1.0f, 1.0f, 0, nullptr}; }, one, -1,
         [&] { return A{of(type::real8, {4, 3}), real4({5}), 1, 1, 1.0f, 1.0f, 0, nullptr}; },
         "imgSrc should be Real 4 or Complex 8."},
        {"FFTWindow", [&] { return A{real4({6, 4}), 0, nullptr}; }, one, -1,
         [&] { return A{of(type::real8, {6, 4}), 0, nullptr}; }, "All data type should be Real 4."},
        {"FMaximumFilter", [&] { return A{of(type::int16, {5, 4}), 1, nullptr}; }, one, -1,
         [&] { return A{of(type::complex8, {5, 4}), 1, nullptr}; }, "Invalid image type."},
        {"FInvertRotateDLL", [&] { return A{real4({4, 3})}; }, one, -1, [&] { return A{of(type::complex8, {4})}; }, ""},
        {"FRadialWarpDLL", [&] { return A{of(type::uint8, {5, 5}), of(type::real8, {3}), 1.0, 1.0}; }, none, -1,
         [&] { return A{real4({5, 5}), of(type::complex8, {3}), 1.0, 1.0}; }, ""},
        {"FMeanComplexDLL", [&] { return A{of(type::complex8, {2, 3}), Arg::out(), Arg::out()}; }, one, -1,
         [&] { return A{real4({2, 3}), Arg::out(1), Arg::out(2)}; }, ""},
        {"FCreateFwhitsmMatrixDLL", [] { return A{4, 1.0}; }, none, -1, [] { return A{1, 1.0}; }, ""},
        {"FElementWiseProductComplexByRealDLL", [&] { return A{of(type::complex8, {4, 4}), real4({4, 4})}; }, one, -1,
         [&] { return A{real4({4, 4}), of(type::complex8, {4, 4})}; }, ""},
        {"FCreateWienerMaskDLL", [&] { return A{real4({4, 4}), real4({4, 4})}; }, one, -1,
         [&] { return A{real4({4, 4}), of(type::real8, {4, 4})}; }, ""},
        {"FPlusComplexImageDLL", [&] { return A{of(type::complex16, {3, 2}), of(type::complex16, {3, 2})}; }, one, 0,
         [&] { return A{of(type::complex16, {3, 2}), of(type::complex8, {3, 2})}; }, ""},
        {"FCalculatePowerSpectrumDLL", [&] { return A{of(type::complex16, {4, 3})}; }, one, -1,
         [&] { return A{real4({4, 3})}; }, ""},
        {"FWarpLinear2DDLL", [&] { return A{real4({4, 4}), 2.0, 2.0, real4({8, 8})}; }, one, 3,
         [&] { return A{real4({4, 4}), 2.0, 2.0, of(type::real8, {8, 8})}; }, ""},
        {"FDiffH", [&] { return A{real4({5, 2}), 1}; }, one, -1, [&] { return A{of(type::int16, {5, 2}), 1}; },
         "Data type should be Real 4."},
    };
    ASSERT_EQ(std::size(rows), std::size(script_functions));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const script_function& function = script_functions[i];
        SCOPED_TRACE(function.name);
        ASSERT_EQ(row.name, function.name) << "rows in the table's order";
        // A silent refusal exactly where the table says so.
        EXPECT_EQ(*row.message == '\0', function.refuses == refusal::silent);
        {
            std::vector<Arg> args = row.valid();
            std::vector<std::vector<std::byte>> bytes;
            for (const Arg& arg : args) bytes.push_back(arg.image().bytes());
            const auto images = Host::object_counts().images;
            const CallResult result = succeed(function.name, args);
            EXPECT_TRUE(result.image || result.number != 0 || function.prototype.starts_with("void "));
            const Image* first = nullptr;
            for (std::size_t k = 0; k < args.size(); ++k) {
                if (args[k].kind() == Arg::Kind::image_ref) continue;  // an output
                if (args[k].image() && first == nullptr) first = &args[k].image();
                if (int(k) != row.written) { EXPECT_EQ(args[k].image().bytes(), bytes[k]) << "argument " << k; }
                EXPECT_EQ(args[k].image().data_changed_count(), 0u) << "argument " << k;
            }
            if (first) { EXPECT_EQ(first->lock_flags(), row.first_locks); }
            if (result.image) {
                EXPECT_EQ(result.image.data_changed_count(), 1u) << "a new image is announced";
                // The moving average's views lock with 32, like its source's.
                EXPECT_EQ(result.image.lock_flags(), function.name == "FMovingAverage" ? strided : one);
                EXPECT_EQ(Host::object_counts().images, images + 1);
            }
        }
        const std::vector<Arg> invalid = row.invalid();
        fail(function.name, invalid, row.message);
        // Only the survey locks its image (for the sizes) before the type check.
        if (!invalid.empty() && invalid[0].image()) {
            EXPECT_EQ(invalid[0].image().lock_flags(), function.name == "FSurvey" ? strided : none);
        }
        // A null image ends the call with a script error, which the
        // Fourier-space family does not count.
        std::vector<Arg> args = row.valid();
        for (Arg& arg : args) {
            if (arg.kind() != Arg::Kind::image) continue;
            arg = nullptr;
            fail(function.name, args, nullptr, function.refuses == refusal::script_error);
            break;
        }
    }
}

}  // namespace
}  // namespace zorvan::testing
