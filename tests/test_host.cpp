// The embedded host: native calls by prototype, host functions behind the
// argument slots, and the objects it keeps.

#include "host/host.h"
#include "host/prototype.h"
#include "contract/dm_host_interfaces.h"
#include "tests/support/plugin_test.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace zorvan::testing {
namespace {

class FixtureTest : public PluginTest {
protected:
    FixtureTest() : PluginTest(ZORVAN_FIXTURE_PATH) {}
};

TEST(Prototype, ParsesTheRegisteredForms) {
    const auto parsed = host::parse_prototype(
        "void FMovingAverage2(ImageRef imgSrc, long nRad, ImageRef* imgDst1, ImageRef* imgDst2)");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->name, "FMovingAverage2");
    EXPECT_EQ(parsed->result, host::ScriptType::void_);
    ASSERT_EQ(parsed->parameters.size(), 4u);
    EXPECT_EQ(parsed->parameters[2].script_type, host::ScriptType::image_ref);
    EXPECT_EQ(parsed->parameters[2].name, "imgDst1");

    const auto survey = host::parse_prototype("void FSurvey(ImageRef imgSrc, double * fMin, double * fMax, "
                                              "double * fSum, double * fSqsum)");
    ASSERT_TRUE(survey);
    EXPECT_EQ(survey->parameters[1].script_type, host::ScriptType::double_ref);

    const auto window = host::parse_prototype("ImageRef FFTWindow(ImageRef imgSrc, long eMode,ImageRef imgDst)");
    ASSERT_TRUE(window);
    EXPECT_EQ(window->name, "FFTWindow");
    EXPECT_EQ(window->parameters.size(), 3u);

    const auto radial = host::parse_prototype("ImageRef FRadialSurvey(Image * imgSrc, long nCX, long nCY, "
                                              "double fScaleX, double fScaleY )");
    ASSERT_TRUE(radial);
    EXPECT_EQ(radial->parameters[0].script_type, host::ScriptType::image);

    const auto host_function = host::parse_prototype("uint32 ImageGetDimensionSize( ImageRef, uint32 )");
    ASSERT_TRUE(host_function);
    EXPECT_EQ(host_function->parameters.size(), 2u);
    EXPECT_EQ(host_function->parameters[1].name, "");

    const auto variadic = host::parse_prototype(
        "void *ImageData_GetSlice( ScriptObject img_src, uint32 *act_num_dim, sint32 *dimension_info...)");
    ASSERT_TRUE(variadic);
    EXPECT_TRUE(variadic->variadic);
    EXPECT_EQ(variadic->result_type, "void *");

    EXPECT_FALSE(host::parse_prototype("no parentheses"));
    EXPECT_FALSE(host::parse_prototype("long (long a)"));
}

TEST_F(FixtureTest, EveryNativeTypeCrossesTheCall) {
    for (std::int32_t value : {0, -7, 123456789, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()}) {
        const CallResult echoed = host.call("FEchoLong", {value});
        ASSERT_TRUE(echoed.ok());
        EXPECT_EQ(echoed.number, value);
    }
    // A script number given to a long is truncated; one that does not fit is refused.
    EXPECT_EQ(host.call("FEchoLong", {3.9}).number, 3);
    EXPECT_FALSE(host.call("FEchoLong", {std::nan("")}).ok());
    EXPECT_FALSE(host.call("FEchoLong", {4e9}).ok());

    // short results come back widened with their sign.
    EXPECT_EQ(host.call("FNarrowShort", {-5}).number, -5);
    EXPECT_EQ(host.call("FNarrowShort", {70000}).number, static_cast<std::int16_t>(70000));

    // A float argument stays float; double * arguments are written back.
    std::vector<Arg> mix{0.1, 0.1f, Arg::out(), Arg::out()};
    ASSERT_TRUE(host.call("FMix", mix).ok());
    EXPECT_EQ(mix[2].number(), 0.1 + static_cast<double>(0.1f));
    EXPECT_EQ(mix[3].number(), static_cast<double>(0.1f));

    // A double * argument is read as well as written.
    std::vector<Arg> twice{Arg::out(21.5)};
    ASSERT_TRUE(host.call("FTwice", twice).ok());
    EXPECT_EQ(twice[0].number(), 43.0);
    EXPECT_EQ(host.call("FTwice", {1.0}).error->message,
              "Argument 1 (value) of FTwice must be a number variable (Arg::out).");

    // An image result carries its own reference: the caller's copy stays valid.
    Image source = host.make_image(host::data_type::real4, {3, 2}, "source");
    const CallResult same = host.call("FSame", {source});
    ASSERT_TRUE(same.ok());
    EXPECT_TRUE(same.image.same_as(source));
    EXPECT_EQ(host.call("FTypeOf", {source}).number, host::data_type::real4);
    EXPECT_EQ(host.call("FWhatever", {}).error->message, "The function FWhatever is not defined.");
    EXPECT_EQ(host.call("FEchoLong", {}).error->message, "FEchoLong takes 1 arguments, not 0.");
}

