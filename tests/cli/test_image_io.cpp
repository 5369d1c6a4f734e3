// The zorvan command's image files: TIFF, grey PNG and NumPy .npy round
// trips of every pixel type with their extreme values and NaN payloads,
// files made by other writers (libtiff and libpng used directly, and files
// put together byte by byte here), the preview's scaling on worked examples,
// malformed, truncated and unsupported files, and writes that fail without
// leaving anything behind.

#include "files/image_formats.h"
#include "files/image_io.h"
#include "host/host.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <limits>
#include <random>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvan::testing {
namespace {

using files::FileError;
using files::ImageData;
namespace type = host::data_type;
using Bytes = std::vector<std::byte>;
using Sizes = std::vector<std::uint64_t>;

constexpr std::int32_t kFileTypes[] = {type::int16, type::real4,  type::complex8, type::uint8, type::int32,
                                       type::int8,  type::uint16, type::uint32,   type::real8, type::complex16};

template <class... T>
Bytes bytes_of(const T&... values) {
    Bytes out;
    (
        [&] {
            const auto* p = reinterpret_cast<const std::byte*>(&values);
            out.insert(out.end(), p, p + sizeof values);
        }(),
        ...);
    return out;
}

template <class T>
Bytes bytes_of_vector(const std::vector<T>& values) {
    Bytes out(values.size() * sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

Bytes text_bytes(std::string_view text) {
    Bytes out(text.size());
    std::memcpy(out.data(), text.data(), text.size());
    return out;
}

// Random pixels whose first numbers are the bit patterns most easily lost:
// integer extremes, quiet and signalling NaNs with payloads, infinities,
// -0 and the smallest denormal.
ImageData random_image(std::int32_t code, Sizes sizes, unsigned seed) {
    std::uint64_t count = 1;
    for (auto s : sizes) count *= s;
    const std::uint32_t element = files::detail::element_bytes(code);
    ImageData image{code, sizes, Bytes(count * element)};
    std::mt19937 random(seed);
    for (auto& b : image.bytes) b = static_cast<std::byte>(code == type::binary ? random() % 2 : random() % 256);
    const bool complex = code == type::complex8 || code == type::complex16;
    const std::uint32_t width = complex ? element / 2 : element;
    const std::vector<std::uint64_t> special[] = {
        {},
        {0x00, 0xff, 0x7f, 0x80},
        {0x0000, 0xffff, 0x7fff, 0x8000},
        {},
        {0x7fc12345, 0x7f800001, 0xff800000, 0x80000000, 0x00000001, 0x7fffffff, 0xffffffff},
        {},
        {},
        {},
        {0x7ff8000000000123, 0x7ff0000000000001, 0xfff0000000000000, 0x8000000000000000, 1, 0x7fffffffffffffff},
    };
    if (code != type::binary) {
        const auto& patterns = special[width];
        for (std::size_t k = 0; k < patterns.size() && (k + 1) * width <= image.bytes.size(); ++k) {
            std::memcpy(image.bytes.data() + k * width, &patterns[k], width);
        }
    }
    return image;
}

std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const FileError& error) {
        return error.what();
    }
    return "<no FileError>";
}

#define EXPECT_FILE_ERROR(action, path, fragment)                               \
    do {                                                                        \
        const std::string message_ = message_of([&] { action; });               \
        EXPECT_EQ(message_.rfind(std::string(path) + ": ", 0), 0u) << message_; \
        EXPECT_NE(message_.find(fragment), std::string::npos) << message_;      \
    } while (0)

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorvan-image-io-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    static Bytes contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text_bytes(std::string_view(chars.data(), chars.size()));
    }

    static void put(const std::string& file, const Bytes& bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string dir_;
};

void expect_same_image(const ImageData& read, std::int32_t code, const Sizes& sizes, const Bytes& bytes) {
    EXPECT_EQ(read.data_type, code);
    EXPECT_EQ(read.sizes, sizes);
    EXPECT_TRUE(read.bytes == bytes) << "pixels differ";
}

// ---- TIFF ----

// One page as another writer would make it, through libtiff directly.
struct TiffPage {
    std::uint32_t width, height;
    std::uint16_t bits, format;
    Bytes pixels;  // packed rows, host byte order
    std::uint16_t samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t tile = 0;  // square tiles of this side, or strips when 0
    std::uint32_t rows_per_strip = 0;
};

void write_with_libtiff(const std::string& file, const char* mode, const std::vector<TiffPage>& pages) {
    TIFF* tif = TIFFOpen(file.c_str(), mode);
    ASSERT_NE(tif, nullptr);
    for (const TiffPage& page : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, unsigned{page.bits});
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, unsigned{page.format});
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, unsigned{page.samples});
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, unsigned{page.photometric});
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, unsigned{PLANARCONFIG_CONTIG});
        TIFFSetField(tif, TIFFTAG_COMPRESSION, unsigned{page.compression});
        std::vector<std::uint16_t> map(std::size_t{1} << std::min<unsigned>(page.bits, 8));
        if (page.photometric == PHOTOMETRIC_PALETTE) {
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        }
        const std::size_t row_bytes = (std::size_t{page.width} * page.bits * page.samples + 7) / 8;
        if (page.tile != 0) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, page.tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, page.tile);
            const std::size_t element = page.bits / 8;
            for (std::uint32_t y0 = 0; y0 < page.height; y0 += page.tile) {
                for (std::uint32_t x0 = 0; x0 < page.width; x0 += page.tile) {
                    Bytes tile(std::size_t{page.tile} * page.tile * element);
                    for (std::uint32_t y = y0; y < std::min(y0 + page.tile, page.height); ++y) {
                        const std::size_t span = (std::min(x0 + page.tile, page.width) - x0) * element;
                        std::memcpy(tile.data() + (y - y0) * page.tile * element,
                                    page.pixels.data() + y * row_bytes + x0 * element, span);
                    }
                    ASSERT_GT(TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, 0), tile.data(),
                                                   static_cast<tmsize_t>(tile.size())),
                              0);
                }
            }
        } else {
            const std::uint32_t rows = page.rows_per_strip ? page.rows_per_strip : page.height;
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
            for (std::uint32_t row = 0, strip = 0; row < page.height; row += rows, ++strip) {
                // libtiff byte-swaps what it writes in place.
                Bytes copy(page.pixels.begin() + row * row_bytes,
                           page.pixels.begin() + std::min(row + rows, page.height) * row_bytes);
                ASSERT_GT(TIFFWriteEncodedStrip(tif, strip, copy.data(), static_cast<tmsize_t>(copy.size())), 0);
            }
        }
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

