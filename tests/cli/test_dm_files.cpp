// The host application's .dm3/.dm4 files, put together byte by byte here:
// images, stacks, complex pixels, calibrations and acquisition facts read;
// the thumbnail skipped and `path:N` choosing; one table of forged,
// truncated and unsupported files with their messages, and every prefix
// of a good file refused. (The real files hyperspy ships are compared with
// hyperspy in python/tests/test_dm_files.py.)

#include "files/image_formats.h"
#include "files/image_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace zorvan::testing {
namespace {

using files::FileError;
using files::ImageData;
using Bytes = std::vector<std::byte>;
using Sizes = std::vector<std::uint64_t>;

// Writes the tag tree of a .dm3 (32-bit counts) or .dm4 (64-bit counts);
// data values little-endian unless `big_values`.
struct DmFile {
    bool dm4 = false;
    bool big_values = false;

    static void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
    static Bytes big_endian(std::uint64_t value, int bytes) {
        Bytes out;
        for (int k = bytes - 1; k >= 0; --k) out.push_back(std::byte(value >> 8 * k));
        return out;
    }
    Bytes word(std::uint64_t value) const { return big_endian(value, dm4 ? 8 : 4); }
    // A value of `width`-byte numbers in the file's value order.
    Bytes numbers(const Bytes& little, std::size_t width) const {
        Bytes out = little;
        if (big_values) {
            for (std::size_t k = 0; k + width <= out.size(); k += width) std::reverse(out.begin() + k, out.begin() + k + width);
        }
        return out;
    }
    Bytes entry_head(int kind, const std::string& name, std::size_t rest) const {
        Bytes out{std::byte(kind)};
        append(out, big_endian(name.size(), 2));
        append(out, Bytes(reinterpret_cast<const std::byte*>(name.data()), reinterpret_cast<const std::byte*>(name.data()) + name.size()));
        if (dm4) append(out, word(rest));
        return out;
    }
    Bytes group_body(const std::vector<Bytes>& entries) const {
        Bytes out{std::byte{0}, std::byte{0}};
        append(out, word(entries.size()));
        for (const Bytes& entry : entries) append(out, entry);
        return out;
    }
    Bytes group(const std::string& name, const std::vector<Bytes>& entries) const {
        const Bytes body = group_body(entries);
        Bytes out = entry_head(20, name, body.size());
        append(out, body);
        return out;
    }
    Bytes data(const std::string& name, const std::vector<std::uint64_t>& info, const Bytes& value) const {
        Bytes body{std::byte{'%'}, std::byte{'%'}, std::byte{'%'}, std::byte{'%'}};
        append(body, word(info.size()));
        for (const std::uint64_t w : info) append(body, word(w));
        append(body, value);
        Bytes out = entry_head(21, name, body.size());
        append(out, body);
        return out;
    }
    template <class T>
    Bytes scalar(const std::string& name, std::uint64_t type, T value) const {
        Bytes little(sizeof value);
        std::memcpy(little.data(), &value, sizeof value);
        return data(name, {type}, numbers(little, sizeof value));
    }
    Bytes text(const std::string& name, const std::u16string& text) const {
        Bytes little(text.size() * 2);
        if (!text.empty()) std::memcpy(little.data(), text.data(), little.size());
        return data(name, {20, 4, text.size()}, numbers(little, 2));
    }
    Bytes file(const std::vector<Bytes>& root, std::uint32_t version = 0) const {
        Bytes out = big_endian(version ? version : dm4 ? 4 : 3, 4);
        const Bytes body = group_body(root);
        append(out, big_endian(body.size() + 4 + 8, dm4 ? 8 : 4));
        append(out, big_endian(big_values ? 0 : 1, 4));
        append(out, body);
        append(out, Bytes(8));
        return out;
    }

