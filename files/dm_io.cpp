// The host application's own image files, .dm3 and .dm4: a big-endian
// header, then a tree of tag groups and data tags. The images are the
// groups of the root's `ImageList`, less the thumbnail that `Thumbnails`
// points at; each holds `ImageData` (pixels, type code, sizes,
// calibrations), a `Name` and `ImageTags` (acquisition metadata).
//
// The tree is read once for its structure only: a data tag keeps where its
// value lies, and the few values wanted are read from there. Every count and
// length is checked against the bytes left before it is used.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace zorvan::files::detail {
namespace {

namespace code = dm::data_type;

// Real files nest about ten groups deep and hold some thousands of tags.
constexpr int max_depth = 64;
constexpr std::uint64_t max_tags = std::uint64_t{1} << 20;
// Structs have a handful of fields (a complex number, a rectangle).
constexpr std::uint64_t max_struct_fields = 1024;
// Text values read into memory: names, units, formats.
constexpr std::uint64_t max_text_units = 4096;

// The value types of data tags.
enum : std::uint64_t {
    int16_value = 2, int32_value = 3, uint16_value = 4, uint32_value = 5, float32_value = 6, float64_value = 7,
    bool_value = 8, int8_value = 9, uint8_value = 10, int64_value = 11, uint64_value = 12, struct_value = 15,
    string_value = 18, array_value = 20
};

// Bytes of a simple value type; 0 for structs, strings, arrays and unknown types.
std::uint64_t simple_bytes(std::uint64_t type) {
    switch (type) {
        case bool_value:
        case int8_value:
        case uint8_value: return 1;
        case int16_value:
        case uint16_value: return 2;
        case int32_value:
        case uint32_value:
        case float32_value: return 4;
        case float64_value:
        case int64_value:
        case uint64_value: return 8;
        default: return 0;
    }
}

// One entry of the tree. A data tag's value is `count` elements of
// `element` (a simple type, or struct_value with `fields`), `bytes` long at
// `offset`; a scalar or a struct has count 1 and is not an array.
struct Tag {
    std::string name;
    bool group = false;
    std::vector<Tag> entries;
    bool array = false;
    std::uint64_t element = 0;
    std::vector<std::uint64_t> fields;
    std::uint64_t count = 0, offset = 0, bytes = 0;

    const Tag* find(std::string_view wanted) const {
        for (const Tag& entry : entries) {
            if (entry.name == wanted) return &entry;
        }
        return nullptr;
    }
    // The entry at a path of names, "ImageTags/Microscope Info/Voltage"; null if absent.
    const Tag* at(std::string_view path) const {
        const Tag* tag = this;
        while (tag != nullptr && !path.empty()) {
            const std::size_t slash = path.find('/');
            tag = tag->find(path.substr(0, slash));
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        }
        return tag;
    }
};

// Reads the header and the tag tree, through a window of the file so that
// the many small fields do not each cost a read.
class TreeReader {
public:
    TreeReader(const std::string& path, Source& source) : path_(path), source_(source) {}

    // The header, then the root group.
    Tag read() {
        const std::uint32_t version = static_cast<std::uint32_t>(big_endian(4, "the header"));
        if (version != 3 && version != 4) {
            fail(path_, "is not a file of the host application of a known version: its header says version " +
                            std::to_string(version) + "; versions 3 (.dm3) and 4 (.dm4) are read");
        }
        dm4_ = version == 4;
        const std::uint64_t rest = big_endian(dm4_ ? 8 : 4, "the header");
        const std::uint64_t order = big_endian(4, "the header");
        if (order > 1) {
            fail(path_, "is corrupt: its byte-order flag is " + std::to_string(order) + ", neither 0 nor 1");
        }
        little_endian_ = order == 1;
        // The length written counts the rest of the file, less 8 closing zero bytes in some writers.
        if (rest > source_.size() - position_ + 8) {
            fail(path_, "is truncated: its header announces " + std::to_string(rest) + " bytes, but only " +
                            std::to_string(source_.size() - position_) + " follow it");
        }
        Tag root;
        root.group = true;
        read_group(root, 0);
        return root;
    }

    bool little_endian() const { return little_endian_; }

private:
    std::uint64_t left() const { return source_.size() - position_; }

    [[noreturn]] void truncated(std::string_view where) const {
        fail(path_, "is truncated: the file ends inside " + std::string(where));
    }

