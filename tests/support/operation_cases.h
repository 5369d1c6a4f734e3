#pragma once
// Calls of the script functions through the host, with the checks every
// call shares: a success, one script error with its message, or one silent
// refusal, each leaving the inputs and the caller's variables as they were.

#include "contract/script_functions.h"
#include "tests/support/plugin_test.h"

#include <string>

namespace zorvan::testing {

namespace type = host::data_type;
constexpr std::int32_t kLargestInt = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kSmallestInt = std::numeric_limits<std::int32_t>::min();

class OperationTest : public PluginTest {
protected:
    // An image of `code` holding a byte pattern that no call leaves as it is.
    Image patterned(std::int32_t code, std::vector<std::uint64_t> sizes, unsigned seed = 1) {
        Image made = host.make_image(code, std::move(sizes));
        std::vector<unsigned char> bytes(made.element_count() * made.element_bytes());
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37 + seed);
        made.set_bytes(bytes.data(), bytes.size());
        return made;
    }

    // Images over reserved address space (beyond 2^26 bytes here) are never read.
    static bool readable(const Image& image) { return image.element_count() * image.element_bytes() < (1u << 26); }

    static std::uint64_t counted(std::string_view function) {
        const auto found = Host::counter(find_script_function(function)->counter);
        return found ? found->additions : 0;
    }

    // A call that succeeds: no error, its counter added once, no lock left.
    CallResult succeed(std::string_view function, std::vector<Arg>& args) {
        const auto calls = counted(function);
        CallResult result = host.call(function, args);
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(counted(function), calls + 1);
        for (const Arg& arg : args) EXPECT_EQ(arg.image().active_locks(), 0);
        if (result.image) { EXPECT_EQ(result.image.active_locks(), 0); }
        return result;
    }
    CallResult succeed(std::string_view function, std::vector<Arg>&& args) { return succeed(function, args); }

    // A call that fails: one script error with `message` (any when null) or,
    // with `message` empty, a silent refusal; a null or 0 result, no image made
    // or replaced, no input written or left locked; counted unless not `counted_call`.
    void fail(std::string_view function, std::vector<Arg> args, const char* message, bool counted_call = true) {
        std::vector<std::vector<std::byte>> bytes;
        for (const Arg& arg : args) {
            bytes.push_back(readable(arg.image()) ? arg.image().bytes() : std::vector<std::byte>());
        }
        const std::vector<Arg> before = args;
        const auto images = Host::object_counts().images;
        const auto calls = counted(function);
        const CallResult result = host.call(function, args);
        const bool silent = message != nullptr && *message == '\0';
        ASSERT_EQ(result.ok(), silent) << (silent ? result.error->message : "no script error");
        if (!silent && message != nullptr) { EXPECT_EQ(result.error->message, message); }
        EXPECT_EQ(result.raised, silent ? 0 : 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(result.number, 0);
        EXPECT_EQ(counted(function), calls + (counted_call ? 1 : 0));
        for (std::size_t i = 0; i < args.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "argument " << i);
            EXPECT_TRUE(args[i].image().same_as(before[i].image())) << "replaced";
            if (readable(args[i].image())) { EXPECT_EQ(args[i].image().bytes(), bytes[i]) << "written"; }
            EXPECT_EQ(args[i].image().data_changed_count(), 0u);
            EXPECT_EQ(args[i].image().active_locks(), 0);
            EXPECT_TRUE(same_value(args[i].number(), before[i].number()));
        }
        args.clear();
        EXPECT_EQ(Host::object_counts().images, images) << "an image was left behind";
    }

    void refuse(std::string_view function, std::vector<Arg> args) { fail(function, std::move(args), ""); }

    // Script errors of (source, number, destination) calls, with no pixel
    // locked before the checks unless `locks_first`.
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::vector<std::uint64_t> source_sizes;
        std::int32_t number;
        std::int32_t destination_type;  // 0: none; -1: the source itself
        std::vector<std::uint64_t> destination_sizes;
        const char* message;
    };
    void expect_errors(const char* function, const std::vector<Case>& cases, bool locks_first = false) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            const Image source = patterned(c.source_type, c.source_sizes, 11);
            const Image destination = c.destination_type == -1 ? source
                                      : c.destination_type  ? patterned(c.destination_type, c.destination_sizes, 5)
                                                            : Image();
            fail(function, {source, c.number, destination}, c.message);
            if (!locks_first) { EXPECT_TRUE(source.lock_flags().empty() && destination.lock_flags().empty()); }
        }
    }
};

}  // namespace zorvan::testing