// A one-strip, uncompressed classic TIFF put together byte by byte: header,
// directory at offset 8, then `data` (already in the file's byte order).
// `claimed_bytes` is the strip byte count written in the directory.
Bytes handmade_tiff(bool big_endian, std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                    std::uint16_t format, const Bytes& data, std::uint32_t claimed_bytes,
                    std::uint16_t compression = COMPRESSION_NONE) {
    Bytes out;
    auto put = [&](std::uint64_t value, int count) {
        for (int k = 0; k < count; ++k) {
            const int shift = big_endian ? 8 * (count - 1 - k) : 8 * k;
            out.push_back(static_cast<std::byte>(value >> shift & 0xff));
        }
    };
    const std::uint32_t entries = 10;
    const std::uint32_t data_offset = 8 + 2 + entries * 12 + 4;
    put(big_endian ? 0x4d4d : 0x4949, 2);
    put(42, 2);
    put(8, 4);
    put(entries, 2);
    auto entry = [&](std::uint16_t tag, std::uint16_t field_type, std::uint32_t value) {
        put(tag, 2);
        put(field_type, 2);
        put(1, 4);
        if (field_type == 3) {  // SHORT: left-justified in the value field
            put(value, 2);
            put(0, 2);
        } else {
            put(value, 4);
        }
    };
    entry(TIFFTAG_IMAGEWIDTH, 4, width);
    entry(TIFFTAG_IMAGELENGTH, 4, height);
    entry(TIFFTAG_BITSPERSAMPLE, 3, bits);
    entry(TIFFTAG_COMPRESSION, 3, compression);
    entry(TIFFTAG_PHOTOMETRIC, 3, PHOTOMETRIC_MINISBLACK);
    entry(TIFFTAG_STRIPOFFSETS, 4, data_offset);
    entry(TIFFTAG_SAMPLESPERPIXEL, 3, 1);
    entry(TIFFTAG_ROWSPERSTRIP, 4, height);
    entry(TIFFTAG_STRIPBYTECOUNTS, 4, claimed_bytes);
    entry(TIFFTAG_SAMPLEFORMAT, 3, format);
    put(0, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Each number reversed: what a big-endian writer stores.
Bytes big_endian_numbers(const Bytes& little, std::size_t width) {
    Bytes out = little;
    for (std::size_t k = 0; k < out.size(); k += width) std::reverse(out.begin() + k, out.begin() + k + width);
    return out;
}

TEST_F(ImageFiles, TiffRoundTripsEveryPixelTypeAndShape) {
    // 1-D reads back as one row; 300 x 257 spans several strips.
    const std::pair<Sizes, Sizes> shapes[] = {
        {{7}, {7, 1}}, {{5, 3}, {5, 3}}, {{4, 3, 5}, {4, 3, 5}}, {{300, 257}, {300, 257}}};
    unsigned seed = 1;
    for (const std::int32_t code : kFileTypes) {
        for (const auto& [sizes, read_sizes] : shapes) {
            SCOPED_TRACE("type " + std::to_string(code) + ", " + files::detail::sizes_text(sizes));
            const ImageData image = random_image(code, sizes, seed++);
            files::write_image(path("round.tif"), image);
            expect_same_image(files::read_image(path("round.tif")), code, read_sizes, image.bytes);
        }
    }
}

TEST_F(ImageFiles, TiffWritesFourDimensionsAsPagesAndBinaryAsBytes) {
    // Planes of dimensions 2 and 3 in memory order: a 3-D stack of 2 x 3 pages.
    const ImageData four = random_image(type::int16, {3, 2, 2, 3}, 7);
    files::write_image(path("four.tiff"), four);
    expect_same_image(files::read_image(path("four.tiff")), type::int16, {3, 2, 6}, four.bytes);

    const ImageData binary{type::binary,
                           {4, 2},
                           bytes_of(std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{1}, std::uint8_t{0},
                                    std::uint8_t{255}, std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{1})};
    files::write_image(path("binary.tif"), binary);
    expect_same_image(files::read_image(path("binary.tif")), type::uint8, {4, 2}, binary.bytes);
}

TEST_F(ImageFiles, TiffReadsTilesStripsAndCompressionOfOtherWriters) {
    ASSERT_TRUE(TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE));
    ASSERT_TRUE(TIFFIsCODECConfigured(COMPRESSION_LZW));
    ASSERT_TRUE(TIFFIsCODECConfigured(COMPRESSION_PACKBITS));

    // 40 x 35 in 16 x 16 tiles: the right and bottom tiles hang over.
    const ImageData tiled = random_image(type::uint16, {40, 35}, 11);
    write_with_libtiff(
        path("tiled.tif"), "w",
        {{40, 35, 16, SAMPLEFORMAT_UINT, tiled.bytes, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 16}});
    expect_same_image(files::read_image(path("tiled.tif")), type::uint16, {40, 35}, tiled.bytes);

    // Three LZW pages of 7-row strips (the last strip short); PackBits bytes.
    const ImageData stack = random_image(type::real4, {20, 30, 3}, 12);
    std::vector<TiffPage> pages;
    for (int p = 0; p < 3; ++p) {
        pages.push_back({20, 30, 32, SAMPLEFORMAT_IEEEFP,
                         Bytes(stack.bytes.begin() + p * 2400, stack.bytes.begin() + (p + 1) * 2400), 1,
                         PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 0, 7});
    }
    write_with_libtiff(path("stack.tif"), "w", pages);
    expect_same_image(files::read_image(path("stack.tif")), type::real4, {20, 30, 3}, stack.bytes);

    const ImageData packed = random_image(type::int8, {33, 9}, 13);
    write_with_libtiff(
        path("packbits.tif"), "w",
        {{33, 9, 8, SAMPLEFORMAT_INT, packed.bytes, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS, 0, 2}});
    expect_same_image(files::read_image(path("packbits.tif")), type::int8, {33, 9}, packed.bytes);
}

TEST_F(ImageFiles, TiffReadsBigEndianFilesNumberByNumber) {
    // A complex pixel is two numbers, each stored big-endian on its own: the
    // real part must stay first.
    const struct {
        std::int32_t code;
        std::uint16_t bits, format;
        std::size_t number_width;
    } cases[] = {
        {type::int16, 16, SAMPLEFORMAT_INT, 2},
        {type::uint32, 32, SAMPLEFORMAT_UINT, 4},
        {type::real8, 64, SAMPLEFORMAT_IEEEFP, 8},
        {type::complex8, 64, SAMPLEFORMAT_COMPLEXIEEEFP, 4},
        {type::complex16, 128, SAMPLEFORMAT_COMPLEXIEEEFP, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.code));
        const ImageData image = random_image(c.code, {3, 2}, 20 + c.code);
        const Bytes file = handmade_tiff(true, 3, 2, c.bits, c.format, big_endian_numbers(image.bytes, c.number_width),
                                         static_cast<std::uint32_t>(image.bytes.size()));
        put(path("big.tif"), file);
        expect_same_image(files::read_image(path("big.tif")), c.code, {3, 2}, image.bytes);
        expect_same_image(files::decode_image("memory.tif", file.data(), file.size()), c.code, {3, 2}, image.bytes);
    }
}
TEST_F(ImageFiles, TiffRefusesPagesWithNoHostPixelType) {
    const struct {
        const char* name;
        std::vector<TiffPage> pages;
        const char* fragment;
    } cases[] = {
        {"rgb", {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(48), 3, PHOTOMETRIC_RGB}}, "page 1 has 3 samples per pixel"},
        {"palette", {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(16), 1, PHOTOMETRIC_PALETTE}}, "(palette); only grey"},
        {"bilevel", {{8, 4, 1, SAMPLEFORMAT_UINT, Bytes(4)}}, "1-bit unsigned integer samples, which are no host"},
        {"uint64", {{4, 4, 64, SAMPLEFORMAT_UINT, Bytes(128)}}, "64-bit unsigned integer samples"},
        {"half", {{4, 4, 16, SAMPLEFORMAT_IEEEFP, Bytes(32)}}, "16-bit floating-point samples"},
        {"complex int", {{4, 4, 32, SAMPLEFORMAT_COMPLEXINT, Bytes(64)}}, "32-bit complex integer samples"},
        {"taller page",
         {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(16)}, {4, 5, 8, SAMPLEFORMAT_UINT, Bytes(20)}},
         "page 2 is 4 x 5 unsigned 8-bit integer, but page 1 is 4 x 4 unsigned 8-bit integer; the pages of a stack"},
        {"other type",
         {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(16)}, {4, 4, 16, SAMPLEFORMAT_UINT, Bytes(32)}},
         "page 2 is 4 x 4 unsigned 16-bit integer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_with_libtiff(path("refused.tif"), "w", c.pages);
        EXPECT_FILE_ERROR(files::read_image(path("refused.tif")), path("refused.tif"), c.fragment);
    }
}

