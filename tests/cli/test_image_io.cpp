// Image files: every pixel type round trip in each format, files made by
// other writers (libtiff and libpng used directly, bytes put together here,
// and tifffile and mrcfile through Python), the PNG preview's scaling, one
// table of malformed, truncated and unsupported files with their messages,
// and failed writes that leave nothing behind.

#include "files/image_formats.h"
#include "files/image_io.h"
#include "host/host.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <complex>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <tuple>

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
using u8 = std::uint8_t;

template <class... T>
Bytes bytes_of(const T&... values) {
    Bytes out;
    (out.insert(out.end(), reinterpret_cast<const std::byte*>(&values), reinterpret_cast<const std::byte*>(&values + 1)),
     ...);
    return out;
}

template <class T>
Bytes bytes_of_vector(const std::vector<T>& values) {
    const auto* begin = reinterpret_cast<const std::byte*>(values.data());
    return Bytes(begin, begin + values.size() * sizeof(T));
}

Bytes text_bytes(std::string_view text) { return bytes_of_vector(std::vector<char>(text.begin(), text.end())); }

// Each number reversed: what a big-endian writer stores.
Bytes swapped(Bytes bytes, std::size_t width) {
    for (std::size_t k = 0; k < bytes.size(); k += width) std::reverse(bytes.begin() + k, bytes.begin() + k + width);
    return bytes;
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
    const std::uint32_t width = code == type::complex8 || code == type::complex16 ? element / 2 : element;
    const std::vector<std::uint64_t> special[] = {
        {}, {0x00, 0xff, 0x7f, 0x80}, {0x0000, 0xffff, 0x7fff, 0x8000}, {},
        {0x7fc12345, 0x7f800001, 0xff800000, 0x80000000, 0x00000001, 0x7fffffff, 0xffffffff}, {}, {}, {},
        {0x7ff8000000000123, 0x7ff0000000000001, 0xfff0000000000000, 0x8000000000000000, 1, 0x7fffffffffffffff}};
    for (std::size_t k = 0; code != type::binary && k < special[width].size() && (k + 1) * width <= count * element; ++k) {
        std::memcpy(image.bytes.data() + k * width, &special[width][k], width);
    }
    return image;
}

// The message names the file first, then says what is wrong.
void expect_file_error(const std::function<void()>& action, const std::string& path, const std::string& fragment) {
    std::string message = "<no FileError>";
    try {
        action();
    } catch (const FileError& error) {
        message = error.what();
    }
    EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(fragment), std::string::npos) << message << "\nlacks: " << fragment;
}