    std::string here() const {
        std::string text = "tag '";
        for (std::size_t k = 0; k < trail_.size(); ++k) text += (k > 0 ? "/" : "") + trail_[k];
        return text + "'";
    }

    void take(void* out, std::size_t count, std::string_view where) {
        if (count == 0) return;
        if (count > left()) truncated(where);
        if (position_ < window_start_ || position_ + count > window_start_ + window_.size()) {
            window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(count, 1 << 16), left())));
            window_start_ = position_;
            read_exact(source_, path_, position_, window_.data(), window_.size());
        }
        std::memcpy(out, window_.data() + (position_ - window_start_), count);
        position_ += count;
    }

    std::uint64_t big_endian(std::size_t bytes, std::string_view where) {
        unsigned char field[8];
        take(field, bytes, where);
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < bytes; ++k) value = value << 8 | field[k];
        return value;
    }
    std::uint64_t number_word(std::string_view where) { return big_endian(dm4_ ? 8 : 4, where); }

    void read_group(Tag& group, int depth) {
        if (depth > max_depth) {
            fail(path_, "is corrupt: its tags nest deeper than " + std::to_string(max_depth) + " groups at " + here());
        }
        const std::string where = trail_.empty() ? std::string("the root tag group") : here();
        big_endian(2, where);  // the "sorted" and "open" flags
        const std::uint64_t count = number_word(where);
        // Each entry takes at least its one-byte kind.
        if (count > left()) {
            fail(path_, "is corrupt: " + where + " lists " + std::to_string(count) + " entries, but only " +
                            std::to_string(left()) + " bytes follow");
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto kind = static_cast<unsigned>(big_endian(1, where));
            if (kind == 0) break;  // the end, as some writers mark it
            const auto name_length = static_cast<std::size_t>(big_endian(2, where));
            if (name_length > left()) truncated(where);
            Tag entry;
            entry.name.resize(name_length);
            take(entry.name.data(), name_length, where);
            trail_.push_back(name_length == 0 ? "[" + std::to_string(k) + "]" : entry.name);
            if (dm4_) {
                const std::uint64_t entry_bytes = number_word(here());
                if (entry_bytes > left()) truncated(here());
            }
            if (++tags_ > max_tags) {
                fail(path_, "is corrupt or not one the host application wrote: it holds more than " +
                                std::to_string(max_tags) + " tags");
            }
            if (kind == 20) {
                entry.group = true;
                read_group(entry, depth + 1);
            } else if (kind == 21) {
                read_data(entry);
            } else {
                fail(path_, "is corrupt: " + here() + " is of kind " + std::to_string(kind) +
                                "; only 20 (a group) and 21 (data) exist");
            }
            trail_.pop_back();
            group.entries.push_back(std::move(entry));
        }
    }

    // The sum of a struct's field sizes; FileError for a field that is not simple.
    std::uint64_t struct_bytes(const std::vector<std::uint64_t>& fields) const {
        std::uint64_t bytes = 0;
        for (const std::uint64_t field : fields) {
            const std::uint64_t size = simple_bytes(field);
            if (size == 0) fail(path_, "is corrupt: " + here() + " has a struct field of type " + std::to_string(field));
            bytes += size;
        }
        return bytes;
    }

    void read_data(Tag& tag) {
        const std::string where = here();
        char mark[4];
        take(mark, 4, where);
        if (std::memcmp(mark, "%%%%", 4) != 0) fail(path_, "is corrupt: " + where + " lacks its '%%%%' mark");
        const std::size_t word = dm4_ ? 8 : 4;
        const std::uint64_t words = number_word(where);
        if (words == 0 || words > 5 + 2 * max_struct_fields) {
            fail(path_, "is corrupt: " + where + " has " + std::to_string(words) + " type words");
        }
        if (words > left() / word) truncated(where);
        std::vector<std::uint64_t> info(static_cast<std::size_t>(words));
        for (auto& value : info) value = number_word(where);
        const auto need = [&](std::uint64_t count) {
            if (info.size() < count) {
                fail(path_, "is corrupt: " + where + " of type " + std::to_string(info[0]) + " has only " +
                                std::to_string(info.size()) + " type words");
            }
        };
        const auto field_types = [&](std::size_t first, std::uint64_t count) {
            if (count > max_struct_fields) {
                fail(path_, "is corrupt: " + where + " has a struct of " + std::to_string(count) + " fields");
            }
            need(first + 2 * count);
            std::vector<std::uint64_t> fields;
            for (std::uint64_t f = 0; f < count; ++f) fields.push_back(info[first + 2 * f + 1]);
            return fields;
        };
        std::uint64_t element_bytes = 0;
        tag.count = 1;
        tag.element = info[0];
        if (info[0] == struct_value) {
            need(3);
            tag.fields = field_types(3, info[2]);
            element_bytes = struct_bytes(tag.fields);
        } else if (info[0] == string_value) {
            need(2);
            tag.element = uint8_value;
            tag.array = true;
            tag.count = info[1];
            element_bytes = 1;
        } else if (info[0] == array_value) {
            need(3);
            tag.array = true;
            tag.element = info[1];
            if (tag.element == struct_value) {
                need(4);
                tag.fields = field_types(4, info[3]);
                need(5 + 2 * tag.fields.size());
                tag.count = info[4 + 2 * tag.fields.size()];
                element_bytes = struct_bytes(tag.fields);
            } else {
                tag.count = info[2];
                element_bytes = simple_bytes(tag.element);
                if (element_bytes == 0) {
                    fail(path_, "is corrupt: " + where + " is an array of elements of type " +
                                    std::to_string(tag.element));
                }
            }
        } else {
            element_bytes = simple_bytes(info[0]);
            if (element_bytes == 0) {
                fail(path_, "is corrupt: " + where + " has the unknown value type " + std::to_string(info[0]));
            }
        }
        if (element_bytes != 0 && tag.count > left() / element_bytes) {
            fail(path_, "is truncated: " + where + " holds " + std::to_string(tag.count) + " values of " +
                            std::to_string(element_bytes) + " bytes, but only " + std::to_string(left()) +
                            " bytes are left in the file");
        }
        tag.offset = position_;
        tag.bytes = tag.count * element_bytes;
        position_ += tag.bytes;
    }

    const std::string& path_;
    Source& source_;
    bool dm4_ = false;
    bool little_endian_ = true;
    std::uint64_t position_ = 0;
    std::uint64_t tags_ = 0;
    std::vector<std::string> trail_;
    std::vector<unsigned char> window_;
    std::uint64_t window_start_ = 0;
};