TEST_F(ImageFiles, TiffTruncatedOrCorruptFilesAreRefused) {
    const ImageData image = random_image(type::uint16, {4, 3}, 30);
    // Uncompressed pixels cut short.
    const Bytes whole = handmade_tiff(false, 4, 3, 16, SAMPLEFORMAT_UINT, image.bytes, 24);
    ASSERT_NO_THROW(files::decode_image("whole.tif", whole.data(), whole.size()));
    const Bytes cut(whole.begin(), whole.end() - 14);
    EXPECT_FILE_ERROR(files::decode_image("cut.tif", cut.data(), cut.size()), "cut.tif", "is truncated");
    // Deflate data that does not inflate.
    const Bytes junk =
        handmade_tiff(false, 4, 3, 16, SAMPLEFORMAT_UINT, Bytes(24, std::byte{0xff}), 24, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_FILE_ERROR(files::decode_image("junk.tif", junk.data(), junk.size()), "junk.tif", "cannot be decoded");

    EXPECT_FILE_ERROR(files::decode_image("text.tif", "hello", 5), "text.tif", "cannot be read as TIFF");
    EXPECT_FILE_ERROR(files::decode_image("empty.tif", "", 0), "empty.tif", "cannot be read as TIFF");

    // Our own two-page file cut anywhere: in the header, before the first
    // directory (written after its pixels), right after the first page's
    // entries (size / 2, where the link to page 2 starts) or in the last.
    files::write_image(path("own.tif"), random_image(type::real8, {16, 16, 2}, 31));
    const Bytes own = contents(path("own.tif"));
    for (const std::size_t keep : {std::size_t{4}, std::size_t{8}, std::size_t{100}, own.size() / 2, own.size() - 1}) {
        SCOPED_TRACE(keep);
        put(path("cut.tif"), Bytes(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_FILE_ERROR(files::read_image(path("cut.tif")), path("cut.tif"), "is truncated");
    }
}

// ---- PNG ----

// Rows in the file's own layout (16-bit samples big-endian), through libpng.
bool write_with_libpng(const std::string& file, png_uint_32 width, png_uint_32 height, int depth, int colour,
                       int interlace, png_bytepp rows) {
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    static png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, depth, colour, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 2);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return true;
}

bool write_png_bytes(const std::string& file, png_uint_32 width, png_uint_32 height, int depth, int colour,
                     int interlace, Bytes& pixels) {
    const std::size_t row_bytes = pixels.size() / height;
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = reinterpret_cast<png_bytep>(pixels.data() + y * row_bytes);
    return write_with_libpng(file, width, height, depth, colour, interlace, rows.data());
}

std::uint32_t crc32_of(const std::byte* data, std::size_t count) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<std::uint32_t>(data[i]);
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xedb88320u : crc >> 1;
    }
    return ~crc;
}