void expect_same_image(const ImageData& read, const ImageData& expected) {
    EXPECT_EQ(read.data_type, expected.data_type);
    EXPECT_EQ(read.sizes, expected.sizes);
    EXPECT_TRUE(read.bytes == expected.bytes) << "pixels differ";
}

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
        return text_bytes(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }

    // Pages as another writer makes them, through libtiff directly: packed
    // rows in host order, strips of `rows` rows, or square tiles of `tile`.
    struct TiffPage {
        std::uint32_t width, height;
        std::uint16_t bits, format;
        Bytes pixels;
        std::uint16_t samples = 1, photometric = PHOTOMETRIC_MINISBLACK, compression = COMPRESSION_NONE;
        std::uint32_t tile = 0, rows = 0;
    };
    Bytes libtiff_file(std::vector<TiffPage> pages) const {
        TIFF* tif = TIFFOpen(path("libtiff.tif").c_str(), "w");
        std::vector<std::uint16_t> map(256);
        for (TiffPage& p : pages) {
            for (const auto& [tag, value] : {std::pair<ttag_t, unsigned>{TIFFTAG_BITSPERSAMPLE, p.bits},
                     {TIFFTAG_SAMPLEFORMAT, p.format}, {TIFFTAG_SAMPLESPERPIXEL, p.samples}, {TIFFTAG_IMAGEWIDTH, p.width},
                     {TIFFTAG_PHOTOMETRIC, p.photometric}, {TIFFTAG_COMPRESSION, p.compression},
                     {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG}, {TIFFTAG_IMAGELENGTH, p.height}}) {
                TIFFSetField(tif, tag, value);
            }
            if (p.photometric == PHOTOMETRIC_PALETTE) TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
            const std::size_t row_bytes = (std::size_t{p.width} * p.bits * p.samples + 7) / 8, element = p.bits / 8;
            if (p.tile == 0) {
                TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.rows ? p.rows : p.height);
                for (std::uint32_t y = 0; y < p.height; ++y) TIFFWriteScanline(tif, &p.pixels[y * row_bytes], y, 0);
            } else {
                TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tile);
                TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tile);
                Bytes tile(std::size_t{p.tile} * p.tile * element);
                for (std::uint32_t y0 = 0; y0 < p.height; y0 += p.tile) {
                    for (std::uint32_t x0 = 0; x0 < p.width; x0 += p.tile) {
                        for (std::uint32_t y = y0; y < std::min(y0 + p.tile, p.height); ++y) {
                            std::memcpy(&tile[(y - y0) * p.tile * element], &p.pixels[y * row_bytes + x0 * element],
                                        (std::min(x0 + p.tile, p.width) - x0) * element);
                        }
                        TIFFWriteTile(tif, tile.data(), x0, y0, 0, 0);
                    }
                }
            }
            TIFFWriteDirectory(tif);
        }
        TIFFClose(tif);
        return contents(path("libtiff.tif"));
    }

    // Rows in the file's own layout (16-bit samples big-endian), through libpng.
    Bytes libpng_file(png_uint_32 width, png_uint_32 height, int depth, int colour, int interlace, Bytes pixels) const {
        FILE* out = std::fopen(path("libpng.png").c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        static png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
        std::vector<png_bytep> rows(height);
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = reinterpret_cast<png_bytep>(&pixels[y * pixels.size() / height]);
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_init_io(png, out);
            png_set_IHDR(png, info, width, height, depth, colour, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
            if (colour == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 2);
            png_write_info(png, info);
            png_write_image(png, rows.data());
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return contents(path("libpng.png"));
    }

    std::string dir_;
};

// A one-strip, uncompressed classic TIFF put together byte by byte, `data`
// already in the file's byte order; `claimed` is the strip's byte count.
Bytes handmade_tiff(bool big_endian, std::uint16_t bits, std::uint16_t format, const Bytes& data, std::uint32_t claimed,
                    std::uint16_t compression = COMPRESSION_NONE) {
    Bytes out;
    auto put = [&](std::uint64_t value, int count) {
        for (int k = 0; k < count; ++k) out.push_back(std::byte(value >> 8 * (big_endian ? count - 1 - k : k)));
    };
    put(big_endian ? 0x4d4d : 0x4949, 2), put(42, 2), put(8, 4), put(10, 2);
    const std::uint32_t entries[][3] = {
        {TIFFTAG_IMAGEWIDTH, 4, 3}, {TIFFTAG_IMAGELENGTH, 4, 2}, {TIFFTAG_BITSPERSAMPLE, 3, bits},
        {TIFFTAG_COMPRESSION, 3, compression}, {TIFFTAG_PHOTOMETRIC, 3, PHOTOMETRIC_MINISBLACK},
        {TIFFTAG_STRIPOFFSETS, 4, 8 + 2 + 10 * 12 + 4}, {TIFFTAG_SAMPLESPERPIXEL, 3, 1}, {TIFFTAG_ROWSPERSTRIP, 4, 2},
        {TIFFTAG_STRIPBYTECOUNTS, 4, claimed}, {TIFFTAG_SAMPLEFORMAT, 3, format}};
    for (const auto& [tag, field_type, value] : entries) {
        put(tag, 2), put(field_type, 2), put(1, 4);
        field_type == 3 ? (put(value, 2), put(0, 2)) : put(value, 4);  // a SHORT is left-justified
    }
    put(0, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes npy_file(int major, std::string_view header, const Bytes& data = Bytes(16), int minor = 0) {
    Bytes out = text_bytes("\x93NUMPY");
    out.push_back(static_cast<std::byte>(major)), out.push_back(static_cast<std::byte>(minor));
    for (int k = 0; k < (major == 1 ? 2 : 4); ++k) out.push_back(static_cast<std::byte>(header.size() >> (8 * k)));
    const Bytes text = text_bytes(header);
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST_F(ImageFiles, EveryPixelTypeRoundTripsInEachFormat) {
    // TIFF reads 1-D back as one row, 4-D as a stack of pages and binary as
    // unsigned 8-bit; 300 x 257 spans several strips. The extension chooses
    // the format in any case.
    const std::tuple<const char*, std::vector<std::pair<Sizes, Sizes>>, std::int32_t> formats[] = {
        {"round.Tiff", {{{7}, {7, 1}}, {{300, 257}, {300, 257}}, {{3, 2, 2, 3}, {3, 2, 6}}}, type::uint8},
        {"round.NPY", {{{7}, {7}}, {{4, 3, 5}, {4, 3, 5}}, {{3, 2, 2, 3}, {3, 2, 2, 3}}}, type::binary}};
    unsigned seed = 1;
    for (const auto& [file, shapes, binary_read_as] : formats) {
        for (const auto& pixel : dm::pixel_types) {
            if (pixel.kind == dm::pixel_kind::packed) continue;
            for (const auto& [sizes, read_sizes] : shapes) {
                SCOPED_TRACE(std::string(file) + ", " + std::string(pixel.name) + ", " + files::detail::sizes_text(sizes));
                const ImageData image = random_image(pixel.code, sizes, seed++);
                files::write_image(path(file), image);
                expect_same_image(files::read_image(path(file)),
                                  {pixel.code == type::binary ? binary_read_as : pixel.code, read_sizes, image.bytes});
            }
        }
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"round.NPY", "round.Tiff"}));
}

TEST_F(ImageFiles, ReadsWhatOtherWritersMake) {
    std::vector<std::tuple<std::string, Bytes, ImageData>> cases;  // name (its extension picks the reader), file, image
    const ImageData u16 = random_image(type::uint16, {40, 35}, 11), r4 = random_image(type::real4, {20, 30, 3}, 12);
    const ImageData adam7 = random_image(type::uint16, {9, 7}, 13), u2 = random_image(type::uint16, {2, 3}, 14);
    const ImageData c8 = random_image(type::complex8, {2}, 15), f8 = random_image(type::real8, {3}, 16);
    // 16 x 16 tiles over 40 x 35: the right and bottom ones hang over.
    cases.emplace_back("tiles.tif", libtiff_file({{40, 35, 16, SAMPLEFORMAT_UINT, u16.bytes, 1, PHOTOMETRIC_MINISBLACK,
                                                   COMPRESSION_ADOBE_DEFLATE, 16}}), u16);
    std::vector<TiffPage> pages;
    for (std::size_t p = 0; p < 3; ++p) {
        pages.push_back({20, 30, 32, SAMPLEFORMAT_IEEEFP, Bytes(&r4.bytes[p * 2400], &r4.bytes[p * 2400] + 2400), 1,
                         PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 0, 7});
    }
    cases.emplace_back("LZW pages of 7-row strips.tif", libtiff_file(pages), r4);
    cases.emplace_back("16-bit Adam7.png",
                       libpng_file(9, 7, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7, swapped(adam7.bytes, 2)), adam7);
    // Big-endian TIFF: each number on its own, so a complex pixel's real part stays first.
    for (const auto& [code, bits, format, width] : std::vector<std::tuple<std::int32_t, int, int, std::size_t>>{
             {type::int16, 16, SAMPLEFORMAT_INT, 2}, {type::real8, 64, SAMPLEFORMAT_IEEEFP, 8},
             {type::complex8, 64, SAMPLEFORMAT_COMPLEXIEEEFP, 4}, {type::complex16, 128, SAMPLEFORMAT_COMPLEXIEEEFP, 8}}) {
        const ImageData image = random_image(code, {3, 2}, 20 + code);
        const Bytes data = swapped(image.bytes, width);
        cases.emplace_back("big-endian.tif", handmade_tiff(true, bits, format, data, std::uint32_t(data.size())), image);
    }

    const std::vector<std::int16_t> counting{1, -2, 3, -4, 5, -6};
    // Fortran order (2, 3, 4, 2): [a][b][c][d] = 1000 a + 100 b + 10 c + d lies at a + 2 (b + 3 (c + 4 d)).
    std::vector<std::int32_t> fortran(48), c_order(48);
    for (int i = 0; i < 48; ++i) {
        const int a = i / 24, b = i / 8 % 3, c = i / 2 % 4, d = i % 2;
        fortran[a + 2 * (b + 3 * (c + 4 * d))] = c_order[i] = 1000 * a + 100 * b + 10 * c + d;
    }
    const auto npy = [&](const char* name, std::string_view header, const Bytes& data, const ImageData& image) {
        cases.emplace_back(name, npy_file(1, header, data), image);
    };
    npy("big-endian int16.npy", "{'descr': '>i2', 'fortran_order': False, 'shape': (2, 3), }\n",
        swapped(bytes_of_vector(counting), 2), {type::int16, {3, 2}, bytes_of_vector(counting)});
    npy("big-endian complex.npy", "{'descr': '>c8', 'fortran_order': False, 'shape': (2,)}", swapped(c8.bytes, 4), c8);
    npy("big-endian double.npy", "{'descr': '>f8', 'fortran_order': False, 'shape': (3,)}", swapped(f8.bytes, 8), f8);
    npy("one-byte '>'.npy", "{'descr': '>u1', 'fortran_order': False, 'shape': (3,), }", bytes_of(u8{1}, u8{2}, u8{3}),
        {type::uint8, {3}, bytes_of(u8{1}, u8{2}, u8{3})});
    npy("Fortran order.npy", "{'descr': '=i4', 'fortran_order': True, 'shape': (2, 3, 4, 2)}", bytes_of_vector(fortran),
        {type::int32, {2, 4, 3, 2}, bytes_of_vector(c_order)});
    npy("bytes after the pixels.npy", "{'descr': '|b1', 'fortran_order': False, 'shape': (2,)}", bytes_of(u8{1}, u8{0}, u8{9}),
        {type::binary, {2}, bytes_of(u8{1}, u8{0})});
    cases.emplace_back("version 2.0, double quotes, keys in another order, Python 2 longs.npy",
                       npy_file(2, "{\"shape\": (3L, 2L), \"descr\": \"<u2\",\t\"fortran_order\": False} \n", u2.bytes), u2);

    for (const auto& [name, file, expected] : cases) {
        SCOPED_TRACE(name);
        expect_same_image(files::decode_image(name, file.data(), file.size()), expected);
    }
}

TEST_F(ImageFiles, NpyWritesTheHeaderNumPyWritesAndBooleansAsZeroOrOne) {
    const std::pair<ImageData, std::string> cases[] = {
        {random_image(type::uint16, {7}, 71), "{'descr': '<u2', 'fortran_order': False, 'shape': (7,), }"},
        {random_image(type::complex16, {2, 3, 4, 5}, 72),
         "{'descr': '<c16', 'fortran_order': False, 'shape': (5, 4, 3, 2), }"},
        {random_image(type::int8, {1, 1}, 73), "{'descr': '|i1', 'fortran_order': False, 'shape': (1, 1), }"}};
    for (const auto& [image, dictionary] : cases) {
        // Spaces and a line break pad the header so that the pixels start on a multiple of 64 bytes.
        std::string header = dictionary;
        header.resize((10 + dictionary.size() + 1 + 63) / 64 * 64 - 10 - 1, ' ');
        files::write_image(path("header.npy"), image);
        EXPECT_TRUE(contents(path("header.npy")) == npy_file(1, header + "\n", image.bytes)) << dictionary;
    }
    files::write_image(path("mask.npy"), {type::binary, {4}, bytes_of(u8{0}, u8{1}, u8{255}, u8{7})});
    expect_same_image(files::read_image(path("mask.npy")), {type::binary, {4}, bytes_of(u8{0}, u8{1}, u8{1}, u8{1})});
}

TEST_F(ImageFiles, PngPreviewScalesTheFirstPlaneFromMinimumToMaximum) {
    constexpr double inf = std::numeric_limits<double>::infinity(), largest = std::numeric_limits<double>::max();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    using i16 = std::int16_t;
    // level = floor((v - min) / (max - min) * 255 + 0.5): 0 of -100..100 is 127.5, rounded up; 50 is 191.25.
    const std::tuple<const char*, ImageData, Sizes, std::vector<u8>> cases[] = {
        {"int16", {type::int16, {2, 2}, bytes_of(i16{-100}, i16{0}, i16{100}, i16{50})}, {2, 2}, {0, 128, 255, 191}},
        {"modulus", {type::complex8, {4}, bytes_of(3.f, 4.f, 0.f, 0.f, 6.f, -8.f, nan, 0.f)}, {4, 1}, {128, 0, 255, 0}},
        {"infinities, NaN", {type::real8, {5}, bytes_of(inf, -inf, 2.0, 1.0, double(nan))}, {5, 1}, {255, 0, 255, 0, 0}},
        {"constant", {type::uint8, {2, 2}, bytes_of(u8{7}, u8{7}, u8{7}, u8{7})}, {2, 2}, {0, 0, 0, 0}},
        {"first plane only", {type::int32, {2, 1, 2}, bytes_of(10, 20, 1000, -1000)}, {2, 1}, {0, 255}},
        {"span beyond the largest double", {type::real8, {3}, bytes_of(-largest, largest, 0.0)}, {3, 1}, {0, 255, 128}},
        {"binary", {type::binary, {3}, bytes_of(u8{1}, u8{0}, u8{1})}, {3, 1}, {255, 0, 255}}};
    for (const auto& [name, image, read_sizes, levels] : cases) {
        SCOPED_TRACE(name);
        files::write_image(path("preview.PnG"), image);
        expect_same_image(files::read_image(path("preview.PnG")), {type::uint8, read_sizes, bytes_of_vector(levels)});
    }
    // Wider than libpng's default limit of a million pixels a side.
    std::vector<u8> stripes(1200000);
    for (std::size_t i = 0; i < stripes.size(); ++i) stripes[i] = i % 2 == 0 ? 0 : 255;
    files::write_image(path("wide.png"), {type::uint8, {stripes.size()}, bytes_of_vector(stripes)});
    expect_same_image(files::read_image(path("wide.png")), {type::uint8, {1200000, 1}, bytes_of_vector(stripes)});
}

TEST_F(ImageFiles, MalformedTruncatedAndUnsupportedFilesAreRefusedWithTheirReason) {
    std::vector<std::tuple<std::string, Bytes, std::string>> cases;  // file name, bytes, message fragment
    const auto tiff = [&](const char* fragment, std::vector<TiffPage> pages) {
        cases.emplace_back("bad.tif", libtiff_file(pages), fragment);
    };
    const TiffPage grey{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(16)};
    tiff("page 1 has 3 samples per pixel", {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(48), 3, PHOTOMETRIC_RGB}});
    tiff("(palette); only grey", {{4, 4, 8, SAMPLEFORMAT_UINT, Bytes(16), 1, PHOTOMETRIC_PALETTE}});
    tiff("1-bit unsigned integer samples, which are no host", {{8, 4, 1, SAMPLEFORMAT_UINT, Bytes(4)}});
    tiff("16-bit floating-point samples", {{4, 4, 16, SAMPLEFORMAT_IEEEFP, Bytes(32)}});
    tiff("32-bit complex integer samples", {{4, 4, 32, SAMPLEFORMAT_COMPLEXINT, Bytes(64)}});
    tiff("page 2 is 4 x 5 unsigned 8-bit integer, but page 1 is 4 x 4 unsigned 8-bit integer; the pages of a stack",
         {grey, {4, 5, 8, SAMPLEFORMAT_UINT, Bytes(20)}});
    tiff("page 2 is 4 x 4 unsigned 16-bit integer", {grey, {4, 4, 16, SAMPLEFORMAT_UINT, Bytes(32)}});
    const Bytes whole = handmade_tiff(false, 16, SAMPLEFORMAT_UINT, Bytes(12), 12);
    ASSERT_NO_THROW(files::decode_image("whole.tif", whole.data(), whole.size()));
    cases.emplace_back("bad.tif", Bytes(whole.begin(), whole.end() - 5), "its pixel data ends before the end of strip");
    const Bytes garbage(12, std::byte{0xff});
    cases.emplace_back("bad.tif", handmade_tiff(false, 16, SAMPLEFORMAT_UINT, garbage, 12, COMPRESSION_ADOBE_DEFLATE),
                       "strip 0 cannot be decoded");
    // The same, 838860802 pixels wide: 6.7 GB claimed by 12 bytes, refused without touching that memory.
    Bytes wide = handmade_tiff(false, 32, SAMPLEFORMAT_IEEEFP, garbage, 12, COMPRESSION_ADOBE_DEFLATE);
    wide[18] = std::byte{2}, wide[21] = std::byte{0x32};
    cases.emplace_back("bad.tif", wide, "strip 0 cannot be decoded");
    cases.emplace_back("bad.tif", text_bytes("hello"), "cannot be read as TIFF");
    // Our own two-page file cut in the header, before the first directory
    // (written after its pixels), and in it: libtiff alone would read one page.
    files::write_image(path("own.tif"), random_image(type::real8, {16, 16, 2}, 31));
    const Bytes own = contents(path("own.tif"));
    for (const auto& [keep, fragment] : {std::pair<std::size_t, const char*>{4, "the file ends inside the TIFF header"},
             {100, "its first directory lies past the end of the file"}, {own.size() / 2, "the directory of page 1 is cut off"}}) {
        cases.emplace_back("bad.tif", Bytes(own.begin(), own.begin() + std::ptrdiff_t(keep)), fragment);
    }

    const std::tuple<int, int, int, const char*> png_kinds[] = {
        {PNG_COLOR_TYPE_RGB, 8, 3, "holds RGB colour pixels; only 8- and 16-bit grey PNG files can be read"},
        {PNG_COLOR_TYPE_PALETTE, 8, 1, "holds palette colour pixels"}, {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, "grey with alpha"},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, 4, "holds RGB colour with alpha pixels"}, {PNG_COLOR_TYPE_GRAY, 4, 1, "4-bit grey"}};
    for (const auto& [colour, depth, channels, fragment] : png_kinds) {
        const Bytes pixels(4 * ((8 * channels * depth + 7) / 8));
        cases.emplace_back("bad.png", libpng_file(8, 4, depth, colour, PNG_INTERLACE_NONE, pixels), fragment);
    }
    files::write_image(path("noise.png"), random_image(type::uint8, {64, 64}, 50));
    const Bytes png = contents(path("noise.png"));
    for (const std::size_t keep : {std::size_t{7}, std::size_t{20}, png.size() / 2, png.size() - 1}) {
        cases.emplace_back("bad.png", Bytes(png.begin(), png.begin() + std::ptrdiff_t(keep)),
                           keep < 8 ? "it lacks the PNG signature" : "is truncated: the PNG data ends early");
    }
    Bytes flipped = png;
    flipped[png.size() / 2] ^= std::byte{0x55};
    cases.emplace_back("bad.png", flipped, "is corrupt (libpng: ");
    // A header claiming 60000 x 60000 pixels over a few hundred bytes, its
    // checksum made good: refused before the pixels are allocated.
    Bytes forged = png;
    for (const int at : {16, 17, 20, 21}) forged[at] = std::byte{0};
    for (const int at : {18, 22}) forged[at] = std::byte{0xea}, forged[at + 1] = std::byte{0x60};
    const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(&forged[12]), 17));
    for (int k = 0; k < 4; ++k) forged[29 + k] = static_cast<std::byte>(crc >> (24 - 8 * k));
    cases.emplace_back("bad.png", forged, "60000 x 60000 pixels cannot come from");

    Bytes overlong = npy_file(1, "{}", {});
    overlong[8] = overlong[9] = std::byte{0xff};
    const std::pair<Bytes, std::string> npy_files[] = {
        {{}, "is not a NumPy .npy file: it does not start with \\x93NUMPY"},
        {text_bytes("PK\x03\x04 not an array"), "is not a NumPy .npy file"},
        {text_bytes("\x93NUMPY\x01"), "is truncated: the file ends inside the .npy header"},
        {overlong, "is truncated: the file ends inside the .npy header"},
        {npy_file(3, "{}", {}), ".npy format version 3.0 is not supported; versions 1.0 and 2.0 are"},
        {npy_file(1, "{}", {}, 1), "version 1.1 is not supported"},
        {npy_file(2, std::string(70000, ' '), {}), "has a .npy header of 70000 bytes; at most 65536"},
        {npy_file(1, "{'descr': '<f4', 'fortran_order': False, 'shape': (5,)}"),
         "is truncated: its header describes 20 bytes of pixels, but only 16 follow it"},
        {npy_file(1, "{'descr': '|b1', 'fortran_order': False, 'shape': (3,)}", bytes_of(u8{1}, u8{2}, u8{0})),
         "holds the value 2 at element 1 of a boolean array; booleans are 0 or 1"}};
    for (const auto& [file, fragment] : npy_files) cases.emplace_back("bad.npy", file, fragment);
    // Headers, each after "\x93NUMPY" 1.0, its length and before 16 bytes of pixels.
    const std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': ";
    const std::pair<std::string, std::string> headers[] = {
        {"'descr': '<f4'", "has a malformed .npy header: it does not start with '{'"},
        {"{'descr': '<f4', 'fortran_order': False}", "it lacks the key 'shape'"},
        {"{'fortran_order': False, 'shape': (4,)}", "it lacks the key 'descr'"},
        {"{'descr': '<f4', 'order': 'C', 'fortran_order': False, 'shape': (4,)}", "it has an unexpected key 'order'"},
        {"{'descr': '<f4', 'descr': '<f4', 'fortran_order': False, 'shape': (4,)}", "it repeats the key 'descr'"},
        {"{'descr': '<f4' 'fortran_order': False}", "no ',' or '}' after a value"},
        {"{'descr': '<f4", "it has an unterminated string"},
        {"{'descr': '<f\\x34', 'fortran_order': False, 'shape': (4,)}", "an escape or line break inside a string"},
        {"{descr: '<f4'}", "a key that is not a quoted string"},
        {"{'descr': '<f4', 'fortran_order': 0, 'shape': (4,)}", "neither True nor False"},
        {dict + "(4)}", "'shape' value that is a number, not a tuple"},
        {dict + "[4]}", "'shape' value that is not a tuple"},
        {dict + "(-4,)}", "'shape' entry that is not a non-negative integer"},
        {dict + "(99999999999999999999999,)}", "too large to be an array size"},
        {dict + "(4, 5", "no ',' or ')' after an entry"},
        {dict + "(4,)} x", "it has text after the dictionary"},
        {"{'descr': '<i8', 'fortran_order': False, 'shape': (2,)}", "dtype '<i8' is not supported; supported: |i1 |u1"},
        {"{'descr': '|i2', 'fortran_order': False, 'shape': (8,)}", "dtype '|i2' is not supported"},
        {"{'descr': '\x01\xfe', 'fortran_order': False, 'shape': (8,)}", "dtype '?" "?' is not supported"},
        {"{'descr': [('x', '<f4')], 'fortran_order': False, 'shape': (4,)}", "holds a structured NumPy dtype"},
        {dict + "()}", "holds a 0-dimensional NumPy array (a single number); an image has 1 to 4 dimensions"},
        {dict + "(1, 1, 1, 2, 2)}", "holds a 5-dimensional NumPy array"},
        {dict + "(3, 0)}", "holds an empty NumPy array of shape (3, 0); the host holds no empty image"},
        {dict + "(4294967296, 4294967296)}", "4294967296 x 4294967296 4-byte real pixels is larger than the 8 GiB limit"}};
    for (const auto& [header, fragment] : headers) cases.emplace_back("bad.npy", npy_file(1, header), fragment);

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    for (const auto& c : cases) {
        const Bytes& file = std::get<1>(c);
        const std::string& name = std::get<0>(c);
        expect_file_error([&] { files::decode_image(name, file.data(), file.size()); }, name, std::get<2>(c));
    }
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 1 << 20) << "KiB of peak memory";
}