TEST_F(FixtureTest, ReplacingAnImageArgumentReleasesTheOldOneOnce) {
    const auto images_before = Host::object_counts().images;
    std::vector<Arg> args{Arg::slot(host.make_image(host::data_type::int16, {4, 4})), 5};
    EXPECT_EQ(Host::object_counts().images, images_before + 1);
    ASSERT_TRUE(host.call("FReplace", args).ok());
    const Image& replaced = args[0].image();
    EXPECT_EQ(replaced.data_type(), host::data_type::real4);
    EXPECT_EQ(replaced.size(0), 5u);
    EXPECT_EQ(replaced.name(), "replacement");
    // The old image had only the argument's reference: it is gone, the new one lives.
    EXPECT_EQ(Host::object_counts().images, images_before + 1);

    // An empty slot receives an image too.
    std::vector<Arg> empty{Arg::slot(), 2};
    ASSERT_TRUE(host.call("FReplace", empty).ok());
    EXPECT_EQ(empty[0].image().size(0), 2u);
    args.clear();
    empty.clear();
    EXPECT_EQ(Host::object_counts().images, images_before);
}

TEST_F(FixtureTest, HostFunctionsAreFoundOnceAndStaleHandlesReplaced) {
    const char* prototype = "uint32 ImageGetDataType( ImageRef )";
    Image image = host.make_image(host::data_type::complex16, {2, 2});
    const auto first_lookups = host.lookups_of(prototype);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(host.call("FTypeOf", {image}).number, host::data_type::complex16);
    EXPECT_LE(host.lookups_of(prototype), 1u);
    const auto cached = host.lookups_of(prototype);
    EXPECT_GE(cached, first_lookups);

    // The cached handle goes out of date: the call finds it again, once.
    host.make_stale(prototype);
    baseline = Host::object_counts();
    const CallResult retried = host.call("FTypeOf", {image});
    ASSERT_TRUE(retried.ok()) << retried.error->message;
    EXPECT_EQ(retried.number, host::data_type::complex16);
    EXPECT_EQ(host.lookups_of(prototype), cached + 1);
    EXPECT_EQ(host.call("FTypeOf", {image}).number, host::data_type::complex16);
    EXPECT_EQ(host.lookups_of(prototype), cached + 1);
    baseline.functions -= 1;  // the stale handle was released by the retry
    baseline.images -= 1;     // `image` goes before the check
}

TEST_F(FixtureTest, FailuresReachTheScriptAsThrowables) {
    struct Case {
        std::int32_t how;
        std::int32_t code;
        std::intptr_t parameter;
        const char* message;
    };
    const Case cases[] = {
        {0, 0x7081, -1, "A message of our own."},
        {1, 0x7083, 0, "An unknown exception occurred in a plug-in."},
        {2, 0, 0, "Described failure"},
        {3, 0x708B, static_cast<std::int32_t>(0x80070057), "A COM error occurred in a plug-in (HRESULT 0x80070057)."},
        {4, 0, 0, "A function of the following prototype can not be found:\n\nvoid NoSuchHostFunction( ImageRef )"},
        {5, 0, 0, "The argument is not a valid image."},
        {8, 0x7081, -1, "std::bad_alloc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        const CallResult result = host.call("FFail", {c.how});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.number, 0);
        EXPECT_EQ(result.error->code, c.code);
        if (c.parameter != -1) {
            EXPECT_EQ(result.error->parameter, c.parameter);
        }
        EXPECT_EQ(result.error->message, c.message);
    }
    // One script error per failure; the unknown prototype is raised where
    // it is found missing and once more by the function's boundary.
    EXPECT_EQ(host.call("FFail", {0}).raised, 1);
    EXPECT_EQ(host.call("FFail", {5}).raised, 1);
    EXPECT_EQ(host.call("FFail", {4}).raised, 2);
}

TEST_F(FixtureTest, AnImageReturnedWithAScriptErrorIsReleasedAndTheBreakRecorded) {
    const Image image = host.make_image(host::data_type::real4, {2, 2});
    const CallResult result = host.call("FSameAndFail", {image});
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.image);
    const auto breaks = Host::contract_breaks();
    ASSERT_EQ(breaks.size(), contract_breaks + 1);
    EXPECT_EQ(breaks.back(), "FSameAndFail returned an image together with a script error");
    contract_breaks = breaks.size();  // expected here; the reference it carried was released
}