TEST_F(ImageFiles, PngReadsEightAndSixteenBitGrey) {
    Bytes grey8 = bytes_of(std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{253}, std::uint8_t{254},
                           std::uint8_t{255});
    ASSERT_TRUE(write_png_bytes(path("grey8.png"), 3, 2, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, grey8));
    expect_same_image(files::read_image(path("grey8.png")), type::uint8, {3, 2}, grey8);

    // The file holds 16-bit samples big-endian; the host wants them little.
    const std::vector<std::uint16_t> values{0x1234, 0xfffe, 0x0001, 0x8000, 0x00ff, 0xff00};
    Bytes grey16 = big_endian_numbers(bytes_of_vector(values), 2);
    ASSERT_TRUE(write_png_bytes(path("grey16.png"), 3, 2, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, grey16));
    expect_same_image(files::read_image(path("grey16.png")), type::uint16, {3, 2}, bytes_of_vector(values));

    // Adam7 interlacing, passes gathered into rows.
    const ImageData interlaced = random_image(type::uint16, {9, 7}, 40);
    Bytes file_order = big_endian_numbers(interlaced.bytes, 2);
    ASSERT_TRUE(write_png_bytes(path("adam7.png"), 9, 7, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7, file_order));
    expect_same_image(files::read_image(path("adam7.png")), type::uint16, {9, 7}, interlaced.bytes);
}

TEST_F(ImageFiles, PngRefusesColourAlphaPaletteAndFewerThanEightBits) {
    const struct {
        int colour, depth, channels;
        const char* fragment;
    } cases[] = {
        {PNG_COLOR_TYPE_RGB, 8, 3, "holds RGB colour pixels; only 8- and 16-bit grey PNG files can be read"},
        {PNG_COLOR_TYPE_RGB, 16, 3, "holds RGB colour pixels"},
        {PNG_COLOR_TYPE_PALETTE, 8, 1, "holds palette colour pixels"},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, "holds grey with alpha pixels"},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, 4, "holds RGB colour with alpha pixels"},
        {PNG_COLOR_TYPE_GRAY, 1, 1, "holds 1-bit grey pixels; only 8- and 16-bit"},
        {PNG_COLOR_TYPE_GRAY, 2, 1, "holds 2-bit grey pixels"},
        {PNG_COLOR_TYPE_GRAY, 4, 1, "holds 4-bit grey pixels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fragment);
        Bytes pixels(4 * ((8 * c.channels * c.depth + 7) / 8));
        ASSERT_TRUE(write_png_bytes(path("refused.png"), 8, 4, c.depth, c.colour, PNG_INTERLACE_NONE, pixels));
        EXPECT_FILE_ERROR(files::read_image(path("refused.png")), path("refused.png"), c.fragment);
    }
}

TEST_F(ImageFiles, PngPreviewScalesTheFirstPlaneFromMinimumToMaximum) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double largest = std::numeric_limits<double>::max();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // level = floor((v - min) / (max - min) * 255 + 0.5)
    const struct {
        const char* name;
        ImageData image;
        Sizes read_sizes;
        std::vector<std::uint8_t> levels;
    } cases[] = {
        // 0 is halfway: 127.5 rounds up; 50 gives 191.25.
        {"int16",
         {type::int16, {2, 2}, bytes_of(std::int16_t{-100}, std::int16_t{0}, std::int16_t{100}, std::int16_t{50})},
         {2, 2},
         {0, 128, 255, 191}},
        {"complex modulus",
         {type::complex8, {4}, bytes_of(3.0f, 4.0f, 0.0f, 0.0f, 6.0f, -8.0f, nan, 0.0f)},
         {4, 1},
         {128, 0, 255, 0}},
        {"infinities and NaN",
         {type::real8, {5}, bytes_of(inf, -inf, 2.0, 1.0, std::numeric_limits<double>::quiet_NaN())},
         {5, 1},
         {255, 0, 255, 0, 0}},
        {"constant",
         {type::uint8, {2, 2}, bytes_of(std::uint8_t{7}, std::uint8_t{7}, std::uint8_t{7}, std::uint8_t{7})},
         {2, 2},
         {0, 0, 0, 0}},
        {"first plane only", {type::int32, {2, 1, 2}, bytes_of(10, 20, 1000, -1000)}, {2, 1}, {0, 255}},
        {"span beyond the largest double", {type::real8, {3}, bytes_of(-largest, largest, 0.0)}, {3, 1}, {0, 255, 128}},
        {"binary",
         {type::binary, {3}, bytes_of(std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{1})},
         {3, 1},
         {255, 0, 255}},
    };
    // Wider than libpng's default limit of a million pixels a side.
    std::vector<std::uint8_t> stripes(1200000);
    for (std::size_t i = 0; i < stripes.size(); ++i) stripes[i] = static_cast<std::uint8_t>(i % 2 == 0 ? 0 : 255);
    files::write_image(path("wide.png"), {type::uint8, {stripes.size()}, bytes_of_vector(stripes)});
    expect_same_image(files::read_image(path("wide.png")), type::uint8, {stripes.size(), 1}, bytes_of_vector(stripes));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        files::write_image(path("preview.png"), c.image);
        expect_same_image(files::read_image(path("preview.png")), type::uint8, c.read_sizes, bytes_of_vector(c.levels));
    }
}

