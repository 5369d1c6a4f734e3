// MRC files, the format of electron microscopy and tomography, after the
// MRC2014 description: a 1024-byte header of 4-byte words, an extended
// header of NSYMBT bytes, then the sections, columns fastest.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace zorvan::files::detail {
namespace {

namespace code = dm::data_type;

constexpr std::size_t header_bytes = 1024;

// Byte offsets of the header words used here.
enum Word : std::size_t {
    nx = 0, ny = 4, nz = 8, mode = 12, mx = 28, my = 32, mz = 36, cella = 40, cellb = 52, mapc = 64,
    dmin = 76, dmax = 80, dmean = 84, ispg = 88, nsymbt = 92, nversion = 108, map_id = 208, machst = 212,
    rms = 216, nlabl = 220, labels = 224
};

// A mode, the host type it reads as and the bytes of each number in the
// file; modes 3 and 12 are widened to 4-byte reals and are not written.
struct Mode {
    std::int32_t mode;
    std::int32_t data_type;
    std::uint32_t number_bytes;
    bool widened;
};
constexpr Mode modes[] = {
    {0, code::int8, 1, false},  // signed since MRC2014
    {1, code::int16, 2, false},
    {2, code::real4, 4, false},
    {3, code::complex8, 2, true},  // complex of 16-bit integers
    {4, code::complex8, 4, false},
    {6, code::uint16, 2, false},
    {12, code::real4, 2, true},  // 16-bit IEEE reals
};

std::uint32_t word_at(const std::byte* header, std::size_t at, bool big_endian) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        value = value << 8 | static_cast<std::uint32_t>(header[at + (big_endian ? k : 3 - k)]);
    }
    return value;
}

float real_of_half(std::uint16_t half) {
    const std::uint32_t sign = std::uint32_t{half} >> 15 << 31, exponent = half >> 10 & 0x1f, mantissa = half & 0x3ff;
    if (exponent == 0) {  // zero or subnormal: mantissa x 2^-24, exact in a float
        const float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
        return sign != 0 ? -magnitude : magnitude;
    }
    // Infinities and NaN (payload kept) get the float's all-ones exponent.
    const std::uint32_t float_exponent = exponent == 0x1f ? 0xff : exponent - 15 + 127;
    const std::uint32_t bits = sign | float_exponent << 23 | mantissa << 13;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Turns `count` 2-byte numbers held at the back of `data` into 4-byte
// reals from its front, in place: each number is read before its output
// reaches it.
template <class Stored, class Convert>
void widen_in_place(std::byte* data, std::size_t count, Convert convert) {
    const std::byte* stored = data + count * 2;
    for (std::size_t k = 0; k < count; ++k) {
        Stored number;
        std::memcpy(&number, stored + k * 2, 2);
        const float value = convert(number);
        std::memcpy(data + k * 4, &value, 4);
    }
}

struct Statistics {
    float minimum = 0, maximum = -1, mean = -2, rms = -1;  // "not computed" in MRC2014
};

// DMIN, DMAX, DMEAN and RMS (the standard deviation) of real pixels, in
// doubles; left "not computed" for complex pixels and for any NaN or infinity.
Statistics statistics_of(const ImageData& image) {
    using stat_codes = dm::codes<code::int8, code::int16, code::uint16, code::real4>;
    return dm::dispatch(stat_codes{}, image.data_type, [&]<class T>() {
        const std::size_t count = image.bytes.size() / sizeof(T);
        const T* pixels = reinterpret_cast<const T*>(image.bytes.data());
        double minimum = std::numeric_limits<double>::infinity(), maximum = -minimum, sum = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const double value = pixels[k];
            minimum = std::min(minimum, value), maximum = std::max(maximum, value), sum += value;
        }
        if (!std::isfinite(sum) || !std::isfinite(minimum) || !std::isfinite(maximum)) return Statistics{};
        const double mean = sum / static_cast<double>(count);
        double squares = 0;
        for (std::size_t k = 0; k < count; ++k) squares += (pixels[k] - mean) * (pixels[k] - mean);
        return Statistics{static_cast<float>(minimum), static_cast<float>(maximum), static_cast<float>(mean),
                          static_cast<float>(std::sqrt(squares / static_cast<double>(count)))};
    }, [] { return Statistics{}; });
}

}  // namespace