TEST_F(FixtureTest, AssertionsAreReportedAndExecutionGoesOn) {
    const CallResult live_site = host.call("FFail", {6});
    ASSERT_TRUE(live_site.ok());
    EXPECT_EQ(live_site.number, 0);  // the report answers false
    const CallResult continuable = host.call("FFail", {7});
    ASSERT_TRUE(continuable.ok());
    const auto reports = Host::error_reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].code, 0x7082);
    EXPECT_EQ(reports[0].text, "File \"PlugInUtility\", Line 242: Assertion \"sData != NULL\" Failed!");
    EXPECT_FALSE(reports[0].continuable);
    EXPECT_EQ(reports[1].code, 0x7082);
    EXPECT_EQ(reports[1].text, "File \"fixture.cpp\", Line 7: Assertion \"x > 0\" Failed!");
    EXPECT_TRUE(reports[1].continuable);
}

// Host functions called straight through the slots, as a careless plug-in might.
class SlotCall {
public:
    explicit SlotCall(Host& host) : environment_(host.environment()), context_(environment_->GetContext()) {}
    ~SlotCall() {
        context_->ClearPendingException();
        context_->Release();
    }
    std::int32_t call(const char* prototype, std::vector<DM_ArgSlot>& slots) {
        DM_Handle function = context_->GetFunctionTable()->FindFunction(0, 0, 0, 0, prototype,
                                                                        prototype + std::strlen(prototype));
        if (function == nullptr) return -1;
        const std::int32_t status =
            context_->CallFunction(function, static_cast<std::uint32_t>(slots.size()), slots.data());
        environment_->GetClass(0, DM_CLASS_FUNCTION)->Release(function);
        return status;
    }
    std::string pending_message() {
        DM_Handle pending = context_->GetPendingException();
        if (pending == nullptr) return {};
        DM_Handle text = context_->GetThrowableMessage(pending);
        DM_ObjectClass* strings = environment_->GetClass(0, DM_CLASS_STRING);
        std::string message(strings->CopyText(text, nullptr, 0), '\0');
        strings->CopyText(text, message.data(), message.size());
        strings->Release(text);
        environment_->GetClass(0, DM_CLASS_THROWABLE)->Release(pending);
        context_->ClearPendingException();
        return message;
    }

private:
    DM_HostEnv* environment_;
    DM_ScriptContext* context_;
};

template <class T>
DM_ArgSlot slot_of(T value) {
    DM_ArgSlot slot{};
    std::memcpy(slot.bytes, &value, sizeof(T));
    return slot;
}