TEST_F(ImageFiles, PngTruncatedCorruptOrForgedFilesAreRefused) {
    files::write_image(path("noise.png"), random_image(type::uint8, {64, 64}, 50));
    const Bytes file = contents(path("noise.png"));
    for (const std::size_t keep : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{20}, std::size_t{40},
                                   file.size() / 2, file.size() - 1}) {
        SCOPED_TRACE(keep);
        EXPECT_FILE_ERROR(files::decode_image("cut.png", file.data(), keep), "cut.png",
                          keep < 8 ? "lacks the PNG signature" : "is truncated");
    }
    Bytes flipped = file;
    flipped[file.size() / 2] ^= std::byte{0x55};
    EXPECT_FILE_ERROR(files::decode_image("flipped.png", flipped.data(), flipped.size()), "flipped.png", "libpng");

    // A header claiming 60000 x 60000 pixels over a few hundred bytes, its
    // checksum made good: refused before the pixels are allocated.
    Bytes forged = file;
    for (const std::size_t at : {std::size_t{16}, std::size_t{20}}) {
        const std::byte side[4] = {std::byte{0}, std::byte{0}, std::byte{0xea}, std::byte{0x60}};
        std::copy(side, side + 4, forged.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const std::uint32_t crc = crc32_of(forged.data() + 12, 17);
    for (int k = 0; k < 4; ++k) forged[29 + k] = static_cast<std::byte>(crc >> (24 - 8 * k) & 0xff);
    EXPECT_FILE_ERROR(files::decode_image("forged.png", forged.data(), forged.size()), "forged.png",
                      "60000 x 60000 pixels cannot come from");
}

// ---- NumPy ----

Bytes npy_file(int major, std::string_view header, const Bytes& data, int minor = 0) {
    Bytes out = text_bytes("\x93NUMPY");
    out.push_back(static_cast<std::byte>(major));
    out.push_back(static_cast<std::byte>(minor));
    const int length_bytes = major == 1 ? 2 : 4;
    for (int k = 0; k < length_bytes; ++k) out.push_back(static_cast<std::byte>(header.size() >> (8 * k) & 0xff));
    const Bytes text = text_bytes(header);
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST_F(ImageFiles, NpyRoundTripsEveryPixelTypeAndShape) {
    std::vector<std::int32_t> codes(std::begin(kFileTypes), std::end(kFileTypes));
    codes.push_back(type::binary);
    unsigned seed = 60;
    for (const std::int32_t code : codes) {
        for (const Sizes& sizes : {Sizes{7}, Sizes{5, 3}, Sizes{4, 3, 5}, Sizes{3, 2, 2, 3}}) {
            SCOPED_TRACE("type " + std::to_string(code) + ", " + files::detail::sizes_text(sizes));
            const ImageData image = random_image(code, sizes, seed++);
            files::write_image(path("round.npy"), image);
            expect_same_image(files::read_image(path("round.npy")), code, sizes, image.bytes);
        }
    }
}

TEST_F(ImageFiles, NpyWritesTheHeaderNumPyWrites) {
    const struct {
        ImageData image;
        std::string dictionary;
    } cases[] = {
        {random_image(type::real4, {5, 3}, 70), "{'descr': '<f4', 'fortran_order': False, 'shape': (3, 5), }"},
        {random_image(type::uint16, {7}, 71), "{'descr': '<u2', 'fortran_order': False, 'shape': (7,), }"},
        {random_image(type::complex16, {2, 3, 4, 5}, 72),
         "{'descr': '<c16', 'fortran_order': False, 'shape': (5, 4, 3, 2), }"},
        {random_image(type::int8, {1, 1}, 73), "{'descr': '|i1', 'fortran_order': False, 'shape': (1, 1), }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dictionary);
        files::write_image(path("header.npy"), c.image);
        const Bytes file = contents(path("header.npy"));
        ASSERT_GT(file.size(), 10u);
        const std::size_t length = static_cast<std::size_t>(file[8]) | static_cast<std::size_t>(file[9]) << 8;
        EXPECT_EQ((10 + length) % 64, 0u);
        EXPECT_EQ(file.size(), 10 + length + c.image.bytes.size());
        const std::string header(reinterpret_cast<const char*>(file.data()) + 10, length);
        std::string expected = c.dictionary;
        expected.resize(length - 1, ' ');
        EXPECT_EQ(header, expected + "\n");
        EXPECT_TRUE(Bytes(file.begin(), file.begin() + 8) == text_bytes(std::string_view("\x93NUMPY\x01\x00", 8)));
    }
    // Booleans are 0 and 1: any other byte of a binary image is written as 1.
    files::write_image(
        path("mask.npy"),
        {type::binary, {4}, bytes_of(std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{255}, std::uint8_t{7})});
    expect_same_image(files::read_image(path("mask.npy")), type::binary, {4},
                      bytes_of(std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{1}, std::uint8_t{1}));
}

TEST_F(ImageFiles, NpyReadsBigEndianVersionTwoAndFortranOrder) {
    const std::vector<std::int16_t> counting{1, -2, 3, -4, 5, -6};
    const ImageData c8 = random_image(type::complex8, {2}, 80);
    const ImageData f8 = random_image(type::real8, {3}, 81);
    const ImageData u4 = random_image(type::uint32, {2, 2}, 82);
    const ImageData u2 = random_image(type::uint16, {2, 3}, 83);
    // Fortran order, shape (2, 3): element [i][j] at i + 2 j.
    const std::vector<std::int16_t> fortran{11, 21, 12, 22, 13, 23};
    const std::vector<std::int16_t> c_order{11, 12, 13, 21, 22, 23};
    // Shape (2, 3, 4): element [i][j][k] = 100 i + 10 j + k, at i + 2 (j + 3 k).
    std::vector<std::int32_t> fortran3(24), c_order3(24);
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 4; ++k) {
                fortran3[i + 2 * (j + 3 * k)] = 100 * i + 10 * j + k;
                c_order3[(i * 3 + j) * 4 + k] = 100 * i + 10 * j + k;
            }
        }
    }
    const struct {
        const char* name;
        Bytes file;
        std::int32_t code;
        Sizes sizes;
        Bytes pixels;
    } cases[] = {
        {"big-endian int16",
         npy_file(1, "{'descr': '>i2', 'fortran_order': False, 'shape': (2, 3), }\n",
                  big_endian_numbers(bytes_of_vector(counting), 2)),
         type::int16,
         {3, 2},
         bytes_of_vector(counting)},
        {"big-endian complex: each part on its own",
         npy_file(1, "{'descr': '>c8', 'fortran_order': False, 'shape': (2,), }\n", big_endian_numbers(c8.bytes, 4)),
         type::complex8,
         {2},
         c8.bytes},
        {"big-endian double",
         npy_file(1, "{'descr': '>f8', 'fortran_order': False, 'shape': (3,)}", big_endian_numbers(f8.bytes, 8)),
         type::real8,
         {3},
         f8.bytes},
        {"big-endian uint32",
         npy_file(1, "{'descr': '>u4', 'fortran_order': False, 'shape': (2, 2), }", big_endian_numbers(u4.bytes, 4)),
         type::uint32,
         {2, 2},
         u4.bytes},
        {"version 2.0, double quotes, keys reordered, Python 2 longs",
         npy_file(2, "{\"shape\": (3L, 2L), \"descr\": \"<u2\",\t\"fortran_order\": False}  \n", u2.bytes),
         type::uint16,
         {2, 3},
         u2.bytes},
        {"native '=' and one-byte '>' orders",
         npy_file(1, "{'descr': '>u1', 'fortran_order': False, 'shape': (3,), }",
                  bytes_of(std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3})),
         type::uint8,
         {3},
         bytes_of(std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3})},
        {"Fortran order 2-D",
         npy_file(1, "{'descr': '<i2', 'fortran_order': True, 'shape': (2, 3), }", bytes_of_vector(fortran)),
         type::int16,
         {3, 2},
         bytes_of_vector(c_order)},
        {"Fortran order 3-D",
         npy_file(1, "{'descr': '=i4', 'fortran_order': True, 'shape': (2, 3, 4), }", bytes_of_vector(fortran3)),
         type::int32,
         {4, 3, 2},
         bytes_of_vector(c_order3)},
        {"Fortran order 1-D is C order",
         npy_file(1, "{'descr': '<i2', 'fortran_order': True, 'shape': (6,), }", bytes_of_vector(counting)),
         type::int16,
         {6},
         bytes_of_vector(counting)},
        {"data after the pixels is ignored",
         npy_file(1, "{'descr': '|b1', 'fortran_order': False, 'shape': (2,), }",
                  bytes_of(std::uint8_t{1}, std::uint8_t{0}, std::uint8_t{9})),
         type::binary,
         {2},
         bytes_of(std::uint8_t{1}, std::uint8_t{0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_same_image(files::decode_image("case.npy", c.file.data(), c.file.size()), c.code, c.sizes, c.pixels);
    }
}

TEST_F(ImageFiles, NpyMalformedHeadersAreRefusedWithTheirReason) {
    auto with = [&](std::string_view header, const Bytes& data = Bytes(16)) { return npy_file(1, header, data); };
    Bytes overlong = npy_file(1, "{}", {});
    overlong[8] = overlong[9] = std::byte{0xff};
    const struct {
        const char* name;
        Bytes file;
        const char* fragment;
    } cases[] = {
        {"empty file", {}, "is not a NumPy .npy file: it does not start with \\x93NUMPY"},
        {"zip archive", text_bytes("PK\x03\x04 not an array"), "does not start with \\x93NUMPY"},
        {"magic only", text_bytes("\x93NUMPY\x01"), "is truncated: the file ends inside the .npy header"},
        {"version 3.0", npy_file(3, "{}", {}), ".npy format version 3.0 is not supported; versions 1.0 and 2.0 are"},
        {"version 1.1", npy_file(1, "{}", {}, 1), "version 1.1 is not supported"},
        {"header past the end", overlong, "is truncated: the file ends inside the .npy header"},
        {"header too long", npy_file(2, std::string(70000, ' '), {}),
         "has a .npy header of 70000 bytes; at most 65536"},
        {"no dictionary", with("'descr': '<f4'"), "malformed .npy header: it does not start with '{'"},
        {"missing shape", with("{'descr': '<f4', 'fortran_order': False}"), "it lacks the key 'shape'"},
        {"missing descr", with("{'fortran_order': False, 'shape': (4,)}"), "it lacks the key 'descr'"},
        {"unexpected key", with("{'descr': '<f4', 'order': 'C', 'fortran_order': False, 'shape': (4,)}"),
         "it has an unexpected key 'order'"},
        {"repeated key", with("{'descr': '<f4', 'descr': '<f4', 'fortran_order': False, 'shape': (4,)}"),
         "it repeats the key 'descr'"},
        {"quote missing", with("{'descr': '<f4, 'fortran_order': False, 'shape': (4,)}"),
         "no ',' or '}' after a value"},
        {"string to the end", with("{'descr': '<f4"), "it has an unterminated string"},
        {"escape in a string", with("{'descr': '<f\\x34', 'fortran_order': False, 'shape': (4,)}"),
         "an escape or line break inside a string"},
        {"key not a string", with("{descr: '<f4'}"), "a key that is not a quoted string"},
        {"fortran_order not a boolean", with("{'descr': '<f4', 'fortran_order': 0, 'shape': (4,)}"),
         "neither True nor False"},
        {"shape a number", with("{'descr': '<f4', 'fortran_order': False, 'shape': (4)}"),
         "'shape' value that is a number, not a tuple"},
        {"shape a list", with("{'descr': '<f4', 'fortran_order': False, 'shape': [4]}"), "not a tuple"},
        {"negative size", with("{'descr': '<f4', 'fortran_order': False, 'shape': (-4,)}"),
         "'shape' entry that is not a non-negative integer"},
        {"size beyond any array", with("{'descr': '<f4', 'fortran_order': False, 'shape': (99999999999999999999999,)}"),
         "too large to be an array size"},
        {"shape not closed", with("{'descr': '<f4', 'fortran_order': False, 'shape': (4, 5"),
         "no ',' or ')' after an entry"},
        {"text after the dictionary", with("{'descr': '<f4', 'fortran_order': False, 'shape': (4,)} x"),
         "it has text after the dictionary"},
        {"no comma between entries", with("{'descr': '<f4' 'fortran_order': False}"), "no ',' or '}' after a value"},
        {"int64", with("{'descr': '<i8', 'fortran_order': False, 'shape': (2,)}"),
         "NumPy dtype '<i8' is not supported; supported: |i1 |u1 |b1"},
        {"half float", with("{'descr': '<f2', 'fortran_order': False, 'shape': (8,)}"), "dtype '<f2' is not supported"},
        {"no byte order for two bytes", with("{'descr': '|i2', 'fortran_order': False, 'shape': (8,)}"),
         "dtype '|i2' is not supported"},
        {"unprintable dtype", with("{'descr': '\x01\xfe', 'fortran_order': False, 'shape': (8,)}"),
         "dtype '?"
         "?' is not supported"},
        {"structured dtype", with("{'descr': [('x', '<f4')], 'fortran_order': False, 'shape': (4,)}"),
         "holds a structured NumPy dtype"},
        {"scalar", with("{'descr': '<f4', 'fortran_order': False, 'shape': ()}"),
         "holds a 0-dimensional NumPy array (a single number); an image has 1 to 4 dimensions"},
        {"five dimensions", with("{'descr': '<f4', 'fortran_order': False, 'shape': (1, 1, 1, 2, 2)}"),
         "holds a 5-dimensional NumPy array"},
        {"empty", with("{'descr': '<f4', 'fortran_order': False, 'shape': (3, 0)}"),
         "holds an empty NumPy array of shape (3, 0); the host holds no empty image"},
        {"beyond the limit", with("{'descr': '<f4', 'fortran_order': False, 'shape': (4294967296, 4294967296)}"),
         "an image of 4294967296 x 4294967296 4-byte real pixels is larger than the 8 GiB limit"},
        {"product overflowing", with("{'descr': '|u1', 'fortran_order': False, 'shape': (4611686018427387904, 4)}"),
         "larger than the 8 GiB limit"},
        {"pixels cut short", with("{'descr': '<f4', 'fortran_order': False, 'shape': (5,)}"),
         "is truncated: its header describes 20 bytes of pixels, but only 16 follow it"},
        {"boolean that is not 0 or 1",
         with("{'descr': '|b1', 'fortran_order': False, 'shape': (3,)}",
              bytes_of(std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{0})),
         "holds the value 2 at element 1 of a boolean array; booleans are 0 or 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FILE_ERROR(files::decode_image("bad.npy", c.file.data(), c.file.size()), "bad.npy", c.fragment);
    }
}

TEST_F(ImageFiles, NpyHeaderParserStaysInsideItsBytes) {
    const std::string_view header = "{'descr': '<c16', 'fortran_order': True, 'shape': (2, 3, 4, 5), }\n";
    const Bytes file = npy_file(1, header, Bytes(1920));
    const std::size_t header_end = 10 + header.size();
    ASSERT_NO_THROW(files::detail::parse_npy_header("p.npy", file.data(), header_end));
    // Every shorter prefix, in a buffer of exactly its size so that the
    // address sanitizer sees any read beyond it.
    for (std::size_t keep = 0; keep < header_end; ++keep) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep));
        const std::unique_ptr<std::byte[]> exact(new std::byte[keep + 1]);
        std::copy(prefix.begin(), prefix.end(), exact.get());
        EXPECT_THROW(files::detail::parse_npy_header("p.npy", exact.get(), keep), FileError) << keep;
    }
    // Random damage to the header: a FileError or a layout, nothing else.
    std::mt19937 random(90);
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes damaged(file.begin(), file.begin() + header_end);
        for (int flips = 1 + random() % 3; flips > 0; --flips) {
            damaged[6 + random() % (header_end - 6)] = static_cast<std::byte>(random() % 256);
        }
        try {
            const auto layout = files::detail::parse_npy_header("p.npy", damaged.data(), damaged.size());
            EXPECT_LE(layout.data_offset, damaged.size());
            EXPECT_LE(layout.data_bytes, files::detail::max_image_bytes);
        } catch (const FileError&) {
        }
    }
    // The limit itself is allowed, one byte more is not.
    const Bytes at_limit = npy_file(1, "{'descr': '|u1', 'fortran_order': False, 'shape': (8589934592,)}", {});
    EXPECT_EQ(files::detail::parse_npy_header("p.npy", at_limit.data(), at_limit.size()).data_bytes,
              files::detail::max_image_bytes);
    const Bytes past_limit = npy_file(1, "{'descr': '|u1', 'fortran_order': False, 'shape': (8589934593,)}", {});
    EXPECT_THROW(files::detail::parse_npy_header("p.npy", past_limit.data(), past_limit.size()), FileError);
}