// Reads the few values wanted from the tags' places in the file.
class Values {
public:
    Values(const std::string& path, Source& source, bool little_endian)
        : path_(path), source_(source), little_endian_(little_endian) {}

    // A number from a simple scalar tag; empty for anything else.
    std::optional<double> number(const Tag* tag) const {
        if (tag == nullptr || tag->group || tag->array || tag->element == struct_value) return std::nullopt;
        const std::uint64_t size = simple_bytes(tag->element);
        unsigned char raw[8] = {};
        read_exact(source_, path_, tag->offset, raw, static_cast<std::size_t>(size));
        if (!little_endian_) std::reverse(raw, raw + size);
        const auto as = [&]<class T>() {
            T value;
            std::memcpy(&value, raw, sizeof value);
            return static_cast<double>(value);
        };
        switch (tag->element) {
            case bool_value:
            case uint8_value: return as.template operator()<std::uint8_t>();
            case int8_value: return as.template operator()<std::int8_t>();
            case int16_value: return as.template operator()<std::int16_t>();
            case uint16_value: return as.template operator()<std::uint16_t>();
            case int32_value: return as.template operator()<std::int32_t>();
            case uint32_value: return as.template operator()<std::uint32_t>();
            case float32_value: return as.template operator()<float>();
            case float64_value: return as.template operator()<double>();
            case int64_value: return as.template operator()<std::int64_t>();
            case uint64_value: return as.template operator()<std::uint64_t>();
            default: return std::nullopt;
        }
    }