    struct Axis {
        float scale, origin;
        std::u16string unit;
    };
    // One entry of ImageList: `pixels` (little-endian) as an array of
    // `element` numbers `width` bytes wide, or of (re, im) structs.
    Bytes image(const std::u16string& name, std::int32_t type, const Sizes& sizes, const Bytes& pixels,
                std::uint64_t element, std::size_t width, const std::vector<Axis>& axes = {},
                std::vector<Bytes> image_tags = {}, bool complex_structs = false) const {
        std::vector<Bytes> dimensions, calibrations;
        for (const std::uint64_t size : sizes) dimensions.push_back(scalar("", 5, std::uint32_t(size)));
        for (const Axis& axis : axes) {
            calibrations.push_back(group("", {scalar("Origin", 6, axis.origin), scalar("Scale", 6, axis.scale),
                                              text("Units", axis.unit)}));
        }
        const Bytes value = numbers(pixels, width);
        const Bytes array = complex_structs ? data("Data", {20, 15, 0, 2, 0, element, 0, element, pixels.size() / width / 2}, value)
                                            : data("Data", {20, element, pixels.size() / width}, value);
        return group("", {group("ImageData", {group("Calibrations", {group("Dimension", calibrations)}), array,
                                               scalar("DataType", 3, type), group("Dimensions", dimensions)}),
                          group("ImageTags", image_tags), text("Name", name)});
    }
};

template <class T>
Bytes little_bytes(const std::vector<T>& values) {
    Bytes out(values.size() * sizeof(T));
    if (!values.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

void expect_message(const std::function<void()>& action, const std::string& expected) {
    std::string message = "<no FileError>";
    try {
        action();
    } catch (const FileError& error) {
        message = error.what();
    }
    EXPECT_EQ(message, expected);
}

class DmFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorvan-dm-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string save(const std::string& name, const Bytes& bytes) const {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
        return path;
    }
    std::string dir_;
};

// A thumbnail, a calibrated int16 image with its microscope's facts, and a
// complex stack of (re, im) structs.
Bytes three_images(const DmFile& dm) {
    const Bytes thumbnail = dm.image(u"", 23, {2, 1}, Bytes(8), 5, 4);
    const Bytes int16 = dm.image(u"HAADF", 1, {3, 2}, little_bytes<std::int16_t>({1, -2, 300, -32768, 32767, 0}), 2, 2,
                                 {{0.25f, -2.f, u"nm"}, {0.25f, 4.f, u"nm"}},
                                 {dm.group("Microscope Info", {dm.scalar("Voltage", 7, 300000.0)}),
                                  dm.group("DataBar", {dm.scalar("Exposure Time (s)", 7, 0.5)})});
    const Bytes complex = dm.image(u"FFT \u00c5", 3, {2, 1, 2}, little_bytes<float>({1, -1, 2, -2, 3, -3, 4, -4}), 6, 4,
                                   {{0.5f, 1.f, u"1/nm"}, {0.5f, 1.f, u"1/nm"}, {1.f, 0.f, u""}}, {}, true);
    return dm.file({dm.group("ImageList", {thumbnail, int16, complex}),
                    dm.group("Thumbnails", {dm.group("", {dm.scalar("ImageIndex", 5, std::uint32_t{0})})})});
}

TEST_F(DmFiles, ReadsEveryImageWithItsCalibrationInBothVersionsAndByteOrders) {
    for (const DmFile dm : {DmFile{false, false}, DmFile{true, false}, DmFile{false, true}, DmFile{true, true}}) {
        SCOPED_TRACE(std::string(dm.dm4 ? "dm4" : "dm3") + (dm.big_values ? ", big-endian values" : ""));
        const std::string path = save(dm.dm4 ? "three.dm4" : "three.dm3", three_images(dm));
        const std::vector<files::ImageSummary> listed = files::list_images(path);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].name, "HAADF");
        EXPECT_EQ(listed[0].type_text, "signed 16-bit integer");
        EXPECT_EQ(listed[1].name, "FFT \xc3\x85");
        EXPECT_EQ(listed[1].sizes, (Sizes{2, 1, 2}));
        EXPECT_EQ(listed[1].refusal, "");
        // Mapped in place only where the pixels are stored little-endian.
        EXPECT_EQ(listed[0].raw_data_offset != 0, !dm.big_values);

        const ImageData first = files::read_image(path);  // the thumbnail skipped
        EXPECT_EQ(first.data_type, 1);
        EXPECT_EQ(first.sizes, (Sizes{3, 2}));
        EXPECT_TRUE(first.bytes == little_bytes<std::int16_t>({1, -2, 300, -32768, 32767, 0}));
        EXPECT_EQ(first.axes, (std::vector<files::AxisCalibration>{{0.25, -2, "nm"}, {0.25, 4, "nm"}}));
        EXPECT_EQ(first.pixel_size, (files::PixelSize{0.25, false}));
        EXPECT_EQ(first.voltage_v, 300000);
        EXPECT_EQ(first.exposure_s, 0.5);
        if (!dm.big_values) {
            std::ifstream in(path, std::ios::binary);
            in.seekg(std::streamoff(listed[0].raw_data_offset));
            std::int16_t pixels[6];
            in.read(reinterpret_cast<char*>(pixels), sizeof pixels);
            EXPECT_EQ(std::memcmp(pixels, first.bytes.data(), sizeof pixels), 0);
        }

        const ImageData second = files::read_image(path + ":1");
        EXPECT_EQ(second.data_type, 3);
        EXPECT_TRUE(second.bytes == little_bytes<float>({1, -1, 2, -2, 3, -3, 4, -4}));
        EXPECT_EQ(second.pixel_size, (files::PixelSize{0.5, true}));
        EXPECT_EQ(second.axes[2], (files::AxisCalibration{1, 0, ""}));
        EXPECT_EQ(second.voltage_v, 0);
    }
}