ImageData read_mrc(const std::string& path, Source& source) {
    std::byte header[header_bytes];
    if (source.size() < header_bytes) fail(path, "is truncated: the file ends inside the 1024-byte MRC header");
    read_exact(source, path, 0, header, header_bytes);
    // MACHST says the byte order; files from before it was kept may have
    // none, and then a MODE readable only one way decides.
    const auto stamp = static_cast<unsigned>(header[machst]);
    const bool big_endian = stamp == 0x11 || (stamp != 0x44 && word_at(header, mode, false) > 0xffff);
    const auto number = [&](std::size_t at) { return static_cast<std::int32_t>(word_at(header, at, big_endian)); };

    const std::int32_t extents[] = {number(nx), number(ny), number(nz)};
    if (extents[0] < 1 || extents[1] < 1 || extents[2] < 1) {
        fail(path, "has the sizes " + std::to_string(extents[0]) + " x " + std::to_string(extents[1]) + " x " +
                       std::to_string(extents[2]) + " in its MRC header; each must be at least 1");
    }
    const std::int32_t mode_number = number(mode);
    const Mode* file_mode = std::find_if(std::begin(modes), std::end(modes), [&](const Mode& m) { return m.mode == mode_number; });
    if (file_mode == std::end(modes)) {
        fail(path, "MRC mode " + std::to_string(mode_number) + " is not supported; modes 0, 1, 2, 3, 4, 6 and 12 are");
    }
    ImageData image;
    image.data_type = file_mode->data_type;
    image.sizes = {std::uint64_t(extents[0]), std::uint64_t(extents[1])};
    if (extents[2] > 1) image.sizes.push_back(std::uint64_t(extents[2]));
    const std::uint64_t bytes = checked_byte_count(path, image.data_type, image.sizes);
    const std::uint64_t stored_bytes = file_mode->widened ? bytes / 2 : bytes;

    const std::int32_t extended = number(nsymbt);
    if (extended < 0 || std::uint64_t(extended) > source.size() - header_bytes) {
        fail(path, "has an extended header of " + std::to_string(extended) + " bytes, which the file does not hold");
    }
    const std::uint64_t data_offset = header_bytes + std::uint64_t(extended);
    const std::uint64_t available = source.size() - data_offset;
    if (available < stored_bytes) {
        fail(path, "is truncated: its header describes " + std::to_string(stored_bytes) +
                       " bytes of pixels, but only " + std::to_string(available) + " follow it");
    }
    // Straight into the image; modes that widen read into its back half.
    image.bytes.resize(static_cast<std::size_t>(bytes));
    std::byte* stored = image.bytes.data() + (bytes - stored_bytes);
    read_exact(source, path, data_offset, stored, static_cast<std::size_t>(stored_bytes));
    if (big_endian) reverse_each_number(stored, static_cast<std::size_t>(stored_bytes), file_mode->number_bytes);
    const std::size_t numbers = static_cast<std::size_t>(stored_bytes / 2);
    if (mode_number == 3) widen_in_place<std::int16_t>(image.bytes.data(), numbers, [](std::int16_t v) { return float(v); });
    if (mode_number == 12) widen_in_place<std::uint16_t>(image.bytes.data(), numbers, real_of_half);

    float cell_x = 0;
    const std::uint32_t cell_bits = word_at(header, cella, big_endian);
    std::memcpy(&cell_x, &cell_bits, sizeof cell_x);
    const std::int32_t grid_x = number(mx);
    if (grid_x > 0 && cell_x > 0 && std::isfinite(cell_x)) image.pixel_size = {double(cell_x) / grid_x / 10, false};
    return image;
}

void write_mrc(const std::string& path, const ImageData& image, OutputFile& out) {
    const Mode* file_mode = std::find_if(std::begin(modes), std::end(modes),
                                         [&](const Mode& m) { return !m.widened && m.data_type == image.data_type; });
    if (file_mode == std::end(modes)) {
        fail(path, "MRC files hold signed 8-bit, signed 16-bit and unsigned 16-bit integers, 4-byte reals and "
                   "complex of 4-byte reals, not " + type_name(image.data_type) + " pixels");
    }
    // 1-D as one row; 4-D as z x t sections, z fastest.
    std::uint64_t sections = 1;
    for (std::size_t k = 2; k < image.sizes.size(); ++k) sections *= image.sizes[k];
    const std::uint64_t extents[] = {image.sizes[0], image.sizes.size() > 1 ? image.sizes[1] : 1, sections};
    for (const std::uint64_t extent : extents) {
        if (extent > std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
            fail(path, "an MRC file holds at most 2147483647 pixels along each axis, not " + sizes_text(image.sizes));
        }
    }

    std::byte header[header_bytes] = {};
    const auto put = [&](std::size_t at, auto value) {
        static_assert(sizeof value == 4);
        std::memcpy(header + at, &value, 4);  // the host's byte order, little-endian
    };
    // The sampling grid is the image's own, so the cell is the pixel size
    // (in Angstrom) times the sizes; 0 when the size is unknown or
    // reciprocal (MRC has no such unit). Sections are a stack of images
    // (MRC2014: space group 0, MZ 1, the cell one section deep).
    const double angstrom = image.pixel_size.reciprocal ? 0 : image.pixel_size.value * 10;
    for (std::size_t k = 0; k < 3; ++k) {
        const auto extent = static_cast<std::int32_t>(extents[k]);
        const std::int32_t grid = k == 2 ? 1 : extent;
        put(nx + 4 * k, extent);
        put(mx + 4 * k, grid);
        put(cella + 4 * k, static_cast<float>(angstrom * grid));
        put(cellb + 4 * k, 90.f);
        put(mapc + 4 * k, static_cast<std::int32_t>(k + 1));
    }
    put(mode, file_mode->mode);
    const Statistics statistics = statistics_of(image);
    put(dmin, statistics.minimum);
    put(dmax, statistics.maximum);
    put(dmean, statistics.mean);
    put(rms, statistics.rms);
    put(ispg, std::int32_t{0});
    put(nversion, std::int32_t{20140});
    std::memcpy(header + map_id, "MAP ", 4);
    header[machst] = header[machst + 1] = std::byte{0x44};
    put(nlabl, std::int32_t{1});
    static constexpr char label[] = "ZorvanFilters64";
    std::memcpy(header + labels, label, sizeof label - 1);
    std::fill(header + labels + sizeof label - 1, header + labels + 80, std::byte{' '});

    out.write(header, header_bytes);
    out.write(image.bytes.data(), image.bytes.size());
}

}  // namespace zorvan::files::detail