    // Text from an array of UTF-16 code units (as UTF-8) or of 8-bit
    // characters; "" for anything else or anything longer than a name.
    std::string text(const Tag* tag) const {
        const bool bytes = tag && (tag->element == int8_value || tag->element == uint8_value);
        if (tag == nullptr || tag->group || !tag->array || tag->count > max_text_units ||
            (!bytes && tag->element != uint16_value)) {
            return {};
        }
        const auto size = static_cast<std::size_t>(tag->bytes);
        std::vector<unsigned char> raw(size);
        read_exact(source_, path_, tag->offset, raw.data(), size);
        if (bytes) return std::string(raw.begin(), raw.end());
        std::string text;
        for (std::size_t k = 0; k + 1 < size; k += 2) {
            std::uint32_t unit = little_endian_ ? raw[k] | raw[k + 1] << 8 : raw[k] << 8 | raw[k + 1];
            // A surrogate pair is one code point; a lone surrogate becomes U+FFFD.
            if (unit >= 0xd800 && unit < 0xdc00 && k + 3 < size) {
                const std::uint32_t low = little_endian_ ? raw[k + 2] | raw[k + 3] << 8 : raw[k + 2] << 8 | raw[k + 3];
                if (low >= 0xdc00 && low < 0xe000) {
                    unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
                    k += 2;
                }
            }
            if (unit >= 0xd800 && unit < 0xe000) unit = 0xfffd;
            append_utf8(text, unit);
        }
        return text;
    }

private:
    static void append_utf8(std::string& text, std::uint32_t point) {
        if (point < 0x80) {
            text += static_cast<char>(point);
        } else if (point < 0x800) {
            text += static_cast<char>(0xc0 | point >> 6);
            text += static_cast<char>(0x80 | (point & 0x3f));
        } else if (point < 0x10000) {
            text += static_cast<char>(0xe0 | point >> 12);
            text += static_cast<char>(0x80 | (point >> 6 & 0x3f));
            text += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            text += static_cast<char>(0xf0 | point >> 18);
            text += static_cast<char>(0x80 | (point >> 12 & 0x3f));
            text += static_cast<char>(0x80 | (point >> 6 & 0x3f));
            text += static_cast<char>(0x80 | (point & 0x3f));
        }
    }

    const std::string& path_;
    Source& source_;
    bool little_endian_;
};

// One image of the file: its summary, and where its pixels lie.
struct Entry {
    ImageSummary summary;
    const Tag* data = nullptr;
    std::uint64_t number_bytes = 0;  // of each number in the data array, for byte swapping
};

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The width of each number in an array: its elements', or the fields' of a
// struct whose fields are all of one type (complex pixels as (re, im)
// structs); 0 for a mixed struct.
std::uint64_t number_bytes_of(const Tag& data) {
    if (data.element != struct_value) return simple_bytes(data.element);
    if (data.fields.empty()) return 0;
    for (const std::uint64_t field : data.fields) {
        if (field != data.fields[0]) return 0;
    }
    return simple_bytes(data.fields[0]);
}

// What the summary says of an image the reader refuses, and why, from
// its type code and what its tags say it holds.
struct Refusal {
    std::string type_text;
    std::string reason;
};
std::optional<Refusal> refusal_of_type(std::int64_t type) {
    if (type == code::rgb || type == 23) {
        return Refusal{"RGB", "holds RGB colour pixels (data type " + std::to_string(type) +
                                  "); the host's functions take grey and complex images"};
    }
    if (type == code::packed_complex) {
        return Refusal{"packed complex", "holds packed complex pixels (data type 5, the half-plane layout of a "
                                         "Fourier transform); convert it to complex in the host application first"};
    }
    if (element_bytes(static_cast<std::int32_t>(type)) == 0 || type != static_cast<std::int32_t>(type)) {
        return Refusal{"type " + std::to_string(type),
                       "holds pixels of data type " + std::to_string(type) + ", which is no type the host's functions take"};
    }
    return std::nullopt;
}

class Images {
public:
    Images(const std::string& path, Source& source) : path_(path), source_(source) {
        TreeReader reader(path, source);
        root_ = reader.read();
        values_.emplace(path, source, reader.little_endian());
        little_endian_ = reader.little_endian();
        collect();
    }

    const std::vector<Entry>& entries() const { return entries_; }