// ---- file names and failed writes ----

TEST_F(ImageFiles, TheExtensionChoosesTheFormatInAnyCase) {
    const ImageData image = random_image(type::uint8, {3, 2}, 100);
    for (const char* name : {"UPPER.TIF", "mixed.Tiff", "array.NPY"}) {
        SCOPED_TRACE(name);
        files::write_image(path(name), image);
        expect_same_image(files::read_image(path(name)), type::uint8, Sizes{3, 2}, image.bytes);
    }
    files::write_image(path("grey.PnG"), image);
    EXPECT_EQ(files::read_image(path("grey.PnG")).data_type, type::uint8);
    EXPECT_EQ(contents(path("grey.PnG"))[1], std::byte{'P'});

    const char* supported = "supported: .tif, .tiff, .png, .npy";
    EXPECT_FILE_ERROR(files::read_image(path("picture.jpg")), path("picture.jpg"),
                      std::string("unknown image file extension '.jpg'; ") + supported);
    EXPECT_FILE_ERROR(files::write_image(path("picture.jpg"), image), path("picture.jpg"),
                      "unknown image file extension");
    EXPECT_FILE_ERROR(files::read_image(path("plain")), path("plain"),
                      std::string("has no file extension; ") + supported);
    EXPECT_FILE_ERROR(files::read_image(path("dir.d/plain")), path("dir.d/plain"), "has no file extension");
    EXPECT_FILE_ERROR(files::read_image(path("absent.tif")), path("absent.tif"), "No such file or directory");
    std::filesystem::create_directory(path("folder.npy"));
    EXPECT_FILE_ERROR(files::read_image(path("folder.npy")), path("folder.npy"), "Is a directory");
    // Opening a FIFO must not wait for a writer.
    ASSERT_EQ(::mkfifo(path("pipe.tif").c_str(), 0600), 0);
    EXPECT_FILE_ERROR(files::read_image(path("pipe.tif")), path("pipe.tif"), "is not a regular file");
    EXPECT_TRUE(entries() == std::vector<std::string>(
                                 {"UPPER.TIF", "array.NPY", "folder.npy", "grey.PnG", "mixed.Tiff", "pipe.tif"}));
}