TEST(HostFunctions, RefuseBadHandlesAndSizesWithAMessage) {
    Host host;
    const auto baseline = Host::object_counts();
    {
        Image image = host.make_image(host::data_type::real4, {3, 2});
        SlotCall slots(host);
        struct Case {
            const char* prototype;
            std::vector<DM_ArgSlot> args;
            const char* message;
        };
        DM_ObjectClass* strings = host.environment()->GetClass(0, DM_CLASS_STRING);
        const char name[] = "x";
        DM_Handle text = strings->CreateFromText(name, name + 1);
        std::vector<Case> cases = {
            {"uint32 ImageGetDataType( ImageRef )", {slot_of(0), slot_of<void*>(nullptr)}, "The argument is not a valid image."},
            {"uint32 ImageGetDimensionSize( ImageRef, uint32 )", {slot_of(0), slot_of(text), slot_of(0u)},
             "The argument is not a valid image."},
            {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
             {slot_of(0), slot_of(text), slot_of(4u), slot_of(0u), slot_of(1u)}, "An image dimension must be at least 1."},
            {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
             {slot_of(0), slot_of(text), slot_of(4u), slot_of(0x80000000u), slot_of(1u)},
             "An image dimension cannot exceed 2147483647 (a negative size?)."},
            {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
             {slot_of(0), slot_of(text), slot_of(8u), slot_of(0x7fffffffu), slot_of(0x7fffffffu)},
             "The image is too large to allocate."},
            {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
             {slot_of(0), slot_of(text), slot_of(3u), slot_of(2u), slot_of(2u)}, "A real image has 4 or 8 bytes per element."},
            {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
             {slot_of(0), slot_of<void*>(nullptr), slot_of(4u), slot_of(2u), slot_of(2u)},
             "The image name is not a valid string."},
            {"ComplexImagePtr ComplexImage( string, long, long, long )",
             {slot_of(0), slot_of(name), slot_of(8), slot_of(-1), slot_of(2)}, "An image dimension must be at least 1."},
            {"void ImageDataChanged( ImageRef )", {slot_of(text)}, "The argument is not a valid image."},
            {"void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )",
             {slot_of(image.handle()), slot_of<void*>(nullptr)}, "The object holds no locked image data."},
            {"uint32 ImageGetDataType( ImageRef )", {slot_of(0)}, "Wrong number of argument slots for ImageGetDataType."},
        };
        for (auto& c : cases) {
            SCOPED_TRACE(c.prototype);
            std::vector<DM_ArgSlot> args = c.args;
            EXPECT_EQ(slots.call(c.prototype, args), DM_CALL_FAILED);
            EXPECT_EQ(slots.pending_message(), c.message);
        }

        // A dimension the image lacks answers 1; a valid call succeeds.
        std::vector<DM_ArgSlot> size_of_z{slot_of(0), slot_of(image.handle()), slot_of(2u)};
        EXPECT_EQ(slots.call("uint32 ImageGetDimensionSize( ImageRef, uint32 )", size_of_z), DM_CALL_OK);
        std::uint32_t depth = 0;
        std::memcpy(&depth, size_of_z[0].bytes, sizeof depth);
        EXPECT_EQ(depth, 1u);
        strings->Release(text);
    }
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(baseline));
}

TEST(HostImages, AreRefusedOutsideTheLimitsAndWrapForeignMemory) {
    Host host;
    EXPECT_THROW(host.make_image(host::data_type::real4, {}), host::HostError);
    EXPECT_THROW(host.make_image(host::data_type::real4, {0, 3}), host::HostError);
    EXPECT_THROW(host.make_image(host::data_type::real4, {1, 1, 1, 1, 1}), host::HostError);
    EXPECT_THROW(host.make_image(4, {2, 2}), host::HostError);
    EXPECT_THROW(host.make_image(host::data_type::real8, {1u << 31, 2}), host::HostError);
    host.set_allocation_limit(1 << 20);
    EXPECT_THROW(host.make_image(host::data_type::real8, {1024, 1024}), host::HostError);

    const Image zeros = host.make_image(host::data_type::rgb, {2, 3, 4, 5});
    EXPECT_EQ(zeros.element_count(), 120u);
    for (auto b : zeros.bytes()) EXPECT_EQ(b, std::byte{0});
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(zeros.data()) % 64, 0u);

    auto memory = std::make_shared<std::vector<double>>(6, 2.5);
    const Image wrapped = host.wrap_image(host::data_type::real8, {3, 2}, memory->data(), memory);
    memory.reset();
    EXPECT_EQ(wrapped.pixels<double>(), std::vector<double>(6, 2.5));
}

// Blocks from 1 MiB on are kept mapped once given up and handed to the
// next image that fits: a new image still starts zeroed, a smaller one
// takes a larger block without seeing its old bytes, and two images never
// share a block.
TEST(HostImages, ReusedBlocksStartZeroedAndAreNeverShared) {
    Host host;
    const std::vector<std::byte> dirty(std::size_t{512} * 1024 * 4, std::byte{0xA5});
    const void* given_up = nullptr;
    {
        Image first = host.make_image(host::data_type::real4, {512, 1024});
        first.set_bytes(dirty.data(), dirty.size());
        given_up = first.data();
    }
    const struct {
        std::uint64_t height;
        bool same_block;
    } cases[] = {{1024, true}, {1000, true}, {600, false}, {1100, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        Image image = host.make_image(host::data_type::real4, {512, c.height});
        EXPECT_EQ(image.data() == given_up, c.same_block);
        const auto bytes = image.bytes();
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), std::byte{0}), static_cast<std::ptrdiff_t>(bytes.size()));
        if (image.data() != given_up) continue;
        // The block is in use: the next image of the size gets another one.
        const Image other = host.make_image(host::data_type::real4, {512, c.height});
        EXPECT_NE(other.data(), image.data());
        image.set_bytes(dirty.data(), image.bytes().size());
    }
}

}  // namespace
}  // namespace zorvan::testing
