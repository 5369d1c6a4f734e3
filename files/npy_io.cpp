// NumPy .npy files: the magic "\x93NUMPY", a version, a header length and a
// Python dictionary literal {'descr': ..., 'fortran_order': ..., 'shape': (...)}
// padded with spaces, then the array's bytes. The header comes from the file,
// so the parser trusts nothing in it: every read is bounded by the header,
// numbers are overflow-checked and the data length is checked against the
// file before anything is allocated for it.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

namespace zorvan::files::detail {
namespace {

namespace code = dm::data_type;

static_assert(std::endian::native == std::endian::little, "the host's pixels are little-endian");

struct NpyType {
    char kind;
    std::uint32_t bytes;
    std::int32_t data_type;
    const char* descr;  // as written
};

constexpr NpyType npy_types[] = {
    {'i', 1, code::int8, "|i1"},     {'u', 1, code::uint8, "|u1"},       {'b', 1, code::binary, "|b1"},
    {'i', 2, code::int16, "<i2"},    {'u', 2, code::uint16, "<u2"},      {'i', 4, code::int32, "<i4"},
    {'u', 4, code::uint32, "<u4"},   {'f', 4, code::real4, "<f4"},       {'f', 8, code::real8, "<f8"},
    {'c', 8, code::complex8, "<c8"}, {'c', 16, code::complex16, "<c16"},
};

constexpr std::string_view supported_dtypes =
    "supported: |i1 |u1 |b1 <i2 <u2 <i4 <u4 <f4 <f8 <c8 <c16 and their big-endian '>' forms";

// Header text quoted for a message: at most 40 characters, anything not
// printable shown as '?'.
std::string quoted(std::string_view text) {
    std::string out = "'";
    for (std::size_t k = 0; k < text.size() && k < 40; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    if (text.size() > 40) out += "...";
    return out + "'";
}

std::string shape_text(const std::vector<std::uint64_t>& shape) {
    std::string text = "(";
    for (std::size_t k = 0; k < shape.size(); ++k) {
        if (k > 0) text += ", ";
        text += std::to_string(shape[k]);
    }
    return text + (shape.size() == 1 ? ",)" : ")");
}

// The subset of Python literal syntax that .npy headers use: a dictionary of
// quoted keys; values that are quoted strings, True/False, or tuples of
// non-negative integers (an 'L' suffix allowed, as Python 2 wrote them).
class HeaderParser {
public:
    HeaderParser(const std::string& path, std::string_view text) : path_(path), text_(text) {}

    struct Fields {
        std::string_view descr;
        bool fortran_order = false;
        std::vector<std::uint64_t> shape;
    };

    Fields parse() {
        Fields fields;
        bool have_descr = false, have_order = false, have_shape = false;
        skip_space();
        expect('{', "does not start with '{'");
        for (;;) {
            skip_space();
            if (accept('}')) break;
            const std::string_view key = string_literal("a key");
            skip_space();
            expect(':', "has no ':' after a key");
            skip_space();
            if (key == "descr") {
                once(have_descr, key);
                if (peek() == '[') {
                    fail(path_, "holds a structured NumPy dtype; only plain numeric and boolean arrays can be read");
                }
                fields.descr = string_literal("the 'descr' value");
            } else if (key == "fortran_order") {
                once(have_order, key);
                fields.fortran_order = boolean();
            } else if (key == "shape") {
                once(have_shape, key);
                fields.shape = tuple();
            } else {
                malformed("has an unexpected key " + quoted(key));
            }
            skip_space();
            if (accept(',')) continue;
            expect('}', "has no ',' or '}' after a value");
            break;
        }
        skip_space();
        if (at_ != text_.size()) malformed("has text after the dictionary");
        if (!have_descr) malformed("lacks the key 'descr'");
        if (!have_order) malformed("lacks the key 'fortran_order'");
        if (!have_shape) malformed("lacks the key 'shape'");
        return fields;
    }

private:
    [[noreturn]] void malformed(const std::string& what) { fail(path_, "has a malformed .npy header: it " + what); }

    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    bool accept(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void expect(char c, const char* what) {
        if (!accept(c)) malformed(what);
    }

    void skip_space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    void once(bool& seen, std::string_view key) {
        if (seen) malformed("repeats the key " + quoted(key));
        seen = true;
    }

    std::string_view string_literal(const char* what) {
        const char quote = peek();
        if (quote != '\'' && quote != '"') malformed(std::string("has ") + what + " that is not a quoted string");
        const std::size_t start = ++at_;
        while (at_ < text_.size() && text_[at_] != quote) {
            if (text_[at_] == '\\' || text_[at_] == '\n') malformed("has an escape or line break inside a string");
            ++at_;
        }
        if (at_ == text_.size()) malformed("has an unterminated string");
        return text_.substr(start, at_++ - start);
    }

    bool boolean() {
        if (text_.substr(at_, 4) == "True") {
            at_ += 4;
            return true;
        }
        if (text_.substr(at_, 5) == "False") {
            at_ += 5;
            return false;
        }
        malformed("has a 'fortran_order' value that is neither True nor False");
    }

    bool digit() const { return peek() >= '0' && peek() <= '9'; }

    std::uint64_t integer() {
        if (!digit()) malformed("has a 'shape' entry that is not a non-negative integer");
        std::uint64_t value = 0;
        while (digit()) {
            const auto d = static_cast<std::uint64_t>(peek() - '0');
            if (value > (std::uint64_t{1} << 62) / 10) malformed("has a 'shape' entry too large to be an array size");
            value = value * 10 + d;
            ++at_;
        }
        accept('L');
        return value;
    }

    std::vector<std::uint64_t> tuple() {
        expect('(', "has a 'shape' value that is not a tuple");
        std::vector<std::uint64_t> values;
        bool trailing_comma = false;
        for (;;) {
            skip_space();
            if (accept(')')) break;
            values.push_back(integer());
            skip_space();
            trailing_comma = accept(',');
            if (trailing_comma) continue;
            expect(')', "has a 'shape' tuple with no ',' or ')' after an entry");
            break;
        }
        // In Python "(3)" is the number 3: a one-entry tuple needs its comma.
        if (values.size() == 1 && !trailing_comma) malformed("has a 'shape' value that is a number, not a tuple");
        return values;
    }

    const std::string& path_;
    std::string_view text_;
    std::size_t at_ = 0;
};

struct Dtype {
    NpyType type;
    bool big_endian;
};

std::optional<Dtype> dtype_of(std::string_view descr) {
    if (descr.size() < 3 || descr.size() > 4) return std::nullopt;
    const char order = descr[0];
    if (order != '<' && order != '>' && order != '|' && order != '=') return std::nullopt;
    const std::string_view width = descr.substr(2);
    std::uint32_t bytes = 0;
    for (const char c : width) {
        if (c < '0' || c > '9') return std::nullopt;
        bytes = bytes * 10 + static_cast<std::uint32_t>(c - '0');
    }
    for (const NpyType& type : npy_types) {
        if (type.kind != descr[1] || type.bytes != bytes) continue;
        // Several bytes need an order; '|' ("not applicable") is only for one.
        if (bytes > 1 && order == '|') return std::nullopt;
        return Dtype{type, bytes > 1 && order == '>'};
    }
    return std::nullopt;
}

std::uint32_t little_endian(const std::byte* bytes, int count) {
    std::uint32_t value = 0;
    for (int k = count - 1; k >= 0; --k) value = value << 8 | static_cast<std::uint32_t>(bytes[k]);
    return value;
}

// Byte-swaps each number: a complex pixel is two numbers, swapped apart.
void swap_numbers(std::vector<std::byte>& bytes, std::int32_t data_type) {
    const bool complex = data_type == code::complex8 || data_type == code::complex16;
    reverse_each_number(bytes.data(), bytes.size(), complex ? element_bytes(data_type) / 2 : element_bytes(data_type));
}

// In Fortran order the first axis of the shape varies fastest, which is the
// host's last dimension: the dimensions come in reverse. Gathers them into
// the host's order, dimension 0 fastest.
std::vector<std::byte> from_fortran_order(const std::vector<std::byte>& source, const std::vector<std::uint64_t>& sizes,
                                          std::size_t element) {
    std::uint64_t size[4] = {1, 1, 1, 1};
    std::copy(sizes.begin(), sizes.end(), size);
    const std::uint64_t stride[4] = {size[3] * size[2] * size[1], size[3] * size[2], size[3], 1};
    std::vector<std::byte> out(source.size());
    std::byte* next = out.data();
    for (std::uint64_t t = 0; t < size[3]; ++t) {
        for (std::uint64_t z = 0; z < size[2]; ++z) {
            for (std::uint64_t y = 0; y < size[1]; ++y) {
                const std::uint64_t row = t * stride[3] + z * stride[2] + y * stride[1];
                for (std::uint64_t x = 0; x < size[0]; ++x) {
                    std::memcpy(next, source.data() + (row + x * stride[0]) * element, element);
                    next += element;
                }
            }
        }
    }
    return out;
}

}  // namespace

NpyLayout parse_npy_header(const std::string& path, const std::byte* prefix, std::size_t prefix_size) {
    static constexpr unsigned char magic[6] = {0x93, 'N', 'U', 'M', 'P', 'Y'};
    if (prefix_size < sizeof magic || std::memcmp(prefix, magic, sizeof magic) != 0) {
        fail(path, "is not a NumPy .npy file: it does not start with \\x93NUMPY");
    }
    if (prefix_size < 8) fail(path, "is truncated: the file ends inside the .npy header");
    const auto major = static_cast<unsigned>(prefix[6]);
    const auto minor = static_cast<unsigned>(prefix[7]);
    if ((major != 1 && major != 2) || minor != 0) {
        fail(path, ".npy format version " + std::to_string(major) + "." + std::to_string(minor) +
                       " is not supported; versions 1.0 and 2.0 are");
    }
    const int length_bytes = major == 1 ? 2 : 4;
    const std::size_t start = 8 + static_cast<std::size_t>(length_bytes);
    if (prefix_size < start) fail(path, "is truncated: the file ends inside the .npy header");
    const std::size_t header_length = little_endian(prefix + 8, length_bytes);
    if (header_length > npy_max_header) {
        fail(path, "has a .npy header of " + std::to_string(header_length) + " bytes; at most " +
                       std::to_string(npy_max_header) + " are accepted");
    }
    if (header_length > prefix_size - start) fail(path, "is truncated: the file ends inside the .npy header");

    const std::string_view text(reinterpret_cast<const char*>(prefix + start), header_length);
    const HeaderParser::Fields fields = HeaderParser(path, text).parse();

    const std::optional<Dtype> dtype = dtype_of(fields.descr);
    if (!dtype) {
        fail(path, "NumPy dtype " + quoted(fields.descr) + " is not supported; " + std::string(supported_dtypes));
    }
    const std::vector<std::uint64_t>& shape = fields.shape;
    if (shape.empty()) {
        fail(path, "holds a 0-dimensional NumPy array (a single number); an image has 1 to 4 dimensions");
    }
    if (shape.size() > 4) {
        fail(path,
             "holds a " + std::to_string(shape.size()) + "-dimensional NumPy array; an image has 1 to 4 dimensions");
    }
    if (std::find(shape.begin(), shape.end(), std::uint64_t{0}) != shape.end()) {
        fail(path, "holds an empty NumPy array of shape " + shape_text(shape) + "; the host holds no empty image");
    }

    NpyLayout layout;
    layout.data_type = dtype->type.data_type;
    layout.sizes.assign(shape.rbegin(), shape.rend());
    layout.fortran_order = fields.fortran_order;
    layout.swap_bytes = dtype->big_endian;
    layout.data_offset = start + header_length;
    layout.data_bytes = checked_byte_count(path, layout.data_type, layout.sizes);
    return layout;
}

ImageData read_npy(const std::string& path, Source& source) {
    const std::uint64_t file_size = source.size();
    std::vector<std::byte> prefix(static_cast<std::size_t>(std::min<std::uint64_t>(file_size, npy_max_prefix)));
    read_exact(source, path, 0, prefix.data(), prefix.size());
    const NpyLayout layout = parse_npy_header(path, prefix.data(), prefix.size());

    const std::uint64_t available = file_size - layout.data_offset;
    if (available < layout.data_bytes) {
        fail(path, "is truncated: its header describes " + std::to_string(layout.data_bytes) +
                       " bytes of pixels, but only " + std::to_string(available) + " follow it");
    }
    ImageData image;
    image.data_type = layout.data_type;
    image.sizes = layout.sizes;
    image.bytes.resize(static_cast<std::size_t>(layout.data_bytes));
    read_exact(source, path, layout.data_offset, image.bytes.data(), image.bytes.size());

    if (layout.swap_bytes) swap_numbers(image.bytes, image.data_type);
    if (image.data_type == code::binary) {
        const auto bad = std::find_if(image.bytes.begin(), image.bytes.end(),
                                      [](std::byte b) { return static_cast<unsigned>(b) > 1; });
        if (bad != image.bytes.end()) {
            fail(path, "holds the value " + std::to_string(static_cast<unsigned>(*bad)) + " at element " +
                           std::to_string(bad - image.bytes.begin()) + " of a boolean array; booleans are 0 or 1");
        }
    }
    if (layout.fortran_order && image.sizes.size() > 1) {
        image.bytes = from_fortran_order(image.bytes, image.sizes, element_bytes(image.data_type));
    }
    return image;
}

void write_npy(const std::string&, const ImageData& image, OutputFile& out) {
    const auto type = std::find_if(std::begin(npy_types), std::end(npy_types),
                                   [&](const NpyType& t) { return t.data_type == image.data_type; });
    const std::vector<std::uint64_t> shape(image.sizes.rbegin(), image.sizes.rend());
    // The dictionary as NumPy writes it, padded with spaces and ended by a
    // line break so that the data starts on a multiple of 64 bytes.
    std::string header =
        std::string("{'descr': '") + type->descr + "', 'fortran_order': False, 'shape': " + shape_text(shape) + ", }";
    const std::size_t unpadded = 10 + header.size() + 1;
    header.append((64 - unpadded % 64) % 64, ' ');
    header += '\n';

    const auto length = static_cast<std::uint16_t>(header.size());
    std::string preamble("\x93NUMPY\x01\x00", 8);
    preamble += static_cast<char>(length & 0xff);
    preamble += static_cast<char>(length >> 8);
    out.write(preamble.data(), preamble.size());
    out.write(header.data(), header.size());

    if (image.data_type != code::binary) {
        out.write(image.bytes.data(), image.bytes.size());
        return;
    }
    // A boolean is 0 or 1: any other byte of a binary image is written as 1.
    std::vector<std::byte> chunk(std::min<std::size_t>(image.bytes.size(), 1 << 16));
    for (std::size_t done = 0; done < image.bytes.size(); done += chunk.size()) {
        const std::size_t count = std::min(chunk.size(), image.bytes.size() - done);
        std::transform(image.bytes.begin() + static_cast<std::ptrdiff_t>(done),
                       image.bytes.begin() + static_cast<std::ptrdiff_t>(done + count), chunk.begin(),
                       [](std::byte b) { return b != std::byte{0} ? std::byte{1} : std::byte{0}; });
        out.write(chunk.data(), count);
    }
}

}  // namespace zorvan::files::detail