    ImageData read(const Entry& entry) const {
        const ImageSummary& summary = entry.summary;
        if (!summary.refusal.empty()) fail(path_, "image " + std::to_string(summary.index) + " " + summary.refusal);
        ImageData image;
        image.data_type = summary.data_type;
        image.sizes = summary.sizes;
        image.axes = summary.axes;
        image.pixel_size = summary.pixel_size;
        image.name = summary.name;
        image.voltage_v = summary.voltage_v;
        image.exposure_s = summary.exposure_s;
        image.bytes.resize(static_cast<std::size_t>(entry.data->bytes));
        read_exact(source_, path_, entry.data->offset, image.bytes.data(), image.bytes.size());
        if (!little_endian_) {
            reverse_each_number(image.bytes.data(), image.bytes.size(), static_cast<std::size_t>(entry.number_bytes));
        }
        // Binary pixels are 0 or 1, as the host's functions and NumPy's booleans take them.
        if (image.data_type == code::binary) {
            for (std::byte& pixel : image.bytes) pixel = pixel != std::byte{0} ? std::byte{1} : std::byte{0};
        }
        return image;
    }

private:
    void collect() {
        const Tag* list = root_.find("ImageList");
        if (list == nullptr || !list->group) fail(path_, "holds no image list (no tag 'ImageList')");
        // The thumbnails the host application shows, by their place in the list.
        std::vector<std::uint64_t> thumbnails;
        if (const Tag* shown = root_.find("Thumbnails"); shown != nullptr && shown->group) {
            for (const Tag& thumbnail : shown->entries) {
                if (const auto index = values_->number(thumbnail.find("ImageIndex"))) {
                    thumbnails.push_back(static_cast<std::uint64_t>(*index));
                }
            }
        }
        for (std::size_t place = 0; place < list->entries.size(); ++place) {
            if (std::find(thumbnails.begin(), thumbnails.end(), place) != thumbnails.end()) continue;
            const Tag& group = list->entries[place];
            if (!group.group) continue;
            Entry entry;
            entry.summary.index = entries_.size();
            describe(group, entry);
            entries_.push_back(std::move(entry));
        }
    }

    void describe(const Tag& group, Entry& entry) const {
        ImageSummary& summary = entry.summary;
        summary.name = values_->text(group.find("Name"));
        const auto refuse = [&](std::string type_text, std::string reason) {
            if (summary.type_text.empty()) summary.type_text = std::move(type_text);
            summary.refusal = std::move(reason);
        };
        const Tag* image_data = group.find("ImageData");
        const Tag* data = image_data ? image_data->find("Data") : nullptr;
        const std::optional<double> type = image_data ? values_->number(image_data->find("DataType")) : std::nullopt;
        const Tag* dimensions = image_data ? image_data->find("Dimensions") : nullptr;
        if (data == nullptr || !data->array || !type || dimensions == nullptr || !dimensions->group) {
            return refuse("unknown", "lacks its pixels, data type or sizes (tag 'ImageData')");
        }
        for (const Tag& size : dimensions->entries) {
            const std::optional<double> value = values_->number(&size);
            if (!value || !(*value >= 1) || *value > 9.2e18 || *value != std::floor(*value)) {
                return refuse("unknown", "has a size that is not a positive whole number");
            }
            summary.sizes.push_back(static_cast<std::uint64_t>(*value));
        }
        describe_calibration(*image_data, summary);
        describe_acquisition(group, summary);
        if (!(std::abs(*type) < 1e9)) return refuse("unknown", "has the data type " + std::to_string(*type));
        const auto code = static_cast<std::int64_t>(*type);
        summary.data_type = static_cast<std::int32_t>(code);
        if (const auto refused = refusal_of_type(code)) return refuse(refused->type_text, refused->reason);
        summary.type_text = type_name(summary.data_type);
        if (summary.sizes.empty() || summary.sizes.size() > 4) {
            return refuse(summary.type_text, "has " + std::to_string(summary.sizes.size()) +
                                                 " dimensions; an image has 1 to 4");
        }
        std::uint64_t bytes = 0;
        try {
            bytes = checked_byte_count(path_, summary.data_type, summary.sizes);
        } catch (const FileError&) {  // the sizes were checked: only the limit is left
            return refuse(summary.type_text, "is " + sizes_text(summary.sizes) + " " + summary.type_text +
                                                 " pixels, larger than the 8 GiB limit");
        }
        // The pixels' array: simple numbers of the pixel's width, or of half
        // of it for complex pixels (real and imaginary parts), filling exactly.
        entry.number_bytes = number_bytes_of(*data);
        const std::uint64_t pixel_bytes = element_bytes(summary.data_type);
        const bool complex = summary.data_type == code::complex8 || summary.data_type == code::complex16;
        if (entry.number_bytes != pixel_bytes && !(complex && 2 * entry.number_bytes == pixel_bytes)) {
            return refuse(summary.type_text, "is corrupt: its pixel data are " + std::to_string(entry.number_bytes) +
                                                 "-byte numbers, but " + summary.type_text + " pixels are " +
                                                 std::to_string(pixel_bytes) + " bytes");
        }
        if (data->bytes != bytes) {
            return refuse(summary.type_text, "is corrupt: its pixel data holds " + std::to_string(data->bytes) +
                                                 " bytes, but " + sizes_text(summary.sizes) + " " + summary.type_text +
                                                 " pixels take " + std::to_string(bytes));
        }
        entry.data = data;
        if (const std::string held = spectral_content(group, summary); !held.empty()) {
            return refuse(summary.type_text, "is " + held + ", not an image; hyperspy reads spectra");
        }
        if (little_endian_ && summary.data_type != code::binary) summary.raw_data_offset = data->offset;
    }

