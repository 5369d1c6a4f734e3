// FCreateFwhitsmMatrixDLL through the host application: m * D^T D for the
// second-difference matrix D, with the fixed edge writes for N = 2 and 3.

#include "tests/support/fourier.h"

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FCreateFwhitsmMatrixDLL";
constexpr const char* kCounter = "CreateFwhitsmMatrixDM";

// D^T D by brute force, row r, column c; D has rows (1, -2, 1).
std::vector<double> gram_of_second_differences(std::int32_t n) {
    std::vector<double> g(std::size_t(n) * n, 0.0);
    for (std::int32_t k = 0; k + 2 < n; ++k) {
        const double row[3] = {1, -2, 1};
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) g[std::size_t(k + a) * n + (k + b)] += row[a] * row[b];
    }
    return g;
}

class PenaltyMatrix : public PluginTest {
protected:
    std::vector<double> matrix(std::int32_t n, double m) {
        const Before before{kCounter};
        const CallResult result = host.call(kName, {n, m});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        if (!result.image) {
            ADD_FAILURE() << "no image";
            return {};
        }
        EXPECT_EQ(result.image.data_type(), type::real8);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{std::uint64_t(n), std::uint64_t(n)}));
        EXPECT_EQ(result.image.name(), "");
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(result.image.active_locks(), 0);
        return result.image.pixels<double>();
    }
};

TEST_F(PenaltyMatrix, WorkedMatricesForTwoToFive) {
    EXPECT_EQ(matrix(2, 1.0), (std::vector<double>{5, -2, -2, 5}));
    EXPECT_EQ(matrix(3, 1.0), (std::vector<double>{1, -2, 1, -2, 5, -2, 1, -2, 1}));
    EXPECT_EQ(matrix(4, 1.0), (std::vector<double>{1, -2, 1, 0, -2, 5, -4, 1, 1, -4, 5, -2, 0, 1, -2, 1}));
    EXPECT_EQ(matrix(5, 2.0), (std::vector<double>{2, -4, 2, 0, 0,     //
                                                   -4, 10, -8, 2, 0,   //
                                                   2, -8, 12, -8, 2,   //
                                                   0, 2, -8, 10, -4,   //
                                                   0, 0, 2, -4, 2}));
    EXPECT_EQ(matrix(6, 0.0), std::vector<double>(36, 0.0)) << "m = 0 gives the zero matrix";
}

TEST_F(PenaltyMatrix, FromFourOnItIsTheScaledGramMatrixWithOneOrTwoThreads) {
    std::mt19937 rng(5);
    for (const std::int32_t n : {4, 5, 7, 16, 33, 200}) {
        const double m = random_values<double>(1, rng)[0];
        SCOPED_TRACE(::testing::Message() << "N " << n << ", m " << m);
        std::vector<double> want = gram_of_second_differences(n);
        for (double& v : want) v = v == 0 ? 0.0 : v * m;
        const auto one = with_threads(1, [&] { return matrix(n, m); });
        EXPECT_TRUE(same_values(one, want));
        EXPECT_TRUE(same_values(with_threads(2, [&] { return matrix(n, m); }), one));
    }
}

// Below 2 the edge writes would fall outside; from 46341 on N*N leaves the
// 32-bit range. 46340 passes and meets the host's allocation limit.
TEST_F(PenaltyMatrix, RefusesWidthsBelowTwoOrWithTooManyElements) {
    for (const std::int32_t n : {1, 0, -1, -2, std::numeric_limits<std::int32_t>::min(), 46341,
                                 std::numeric_limits<std::int32_t>::max()}) {
        SCOPED_TRACE(::testing::Message() << "N " << n);
        const Before before{kCounter};
        expect_refusal(host.call(kName, {n, 1.0}), before);
    }
    host.set_allocation_limit(1 << 20);
    const Before before{kCounter};
    const CallResult largest = host.call(kName, {46340, 1.0});
    expect_exception(largest, before);
    EXPECT_EQ(largest.error->message, "The image is too large to allocate.");
    expect_exception(host.call(kName, {363, 1.0}), before);  // 363 * 363 * 8 > 2^20
}

}  // namespace
}  // namespace zorvan::testing