TEST_F(ImageFiles, NpyHeaderParserReadsOnlyItsOwnBytesUpToTheSizeLimit) {
    const Bytes file = npy_file(1, "{'descr': '<c16', 'fortran_order': True, 'shape': (2, 3, 4, 5), }\n", {});
    ASSERT_NO_THROW(files::detail::parse_npy_header("p.npy", file.data(), file.size()));
    // Every shorter prefix, in a buffer of exactly its size, so that the
    // address sanitizer sees any read beyond it.
    for (std::size_t keep = 0; keep < file.size(); ++keep) {
        const Bytes prefix(file.begin(), file.begin() + std::ptrdiff_t(keep));
        EXPECT_THROW(files::detail::parse_npy_header("p.npy", prefix.data(), keep), FileError) << keep;
    }
    const Bytes at_limit = npy_file(1, "{'descr': '|u1', 'fortran_order': False, 'shape': (8589934592,)}", {});
    const auto layout = files::detail::parse_npy_header("p.npy", at_limit.data(), at_limit.size());
    EXPECT_EQ(layout.data_bytes, files::detail::max_image_bytes);
}

TEST_F(ImageFiles, FileNamesThatNameNoImageAreRefused) {
    std::filesystem::create_directory(path("folder.npy"));
    ASSERT_EQ(::mkfifo(path("pipe.tif").c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"picture.jpg", "unknown image file extension '.jpg'; supported: .tif, .tiff, .png, .npy, .mrc, .mrcs, .map, "
                        ".st, .ali, .rec"},
        {"plain", "has no file extension; supported: .tif, .tiff, .png, .npy, .mrc"},
        {"dir.d/plain", "has no file extension"},
        {"absent.tif", "No such file or directory"},
        {"folder.npy", "Is a directory"},
        {"pipe.tif", "is not a regular file"}};  // and opening it does not wait for a writer
    for (const auto& c : cases) expect_file_error([&] { files::read_image(path(c.first)); }, path(c.first), c.second);
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder.npy", "pipe.tif"}));
}