    void describe_calibration(const Tag& image_data, ImageSummary& summary) const {
        const Tag* dimension = image_data.at("Calibrations/Dimension");
        if (dimension == nullptr || !dimension->group || dimension->entries.empty() || summary.sizes.empty()) return;
        // Stacks built in the host application may calibrate only their
        // first axes: the others are uncalibrated pixels.
        std::vector<AxisCalibration> axes(summary.sizes.size());
        for (std::size_t k = 0; k < std::min(axes.size(), dimension->entries.size()); ++k) {
            const Tag& axis = dimension->entries[k];
            const std::optional<double> scale = values_->number(axis.find("Scale"));
            const std::optional<double> origin = values_->number(axis.find("Origin"));
            if (!scale || !origin) return;
            axes[k] = {*scale, *origin, values_->text(axis.find("Units"))};
        }
        summary.axes = std::move(axes);
        // Square pixels of one length unit, or a 1-D profile's x.
        const AxisCalibration& x = summary.axes[0];
        if (summary.axes.size() == 1 || (summary.axes[1].unit == x.unit && summary.axes[1].scale == x.scale)) {
            summary.pixel_size = pixel_size_from(x.scale, x.unit);
        }
    }

    void describe_acquisition(const Tag& group, ImageSummary& summary) const {
        const Tag* tags = group.find("ImageTags");
        if (tags == nullptr) return;
        if (const auto volts = values_->number(tags->at("Microscope Info/Voltage")); volts && *volts > 0 && std::isfinite(*volts)) {
            summary.voltage_v = *volts;
        }
        for (const char* place : {"DataBar/Exposure Time (s)", "Acquisition/Parameters/High Level/Exposure (s)"}) {
            const auto seconds = values_->number(tags->at(place));
            if (seconds && *seconds > 0 && std::isfinite(*seconds)) {
                summary.exposure_s = *seconds;
                break;
            }
        }
    }

    // "a spectrum image (EELS) of 2 x 2 x 2048 values" when the tags say the
    // data is a spectrum or a spectrum image; "" for an image.
    std::string spectral_content(const Tag& group, const ImageSummary& summary) const {
        const std::string format = lower(values_->text(group.at("ImageTags/Meta Data/Format")));
        if (format.find("spectrum") == std::string::npos) return {};
        const std::string signal = values_->text(group.at("ImageTags/Meta Data/Signal"));
        const bool image = format.find("image") != std::string::npos && summary.sizes.size() > 1;
        return std::string(image ? "a spectrum image" : "a spectrum") + (signal.empty() ? "" : " (" + signal + ")") +
               " of " + sizes_text(summary.sizes) + " values";
    }

    const std::string& path_;
    Source& source_;
    Tag root_;
    std::optional<Values> values_;
    bool little_endian_ = true;
    std::vector<Entry> entries_;
};

}  // namespace

std::vector<ImageSummary> list_dm(const std::string& path, Source& source) {
    const Images images(path, source);
    std::vector<ImageSummary> summaries;
    for (const Entry& entry : images.entries()) summaries.push_back(entry.summary);
    return summaries;
}

ImageData read_dm(const std::string& path, Source& source, std::optional<std::size_t> index) {
    const Images images(path, source);
    const std::vector<Entry>& entries = images.entries();
    if (index) {
        if (*index >= entries.size()) {
            const std::string held = entries.empty() ? std::string("no image besides its thumbnail")
                                     : entries.size() == 1 ? std::string("one image, 0")
                                     : std::to_string(entries.size()) + " images, 0 to " + std::to_string(entries.size() - 1);
            fail(path, "holds " + held + "; there is no image " + std::to_string(*index));
        }
        return images.read(entries[*index]);
    }
    for (const Entry& entry : entries) {
        if (entry.summary.refusal.empty()) return images.read(entry);
    }
    if (entries.empty()) fail(path, "holds no image besides its thumbnail");
    std::string reasons;
    for (const Entry& entry : entries) {
        reasons += (reasons.empty() ? "" : "; ") + std::string("image ") + std::to_string(entry.summary.index) + " " +
                   entry.summary.refusal;
    }
    fail(path, "holds no image that can be read: " + reasons);
}

}  // namespace zorvan::files::detail