// Lowers the file size limit of the process for its lifetime, so that
// writes fail half way with EFBIG rather than a signal.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        saved_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, saved_handler_);
    }

private:
    rlimit saved_{};
    void (*saved_handler_)(int) = nullptr;
};

TEST_F(ImageFiles, FailedWritesLeaveNoFileBehindAndTheTargetUntouched) {
    for (const char* name : {"out.tif", "out.png", "out.npy"}) {
        SCOPED_TRACE(name);
        const std::string target = path(name);
        EXPECT_FILE_ERROR(files::write_image(target, {type::packed_complex, {2, 2}, Bytes(32)}), target,
                          "images of packed complex type (code 5) have no file form");
        EXPECT_FILE_ERROR(files::write_image(target, {type::rgb, {2, 2}, Bytes(16)}), target,
                          "images of RGB type (code 8) have no file form");
        EXPECT_FILE_ERROR(files::write_image(target, {99, {2, 2}, Bytes(16)}), target,
                          "images of unknown type (code 99) have no file form");
        EXPECT_FILE_ERROR(files::write_image(target, {type::real4, {}, {}}), target, "1 to 4 dimensions, not 0");
        EXPECT_FILE_ERROR(files::write_image(target, {type::real4, {1, 1, 1, 1, 1}, Bytes(4)}), target,
                          "1 to 4 dimensions, not 5");
        EXPECT_FILE_ERROR(files::write_image(target, {type::real4, {3, 0}, {}}), target,
                          "the image is 3 x 0, empty in dimension 1; the host holds no empty image");
        EXPECT_FILE_ERROR(files::write_image(target, {type::real4, {3, 2}, Bytes(20)}), target,
                          "the image data holds 20 bytes, but 3 x 2 4-byte real pixels take 24");
        // Limits are checked on the sizes, before the bytes are looked at.
        EXPECT_FILE_ERROR(files::write_image(target, {type::uint8, {1 << 20, 1 << 20, 8}, {}}), target,
                          "larger than the 8 GiB limit");
        EXPECT_FILE_ERROR(files::write_image(target, {type::uint8, {1ull << 40, 1ull << 40, 1ull << 40}, {}}), target,
                          "larger than the 8 GiB limit");
        EXPECT_TRUE(entries().empty());

        EXPECT_FILE_ERROR(files::write_image(path("missing/") + name, random_image(type::uint8, {2, 2}, 1)),
                          path("missing/") + name, "No such file or directory");

        // The rename fails when the target is a directory.
        std::filesystem::create_directory(target);
        EXPECT_FILE_ERROR(files::write_image(target, random_image(type::uint8, {2, 2}, 1)), target, "Is a directory");
        EXPECT_TRUE(std::filesystem::is_empty(target));
        EXPECT_EQ(entries(), std::vector<std::string>{name});
        std::filesystem::remove(target);

        // A write that fails half way: the old file stays as it was.
        const Bytes old = text_bytes("the file that was there");
        put(target, old);
        {
            const FileSizeLimit limit(8192);
            EXPECT_FILE_ERROR(files::write_image(target, random_image(type::uint8, {256, 256}, 2)), target,
                              std::string(": ") + std::strerror(EFBIG));
        }
        EXPECT_TRUE(contents(target) == old);
        EXPECT_EQ(entries(), std::vector<std::string>{name});
        std::filesystem::remove(target);
    }
}

TEST_F(ImageFiles, SuccessfulWritesReplaceTheTargetWithTheUsualPermissions) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    put(path("kept.npy"), text_bytes("older contents"));
    ::chmod(path("kept.npy").c_str(), 0600);
    const ImageData image = random_image(type::real8, {4, 4}, 110);
    files::write_image(path("kept.npy"), image);
    expect_same_image(files::read_image(path("kept.npy")), type::real8, {4, 4}, image.bytes);
    EXPECT_EQ(entries(), std::vector<std::string>{"kept.npy"});
    struct stat status {};
    ASSERT_EQ(::stat(path("kept.npy").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

}  // namespace
}  // namespace zorvan::testing