TEST_F(DmFiles, PicksTheFirstImageThatReadsAndKeepsTheRestBehindTheirIndex) {
    const DmFile dm;
    const Bytes spectrum = dm.image(u"EELS", 2, {4}, Bytes(16), 6, 4, {{0.5f, -10.f, u"eV"}},
                                    {dm.group("Meta Data", {dm.text("Format", u"Spectrum"), dm.text("Signal", u"EELS")})});
    const Bytes mask = dm.image(u"mask", 14, {3}, little_bytes<std::uint8_t>({0, 7, 1}), 10, 1);
    const std::string path = save("a.dm3", dm.file({dm.group("ImageList", {spectrum, mask})}));
    // Binary pixels read as 0 and 1, whatever the file stores.
    const ImageData image = files::read_image(path);
    EXPECT_TRUE(image.bytes == little_bytes<std::uint8_t>({0, 1, 1}));
    expect_message([&] { files::read_image(path + ":0"); },
                   path + ": image 0 is a spectrum (EELS) of 4 values, not an image; hyperspy reads spectra");
    expect_message([&] { files::read_image(path + ":2"); }, path + ": holds 2 images, 0 to 1; there is no image 2");
    const std::string tiff = dir_ + "/one.tif";
    files::write_image(tiff, image);
    EXPECT_EQ(files::read_image(tiff + ":0").sizes, (Sizes{3, 1}));
    expect_message([&] { files::read_image(tiff + ":1"); }, tiff + ": holds one image, 0; there is no image 1");
    expect_message([&] { files::write_image(dir_ + "/out.dm4", image); },
                   dir_ + "/out.dm4: files of the host application (.dm3, .dm4) are read, not written");
}