// Lowers the file size limit of the process for its lifetime, so that
// writes fail half way with EFBIG rather than a signal.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit lowered{bytes, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved), std::signal(SIGXFSZ, handler); }
    void (*handler)(int);
    rlimit saved{};
};

TEST_F(ImageFiles, WritesReplaceTheTargetWholeOrLeaveItAndNothingElseBehind) {
    const std::pair<ImageData, std::string> refused[] = {
        {{type::packed_complex, {2, 2}, Bytes(32)}, "images of packed complex type (code 5) have no file form"},
        {{type::rgb, {2, 2}, Bytes(16)}, "images of RGB type (code 8) have no file form"},
        {{99, {2, 2}, Bytes(16)}, "images of unknown type (code 99) have no file form"},
        {{type::real4, {}, {}}, "1 to 4 dimensions, not 0"},
        {{type::real4, {1, 1, 1, 1, 1}, Bytes(4)}, "1 to 4 dimensions, not 5"},
        {{type::real4, {3, 0}, {}}, "the image is 3 x 0, empty in dimension 1; the host holds no empty image"},
        {{type::real4, {3, 2}, Bytes(20)}, "the image data holds 20 bytes, but 3 x 2 4-byte real pixels take 24"},
        {{type::uint8, {1 << 20, 1 << 20, 8}, {}}, "larger than the 8 GiB limit"}};  // from the sizes alone
    // Its own preview, so that it reads back the same from every format.
    const ImageData image{type::uint8, {2, 2}, bytes_of(u8{0}, u8{255}, u8{255}, u8{0})};
    const Bytes old = text_bytes("the file that was there");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    for (const std::string name : {"out.tif", "out.png", "out.npy"}) {
        SCOPED_TRACE(name);
        const std::string target = path(name), missing = path("missing/") + name;
        for (const auto& r : refused) expect_file_error([&] { files::write_image(target, r.first); }, target, r.second);
        expect_file_error([&] { files::write_image(missing, image); }, missing, "No such file or directory");
        EXPECT_TRUE(entries().empty());
        // The rename fails when the target is a directory.
        std::filesystem::create_directory(target);
        expect_file_error([&] { files::write_image(target, image); }, target, "Is a directory");
        EXPECT_TRUE(std::filesystem::is_empty(target));
        std::filesystem::remove(target);
        // A write that fails half way leaves the old file as it was; one that
        // succeeds replaces it, with the permissions of any new file.
        std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(old.data()), std::ssize(old));
        ::chmod(target.c_str(), 0600);
        {
            const FileSizeLimit limit(8192);
            expect_file_error([&] { files::write_image(target, random_image(type::uint8, {256, 256}, 2)); }, target,
                              std::string(": ") + std::strerror(EFBIG));
        }
        EXPECT_TRUE(contents(target) == old);
        EXPECT_EQ(entries(), std::vector<std::string>{name});
        files::write_image(target, image);
        expect_same_image(files::read_image(target), image);
        EXPECT_EQ(entries(), std::vector<std::string>{name});
        struct stat status {};
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
        std::filesystem::remove(target);
    }
}

