#pragma once
// The moving average written out in its fixed running-sum order, on one real
// part of a packed nx x ny x nz volume (x fastest); a complex image is
// averaged part by part. Out of place: a 2-D box per plane, then a 1-D pass
// along z. In place: 1-D passes along x, y and z, none along 1 pixel.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zorvan::testing::reference {

using Index = std::int64_t;

struct shape {
    Index nx, ny, nz;
};

// Number of positions of 0..n-1 within distance r of i.
inline Index clipped_count(Index i, Index n, Index r) {
    return std::min(n - 1, i + r) - std::max<Index>(0, i - r) + 1;
}

// One plane: column sums follow the rows (the leaving row is subtracted
// before the entering one is added), a row sum slides over them the same
// way, and each output is that sum divided by its clipped window's size.
template <class F>
void box_plane(const F* in, F* out, Index nx, Index ny, Index r) {
    std::vector<F> column(static_cast<std::size_t>(nx), F(0));
    for (Index y = 0; y < std::min(ny, r); ++y)
        for (Index x = 0; x < nx; ++x) column[x] += in[y * nx + x];
    for (Index y = 0; y < ny; ++y) {
        if (y - r - 1 >= 0)
            for (Index x = 0; x < nx; ++x) column[x] -= in[(y - r - 1) * nx + x];
        if (y + r < ny)
            for (Index x = 0; x < nx; ++x) column[x] += in[(y + r) * nx + x];
        F sum = 0;
        for (Index x = 0; x < std::min(nx, r); ++x) sum += column[x];
        for (Index x = 0; x < nx; ++x) {
            if (x - r - 1 >= 0) sum -= column[x - r - 1];
            if (x + r < nx) sum += column[x + r];
            out[y * nx + x] = sum / static_cast<F>(clipped_count(y, ny, r) * clipped_count(x, nx, r));
        }
    }
}

// One line of n values `step` apart, rewritten in place from a copy of it.
// Where a value enters and another leaves, their difference is rounded
// first; the mean is s * (1/W), rescaled by W / c where the window is cut.
template <class F>
void line_pass(F* first, Index step, Index n, Index r) {
    std::vector<F> line(static_cast<std::size_t>(n));
    for (Index i = 0; i < n; ++i) line[i] = first[i * step];
    const F window = static_cast<F>(2 * r + 1);
    const F inverse = F(1) / window;
    F sum = 0;
    for (Index i = 0; i < std::min(r, n); ++i) sum += line[i];
    for (Index i = 0; i < n; ++i) {
        const bool enters = i + r < n, leaves = i - r - 1 >= 0;
        if (enters && leaves) sum += (line[i + r] - line[i - r - 1]);
        else if (enters) sum += line[i + r];
        else if (leaves) sum -= line[i - r - 1];
        first[i * step] = enters && leaves ? sum * inverse
                                           : (sum * inverse) * (window / static_cast<F>(clipped_count(i, n, r)));
    }
}

// Every line of the volume along axis 0 (x), 1 (y) or 2 (z).
template <class F>
void pass_along(std::vector<F>& volume, shape s, int axis, Index r) {
    const Index size[3] = {s.nx, s.ny, s.nz};
    const Index step[3] = {1, s.nx, s.nx * s.ny};
    for (Index z = 0; z < (axis == 2 ? 1 : s.nz); ++z)
        for (Index y = 0; y < (axis == 1 ? 1 : s.ny); ++y)
            for (Index x = 0; x < (axis == 0 ? 1 : s.nx); ++x)
                line_pass(volume.data() + x + s.nx * y + s.nx * s.ny * z, step[axis], size[axis], r);
}

template <class F>
std::vector<F> out_of_place(const std::vector<F>& source, shape s, Index r) {
    std::vector<F> result(source.size());
    const Index plane = s.nx * s.ny;
    for (Index z = 0; z < s.nz; ++z) box_plane(source.data() + z * plane, result.data() + z * plane, s.nx, s.ny, r);
    if (s.nz > 1) pass_along(result, s, 2, r);
    return result;
}

template <class F>
std::vector<F> in_place(std::vector<F> volume, shape s, Index r) {
    const Index size[3] = {s.nx, s.ny, s.nz};
    for (int axis = 0; axis < 3; ++axis)
        if (size[axis] > 1) pass_along(volume, s, axis, r);
    return volume;
}

}  // namespace zorvan::testing::reference