TEST_F(DmFiles, ForgedTruncatedAndUnsupportedFilesAreRefusedWithTheirReason) {
    const DmFile dm;
    const DmFile dm4{true, false};
    const auto one = [&](const Bytes& image) { return dm.file({dm.group("ImageList", {image})}); };
    const Bytes int16 = dm.image(u"i", 1, {3, 2}, Bytes(12), 2, 2);
    Bytes bad_order = one(int16);
    bad_order[11] = std::byte{2};
    Bytes bad_mark = dm.data("M", {3}, Bytes(4));
    bad_mark[4] = std::byte{'#'};
    Bytes bad_kind = dm.data("K", {3}, Bytes(4));
    bad_kind[0] = std::byte{22};
    Bytes announced = one(int16);
    announced[6] = std::byte{0x10}, announced[7] = std::byte{0};  // 4096 bytes
    // 64 groups below the root are read, 65 refused; 1024 struct fields read, 1025 refused.
    Bytes deepest = dm.group("", {});
    for (int depth = 1; depth < 64; ++depth) deepest = dm.group("", {deepest});
    const Bytes nested = dm.group("", {deepest});
    std::string trail = "[0]";
    for (int depth = 1; depth < 65; ++depth) trail += "/[0]";
    const auto struct_of = [&](std::uint64_t fields) {
        std::vector<std::uint64_t> info{15, 0, fields};
        for (std::uint64_t f = 0; f < fields; ++f) info.insert(info.end(), {0, 9});
        return dm.data("Wide", info, Bytes(fields));
    };
    std::vector<std::uint64_t> words(2054);
    words[0] = 3;
    const Bytes many_words = dm.data("Many", words, Bytes(4));
    Bytes forged_count = dm.file({});
    for (int k = 14; k < 18; ++k) forged_count[k] = std::byte{0xff};  // the root's entry count
    const std::string rgb = "image 0 holds RGB colour pixels (data type 23); the host's functions take grey and complex images";
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{}, "is truncated: the file ends inside the header"},
        {dm.file({}, 5), "is not a file of the host application of a known version: its header says version 5; "
                         "versions 3 (.dm3) and 4 (.dm4) are read"},
        {bad_order, "is corrupt: its byte-order flag is 2, neither 0 nor 1"},
        {announced, "is truncated: its header announces 4096 bytes, but only 268 follow it"},
        {dm.file({dm.group("Other", {})}), "holds no image list (no tag 'ImageList')"},
        {dm.file({dm.group("ImageList", {})}), "holds no image besides its thumbnail"},
        {forged_count, "is corrupt: the root tag group lists 4294967295 entries, but only 8 bytes follow"},
        {dm.file({deepest}), "holds no image list (no tag 'ImageList')"},
        {dm.file({nested}), "is corrupt: its tags nest deeper than 64 groups at tag '" + trail + "'"},
        {dm.file({struct_of(1024)}), "holds no image list (no tag 'ImageList')"},
        {dm.file({dm.data("Big", {20, 4, 0x40000000}, Bytes(4))}),
         "is truncated: tag 'Big' holds 1073741824 values of 2 bytes, but only 12 bytes are left in the file"},
        {dm4.file({dm4.data("Big", {20, 7, std::uint64_t{1} << 61}, Bytes(8))}),
         "is truncated: tag 'Big' holds 2305843009213693952 values of 8 bytes, but only 16 bytes are left in the file"},
        {dm.file({dm.data("Odd", {13}, Bytes(4))}), "is corrupt: tag 'Odd' has the unknown value type 13"},
        {dm.file({dm.data("None", {}, Bytes(4))}), "is corrupt: tag 'None' has 0 type words"},
        {dm.file({struct_of(1025)}), "is corrupt: tag 'Wide' has a struct of 1025 fields"},
        {dm.file({many_words}), "is corrupt: tag 'Many' has 2054 type words"},
        {dm.file({dm.data("Short", {20, 15, 0, 2, 0, 6}, Bytes(4))}),
         "is corrupt: tag 'Short' of type 20 has only 6 type words"},
        {dm.file({bad_mark}), "is corrupt: tag 'M' lacks its '%%%%' mark"},
        {dm.file({bad_kind}), "is corrupt: tag 'K' is of kind 22; only 20 (a group) and 21 (data) exist"},
        {one(dm.image(u"t", 23, {2, 2}, Bytes(16), 5, 4)), "holds no image that can be read: " + rgb},
        {one(dm.image(u"t", 8, {2, 2}, Bytes(16), 5, 4)), "holds no image that can be read: image 0 holds RGB colour pixels (data type 8); the host's functions take grey and complex images"},
        {one(dm.image(u"t", 5, {2, 2}, Bytes(32), 6, 4)),
         "holds no image that can be read: image 0 holds packed complex pixels (data type 5, the half-plane layout "
         "of a Fourier transform); convert it to complex in the host application first"},
        {one(dm.image(u"t", 27, {2, 2}, Bytes(32), 6, 4)),
         "holds no image that can be read: image 0 holds pixels of data type 27, which is no type the host's "
         "functions take"},
        {one(dm.image(u"t", 1, {3, 2}, Bytes(10), 2, 2)),
         "holds no image that can be read: image 0 is corrupt: its pixel data holds 10 bytes, but 3 x 2 signed "
         "16-bit integer pixels take 12"},
        {one(dm.image(u"t", 1, {3, 2}, Bytes(12), 10, 1)),
         "holds no image that can be read: image 0 is corrupt: its pixel data are 1-byte numbers, but signed "
         "16-bit integer pixels are 2 bytes"},
        {one(dm.image(u"t", 1, {1, 1, 1, 1, 2}, Bytes(4), 2, 2)),
         "holds no image that can be read: image 0 has 5 dimensions; an image has 1 to 4"},
        {one(dm.image(u"t", 1, {3, 0}, Bytes(0), 2, 2)),
         "holds no image that can be read: image 0 has a size that is not a positive whole number"},
        {one(dm.image(u"t", 2, {65536, 32768, 2}, Bytes(4), 6, 4)),
         "holds no image that can be read: image 0 is 65536 x 32768 x 2 4-byte real pixels, larger than the 8 GiB "
         "limit"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(message);
        std::string got = "<no FileError>";
        try {
            files::decode_image("bad.dm3", file.data(), file.size());
        } catch (const FileError& error) {
            got = error.what();
        }
        EXPECT_EQ(got.rfind("bad.dm3: " + message, 0), 0u) << got;
    }
}