TEST_F(ImageFiles, TiffPixelSizeIsReadAsOtherProgramsWriteIt) {
    // ImageJ's unit= names the unit of XResolution whatever ResolutionUnit
    // says (hyperspy writes inches); without it only centimetres count.
    struct Case {
        const char* description;
        std::uint16_t unit;
        float x, y;
        files::PixelSize expected;
    };
    const Case cases[] = {
        {"ImageJ=1.11a\nunit=nm", RESUNIT_INCH, 50, 50, {0.02, false}},  // as hyperspy's s.save writes it
        {"ImageJ=1.54f\nimages=1\nunit=micron\n", RESUNIT_NONE, 4, 4, {250, false}},
        {"ImageJ=1.54f\nunit=\\u00B5m\n", RESUNIT_CENTIMETER, 2, 2, {500, false}},
        {"ImageJ=1.54f\nunit=\xc2\xb5m\n", RESUNIT_NONE, 2, 2, {500, false}},
        {"ImageJ=1.54f\nunit=um\n", RESUNIT_NONE, 2, 2, {500, false}},
        {"ImageJ=1.54f\nunit=A\n", RESUNIT_NONE, 10, 10, {0.01, false}},
        {"ImageJ=1.54f\nunit=\xc3\x85\n", RESUNIT_NONE, 10, 10, {0.01, false}},
        {"ImageJ=1.54f\nunit=pm\n", RESUNIT_NONE, 0.125, 0.125, {0.008, false}},
        {"ImageJ=1.54f\nunit=1/nm\n", RESUNIT_INCH, 5, 5, {0.2, true}},
        {"ImageJ=1.54f\nunit=1/A\n", RESUNIT_NONE, 0.5, 0.5, {20, true}},
        {"ImageJ=1.54f\nunit=pixel\n", RESUNIT_NONE, 1, 1, {}},
        {"ImageJ=1.54f\nunit=nm\n", RESUNIT_NONE, 2, 4, {}},  // x and y disagree
        {"", RESUNIT_CENTIMETER, 4e6, 4e6, {2.5, false}},
        {"", RESUNIT_INCH, 300, 300, {}},  // a display setting
        {"", RESUNIT_NONE, 2, 2, {}},
        {"not ImageJ\nunit=nm\n", RESUNIT_NONE, 2, 2, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        TIFF* tif = TIFFOpen(path("calibrated.tif").c_str(), "w");
        for (const auto& [tag, value] : {std::pair<ttag_t, unsigned>{TIFFTAG_IMAGEWIDTH, 2}, {TIFFTAG_IMAGELENGTH, 1},
                 {TIFFTAG_BITSPERSAMPLE, 8}, {TIFFTAG_SAMPLESPERPIXEL, 1}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                 {TIFFTAG_ROWSPERSTRIP, 1}, {TIFFTAG_RESOLUTIONUNIT, c.unit}}) {
            TIFFSetField(tif, tag, value);
        }
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, double{c.x});
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, double{c.y});
        if (*c.description != 0) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, c.description);
        const u8 row[2] = {1, 2};
        TIFFWriteScanline(tif, const_cast<u8*>(row), 0, 0);
        TIFFClose(tif);
        const files::PixelSize read = files::read_image(path("calibrated.tif")).pixel_size;
        EXPECT_NEAR(read.value, c.expected.value, 1e-6 * c.expected.value);
        EXPECT_EQ(read.reciprocal, c.expected.reciprocal);
    }
}

TEST_F(ImageFiles, PixelSizesInNmOrReciprocalNmReadBackWhereTheFormatHoldsThem) {
    // TIFF keeps both on a page and on a stack; MRC holds no reciprocal unit
    // and .npy none: keeps_calibration says so before the write.
    const std::tuple<const char*, Sizes, files::PixelSize, files::PixelSize> cases[] = {
        {"page.tif", {3, 2}, {0.0178, false}, {0.0178, false}},
        {"page.tif", {3, 2}, {0.174, true}, {0.174, true}},
        {"stack.tif", {3, 2, 2}, {0.0178, false}, {0.0178, false}},
        {"stack.tif", {3, 2, 2}, {0.174, true}, {0.174, true}},
        {"stack.mrc", {3, 2, 2}, {0.25, false}, {0.25, false}},
        {"pattern.mrc", {3, 2}, {0.174, true}, {}},
        {"plain.npy", {3, 2}, {0.25, false}, {}}};
    for (const auto& [name, sizes, written, read] : cases) {
        SCOPED_TRACE(std::string(name) + " " + files::describe(written));
        ImageData image = random_image(type::real4, sizes, 5);
        image.pixel_size = written;
        EXPECT_EQ(files::keeps_calibration(path(name), written), read.known());
        files::write_image(path(name), image);
        const files::PixelSize back = files::read_image(path(name)).pixel_size;
        EXPECT_NEAR(back.value, read.value, 1e-7 * read.value);
        EXPECT_EQ(back.reciprocal, read.reciprocal);
    }
}