TEST_F(DmFiles, EveryPrefixOfAGoodFileIsRefusedNeverReadPastItsEnd) {
    for (const DmFile dm : {DmFile{false, false}, DmFile{true, true}}) {
        const Bytes whole = three_images(dm);
        ASSERT_NO_THROW(files::decode_image("whole.dm4", whole.data(), whole.size()));
        // Each prefix in a buffer of exactly its size, for the address sanitizer.
        for (std::size_t keep = 0; keep + 8 < whole.size(); ++keep) {
            const Bytes prefix(whole.begin(), whole.begin() + std::ptrdiff_t(keep));
            EXPECT_THROW(files::decode_image("cut.dm4", prefix.data(), prefix.size()), FileError) << keep;
        }
    }
}

// Seeds of the file fuzz target: ZORVAN_WRITE_FUZZ_SEEDS=<corpus folder>
// writes them (the first byte picks the reader: 4 is .dm3, 5 .dm4).
TEST_F(DmFiles, FuzzSeeds) {
    const char* folder = std::getenv("ZORVAN_WRITE_FUZZ_SEEDS");
    if (folder == nullptr) GTEST_SKIP() << "set ZORVAN_WRITE_FUZZ_SEEDS to write the fuzz seeds";
    for (const DmFile dm : {DmFile{false, false}, DmFile{true, true}}) {
        Bytes seed{std::byte(dm.dm4 ? 5 : 4)};
        DmFile::append(seed, three_images(dm));
        std::ofstream(std::string(folder) + (dm.dm4 ? "/dm4-big-endian-three-images" : "/dm3-three-images"),
                      std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()), std::ssize(seed));
    }
}

}  // namespace
}  // namespace zorvan::testing