// An MRC file put together byte by byte: these header words in the byte
// order chosen, then `extended` bytes of extended header and `data`.
struct MrcHeader {
    std::int32_t nx = 2, ny = 1, nz = 1, mode = 2, extended = 0, mx = 0;
    float cell_x = 0;
    bool big_endian = false, stamped = true;
};
Bytes mrc_file(const MrcHeader& h, const Bytes& data) {
    Bytes out(1024 + std::size_t(std::max(h.extended, 0)), std::byte{0x5a});
    const std::uint32_t words[][2] = {{0, std::uint32_t(h.nx)}, {4, std::uint32_t(h.ny)}, {8, std::uint32_t(h.nz)},
        {12, std::uint32_t(h.mode)}, {28, std::uint32_t(h.mx)}, {40, std::bit_cast<std::uint32_t>(h.cell_x)},
        {92, std::uint32_t(h.extended)}, {212, h.stamped ? (h.big_endian ? 0x11110000u : 0x4444u) : 0}};
    for (const auto& [at, value] : words) {
        for (std::size_t k = 0; k < 4; ++k) out[at + k] = std::byte(value >> 8 * (h.big_endian ? 3 - k : k));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST_F(ImageFiles, MrcReadsEveryModeInEitherByteOrderWithThePixelSize) {
    using i8 = std::int8_t;
    using i16 = std::int16_t;
    using u16 = std::uint16_t;
    const float inf = std::numeric_limits<float>::infinity();
    const std::tuple<const char*, MrcHeader, Bytes, ImageData> cases[] = {
        {"mode 0 is signed; big-endian; 35 A over 10 pixels",
         {.nx = 3, .mode = 0, .mx = 10, .cell_x = 35.f, .big_endian = true}, bytes_of(u8{0xff}, u8{0x80}, u8{7}),
         {type::int8, {3, 1}, bytes_of(i8{-1}, i8{-128}, i8{7}), {0.35, false}}},
        {"mode 12: 1, -2, 2^-24, 65504, -inf, -0", {.nx = 3, .ny = 2, .mode = 12},
         bytes_of(u16{0x3c00}, u16{0xc000}, u16{1}, u16{0x7bff}, u16{0xfc00}, u16{0x8000}),
         {type::real4, {3, 2}, bytes_of(1.f, -2.f, std::ldexp(1.f, -24), 65504.f, -inf, -0.f)}},
        {"mode 3, big-endian, an extended header skipped", {.nz = 2, .mode = 3, .extended = 8, .big_endian = true},
         swapped(bytes_of(i16{1}, i16{-2}, i16{32767}, i16{-32768}, i16{0}, i16{3}, i16{4}, i16{5}), 2),
         {type::complex8, {2, 1, 2}, bytes_of(1.f, -2.f, 32767.f, -32768.f, 0.f, 3.f, 4.f, 5.f)}},
        {"mode 6, big-endian without a stamp", {.mode = 6, .big_endian = true, .stamped = false},
         bytes_of(u8{0x12}, u8{0x34}, u8{0xff}, u8{0}), {type::uint16, {2, 1}, bytes_of(u16{0x1234}, u16{0xff00})}}};
    for (const auto& [name, header, data, expected] : cases) {
        SCOPED_TRACE(name);
        const Bytes file = mrc_file(header, data);
        const ImageData image = files::decode_image("in.mrc", file.data(), file.size());
        expect_same_image(image, expected);
        EXPECT_EQ(image.pixel_size.value, expected.pixel_size.value);
    }
}

TEST_F(ImageFiles, MrcWritesItsModesAndRefusesOtherTypesAndBrokenHeaders) {
    // 1-D reads back as one row and 4-D as its z x t sections.
    const std::pair<Sizes, Sizes> shapes[] = {{{7}, {7, 1}}, {{5, 3}, {5, 3}}, {{3, 2, 2, 3}, {3, 2, 6}}};
    for (const std::int32_t code : {type::int8, type::int16, type::uint16, type::real4, type::complex8}) {
        for (const auto& [sizes, read_sizes] : shapes) {
            ImageData image = random_image(code, sizes, 3);
            image.pixel_size = {0.125, false};
            files::write_image(path("out.mrcs"), image);
            const ImageData read = files::read_image(path("out.mrcs"));
            expect_same_image(read, {code, read_sizes, image.bytes});
            EXPECT_EQ(read.pixel_size.value, 0.125);
        }
    }
    expect_file_error([&] { files::write_image(path("out.mrc"), random_image(type::uint8, {2}, 1)); }, path("out.mrc"),
                      "MRC files hold signed 8-bit, signed 16-bit and unsigned 16-bit integers, 4-byte reals and "
                      "complex of 4-byte reals, not unsigned 8-bit integer pixels");
    const Bytes whole = mrc_file({.nx = 2, .ny = 2}, Bytes(16));
    Bytes overlong = whole;
    overlong[92] = std::byte{17};  // NSYMBT: 17 bytes, of the 16 after the header
    const std::pair<Bytes, std::string> broken[] = {
        {Bytes(whole.begin(), whole.begin() + 1000), "is truncated: the file ends inside the 1024-byte MRC header"},
        {Bytes(whole.begin(), whole.end() - 1), "its header describes 16 bytes of pixels, but only 15 follow it"},
        {mrc_file({.nx = 4, .ny = 0, .nz = -1}, {}), "has the sizes 4 x 0 x -1 in its MRC header; each must be at least 1"},
        {mrc_file({.mode = 101}, Bytes(8)), "MRC mode 101 is not supported; modes 0, 1, 2, 3, 4, 6 and 12 are"},
        {mrc_file({.extended = -4}, Bytes(8)), "has an extended header of -4 bytes, which the file does not hold"},
        {overlong, "has an extended header of 17 bytes, which the file does not hold"},
        {mrc_file({.nx = 65536, .ny = 32768, .nz = 2}, {}), "65536 x 32768 x 2 4-byte real pixels is larger than the 8 GiB"}};
    for (const auto& c : broken) {
        expect_file_error([&] { files::decode_image("bad.mrc", c.first.data(), c.first.size()); }, "bad.mrc", c.second);
    }
}

// Pixels both sides can compute: (37 i mod 251) - 100 for the i-th number
// in memory order, cast to the pixel type (complex: real parts, imaginary 0).
template <class T>
ImageData ramp(std::int32_t code, Sizes sizes, double pixel_size_nm = 0) {
    std::uint64_t count = 1;
    for (auto s : sizes) count *= s;
    std::vector<T> values(count);
    for (std::uint64_t i = 0; i < count; ++i) values[i] = static_cast<T>(static_cast<int>(i * 37 % 251) - 100);
    return {code, sizes, bytes_of_vector(values), {pixel_size_nm, false}};
}

// Independent writers and readers: Python's tifffile and mrcfile read what
// we write, and we read what they write, with the pixel size.
TEST_F(ImageFiles, TifffileAndMrcfileReadWhatWeWriteAndWeReadWhatTheyWrite) {
    if (std::system("/usr/bin/python3 -c 'import numpy, tifffile, mrcfile' 2>/dev/null") != 0) {
        GTEST_SKIP() << "/usr/bin/python3 lacks numpy, tifffile or mrcfile (scripts/setup.sh installs them)";
    }
    using c8 = std::complex<float>;
    const std::pair<std::string, ImageData> ours[] = {
        {"ours_i1.mrc", ramp<std::int8_t>(type::int8, {5, 4, 3}, 0.25)},
        {"ours_c8.mrc", ramp<c8>(type::complex8, {5, 4}, 2)},
        {"ours_f4.tif", ramp<float>(type::real4, {5, 4, 3}, 0.25)}};
    for (const auto& item : ours) files::write_image(path(item.first), item.second);
    std::ofstream(path("check.py")) << R"(import sys, os, io, warnings, numpy as np, tifffile, mrcfile
os.chdir(sys.argv[1])
warnings.simplefilter('ignore')  # mrcfile's statistics of complex data
def ramp(shape, dtype): return ((np.arange(np.prod(shape)) * 37 % 251) - 100).astype(dtype).reshape(shape)
for name, dtype, shape, pixel in [('ours_i1.mrc', 'i1', (3, 4, 5), 2.5), ('ours_c8.mrc', 'c8', (4, 5), 20)]:
    assert mrcfile.validate(name, print_file=io.StringIO()), name
    with mrcfile.open(name) as m:
        assert np.array_equal(m.data, ramp(shape, dtype)) and abs(m.voxel_size.x - pixel) < 1e-5, name
        assert m.header.ispg == 0 and (m.is_image_stack() if len(shape) == 3 else m.is_single_image()), name
with tifffile.TiffFile('ours_f4.tif') as t:
    assert np.array_equal(t.asarray(), ramp((3, 4, 5), 'f4'))
    x, y = t.pages[0].tags['XResolution'].value
    assert abs(1e7 * y / x - 0.25) < 1e-6 and t.pages[0].tags['ResolutionUnit'].value == 3
tifffile.imwrite('theirs_tiles.tif', ramp((35, 40), 'u2'), tile=(16, 16), compression='zlib')
tifffile.imwrite('theirs_big.tif', ramp((3, 20, 30), 'f4'), bigtiff=True, photometric='minisblack')
tifffile.imwrite('theirs_ij.tif', ramp((2, 8, 9), 'f4'), imagej=True, resolution=(4, 4), metadata={'unit': 'um'})
tifffile.imwrite('theirs_cm.tif', ramp((2, 3), 'i1'), resolution=(4e6, 4e6), resolutionunit='CENTIMETER')
with mrcfile.new('theirs_f2.mrc') as m:
    m.set_data(ramp((6, 7), 'f2'))
    m.voxel_size = 3.5
with mrcfile.new('theirs_i2.mrcs') as m:
    m.set_data(ramp((3, 4, 5), 'i2'))
    m.set_image_stack()
)";
    ASSERT_EQ(std::system(("/usr/bin/python3 " + path("check.py") + " " + dir_).c_str()), 0);
    const std::pair<std::string, ImageData> theirs[] = {
        {"theirs_tiles.tif", ramp<std::uint16_t>(type::uint16, {40, 35})},
        {"theirs_big.tif", ramp<float>(type::real4, {30, 20, 3})},
        {"theirs_ij.tif", ramp<float>(type::real4, {9, 8, 2}, 250)},
        {"theirs_cm.tif", ramp<std::int8_t>(type::int8, {3, 2}, 2.5)},
        {"theirs_f2.mrc", ramp<float>(type::real4, {7, 6}, 0.35)},
        {"theirs_i2.mrcs", ramp<std::int16_t>(type::int16, {5, 4, 3})}};
    for (const auto& [name, expected] : theirs) {
        SCOPED_TRACE(name);
        const ImageData image = files::read_image(path(name));
        expect_same_image(image, expected);
        EXPECT_NEAR(image.pixel_size.value, expected.pixel_size.value, 1e-6 * expected.pixel_size.value);
    }
}

}  // namespace
}  // namespace zorvan::testing
