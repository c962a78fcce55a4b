#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/tpl.h"
#include "serial_test_bytes.h"

namespace quillon {
namespace {

using test::Bytes;

struct Section {
    uint8_t type;
    uint8_t width;
    uint16_t start;
    uint16_t end;
    uint16_t patterns;
    uint16_t exposure;
};
static_assert(sizeof(Section) == 10);

constexpr Section kSections[5] = {
    {0, 3, 900, 1000, 10, 1},  {1, 4, 1000, 1100, 20, 2},  {0, 5, 1100, 1200, 30, 3},
    {1, 6, 1200, 1300, 40, 4}, {0, 7, 1300, 1700, 624, 6},
};

// The 73-byte image of kSections as "S(ccvvvv)#" with count 5, written out by hand.
Bytes sectionImage() {
    Bytes b;
    b.header("S(ccvvvv)#", 73, {5});
    for (const Section& s : kSections)
        b.u8(s.type).u8(s.width).u16(s.start).u16(s.end).u16(s.patterns).u16(s.exposure);
    return b;
}

template <typename F>
std::string stderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

struct Loaded {
    int load = 0;
    int unpack = 0;
    std::string err;
};

// Binds `format` onto `record`, loads `image` with `mode` and unpacks.
Loaded loadInto(const char* format, std::initializer_list<TplArg> args,
                const std::vector<uint8_t>& image, int mode = TPL_MEMIMAGE, size_t size = 0) {
    Loaded r;
    r.err = stderrOf([&] {
        tpl_node* tn = tpl_bind(format, args);
        ASSERT_NE(tn, nullptr);
        r.load = tpl_load(tn, mode, image.data(), size ? size : image.size());
        r.unpack = tpl_unpack(tn, 0);
        tpl_release(tn);
    });
    return r;
}

TEST(TplImage, LoadRefusesImagesThatDoNotMatch) {
    const std::vector<uint8_t> good = sectionImage().data();
    const char* const invalid = "not a valid tpl file\n";
    const struct {
        int at, value;  // byte changed, or -1
        size_t size;    // bytes offered, 0 for all (74 appends one)
        int mode;
        const char* message;
    } cases[] = {
        {19, 4, 0, TPL_MEMIMAGE, invalid},  // count 4
        {15, 'j', 0, TPL_MEMIMAGE, "format signature mismatch\n"},
        {15, 'x', 0, TPL_MEMIMAGE, invalid},
        {1, 'P', 0, TPL_MEMIMAGE, invalid},  // magic
        {3, 4, 0, TPL_MEMIMAGE, invalid},    // flags
        {-1, 0, 15, TPL_MEMIMAGE, invalid},  // format without its NUL
        {-1, 0, 8, TPL_MEMIMAGE, invalid},
        // Count cut off, data cut off, image one byte short or long.
        {-1, 0, 20, TPL_MEMIMAGE | TPL_ALLOWEXCESS, invalid},
        {-1, 0, 30, TPL_MEMIMAGE | TPL_ALLOWEXCESS, invalid},
        {-1, 0, 72, TPL_MEMIMAGE | TPL_ALLOWEXCESS, invalid},
        {-1, 0, 74, TPL_MEMIMAGE, invalid},
        {-1, 0, 0, TPL_MEMIMAGE | 1, "unsupported tpl_load mode 3\n"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = good;
        image.push_back(0);
        if (c.at >= 0) image[c.at] = uint8_t(c.value);
        Section out[5] = {};
        Loaded r = loadInto("S(ccvvvv)#", {out, 5}, image, c.mode, c.size ? c.size : 73);
        EXPECT_EQ(r.load, -1) << c.message << c.size;
        EXPECT_EQ(r.unpack, -1) << "a failed load leaves the handle empty";
        EXPECT_EQ(r.err, c.message) << c.at << " " << c.size;
        for (const Section& s : out) EXPECT_EQ(s.start, 0) << "nothing unpacked";
    }
}

TEST(TplImage, BigEndianImageUnpacksToSameValues) {
    Bytes big;
    big.text("tpl").u8(1).be32(73).text("S(ccvvvv)#").u8(0).be32(5);
    for (const Section& s : kSections)
        big.u8(s.type).u8(s.width).be16(s.start).be16(s.end).be16(s.patterns).be16(s.exposure);
    Section out[5] = {};
    Loaded r = loadInto("S(ccvvvv)#", {out, 5}, big.data());
    EXPECT_EQ(r.load, 0);
    EXPECT_EQ(r.unpack, 1);
    EXPECT_EQ(std::memcmp(out, kSections, sizeof out), 0);

    // Wider types too: 32- and 64-bit integers and doubles.
    struct Wide {
        uint32_t u;
        int64_t big;
        double d;
    } wide{};
    Bytes w;
    w.text("tpl").u8(3).be32(8 + 7 + 20).text("S(uIf)").u8(0).be32(0x01020304);
    w.be32(0xfffffffe).be32(0xfffffffd);  // -3 as 64-bit
    uint64_t bits;
    double d = -2.5;
    std::memcpy(&bits, &d, 8);
    w.be32(uint32_t(bits >> 32)).be32(uint32_t(bits));
    // flags 3: big-endian with the null-string convention, still a valid image
    r = loadInto("S(uIf)", {&wide}, w.data());
    EXPECT_EQ(r.load, 0) << r.err;
    EXPECT_EQ(wide.u, 0x01020304u);
    EXPECT_EQ(wide.big, int64_t(0xfffffffefffffffdull));
    EXPECT_EQ(wide.d, -2.5);
}

TEST(TplImage, DumpStatesAndModes) {
    Section in[5];
    std::memcpy(in, kSections, sizeof in);
    tpl_node* tn = tpl_bind("S(ccvvvv)#", {in, 5});
    ASSERT_NE(tn, nullptr);
    ASSERT_EQ(tpl_pack(tn, 0), 0);

    std::vector<uint8_t> small(72, 0x5a);
    std::string err = stderrOf(
        [&] { EXPECT_EQ(tpl_dump(tn, TPL_MEMIMAGE | TPL_CALLERBUF, small.data(), 72), -1); });
    EXPECT_EQ(err, "tpl_dump: buffer too small, need 73 bytes\n");
    EXPECT_EQ(small, std::vector<uint8_t>(72, 0x5a)) << "nothing written";

    err = stderrOf([&] { EXPECT_EQ(tpl_dump(tn, TPL_CALLERBUF, small.data(), 72), -1); });
    EXPECT_EQ(err, "unsupported tpl_dump mode 4\n");

    // Packing, changing the record and unpacking restores the packed values.
    in[2].patterns = 999;
    EXPECT_EQ(tpl_unpack(tn, 0), 1);
    EXPECT_EQ(in[2].patterns, 30);
    // Now holds a loaded image: dumping it is refused.
    size_t size = 0;
    err = stderrOf([&] { EXPECT_EQ(tpl_dump(tn, TPL_SIZEONLY, &size), -1); });
    EXPECT_EQ(err, "error: tpl_dump called for a loaded tpl\n");
    EXPECT_EQ(tpl_pack(tn, 0), 0) << "packing discards the loaded image";
    EXPECT_EQ(tpl_dump(tn, TPL_SIZEONLY, &size), 0);
    EXPECT_EQ(size, 73u);
    EXPECT_EQ(tpl_pack(tn, 1), -1);
    tpl_release(tn);
}

// A format or argument list that cannot be bound yields no handle and says
// why; even the gravest of these conditions does not end the process.
TEST(TplImage, BadFormatsYieldNoHandleWithoutEndingTheProcess) {
    static uint8_t memory[64];
    struct Case {
        const char* format;
        std::initializer_list<TplArg> args;
        const char* message;
    };
    const Case cases[] = {
        {"S(cx)", {memory}, "unsupported option x\nfailed to parse S(cx)\n"},
        {"S(c", {memory}, "failed to parse S(c\n"},
        {"$(c)", {memory}, "failed to parse $(c)\n"},
        {"S(S(c))", {memory, memory}, "failed to parse S(S(c))\n"},
        {"S(#)", {memory, 1}, "failed to parse S(#)\n"},
        {"S(c$(v)#)", {memory, 2}, "failed to parse S(c$(v)#)\n"},
        // Arguments that do not match the format.
        {"S(c#)", {memory}, "failed to parse S(c#)\n"},
        {"S(c)", {}, "failed to parse S(c)\n"},
        {"S(c#)", {memory, memory}, "failed to parse S(c#)\n"},
        // Conditions that must not end the process.
        {"S(c#)", {memory, 0}, "non-positive iteration count 0\n"},
        {"S(c)#", {memory, -7}, "non-positive iteration count -7\n"},
        {"S(c###########)",
         {memory, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
         "contiguous # exceeds hardcoded limit\n"},
        {"S(cs)", {memory}, "unsupported format character\n"},
        {"S(cB)", {memory}, "unsupported format character\n"},
        // No image can be this large (its length field has 32 bits).
        {"S(c##)", {memory, 65536, 65536}, "out of memory\n"},
        {"S(f#)#", {memory, 1 << 20, 1 << 20}, "out of memory\n"},
    };
    for (const Case& c : cases) {
        tpl_node* tn = reinterpret_cast<tpl_node*>(1);
        std::string err = stderrOf([&] { tn = tpl_bind(c.format, c.args); });
        EXPECT_EQ(tn, nullptr) << c.format;
        EXPECT_EQ(err, c.message) << c.format;
    }
    EXPECT_EQ(tpl_bind(nullptr, {}), nullptr);
    // Ten contiguous counts are still fine.
    tpl_node* tn = tpl_bind("S(c##########)", {memory, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3});
    ASSERT_NE(tn, nullptr);
    size_t size = 0;
    EXPECT_EQ(tpl_dump(tn, TPL_SIZEONLY, &size), 0);
    EXPECT_EQ(size, 9u + 14 + 40 + 6);
    tpl_release(tn);
}

// "S(cvc#c#vc)" image (a configuration head) whose first data byte is `first`.
std::vector<uint8_t> headImage(uint8_t first) {
    Bytes b;
    b.header("S(cvc#c#vc)", 82, {8, 40}).u8(first).u16(0x1234).text("", 8).text("name", 40);
    b.u16(7).u8(3);
    return b.data();
}

// What a peek returned (the format, "" for none) and reported.
template <typename... Args>
std::pair<std::string, std::string> peek(int mode, const std::vector<uint8_t>& image, size_t size,
                                         Args... args) {
    char* format = nullptr;
    std::string err = stderrOf([&] { format = tpl_peek(mode, image.data(), size, args...); });
    std::string found = format ? format : "";
    std::free(format);
    return {found, err};
}

std::pair<std::string, std::string> peek(int mode, const std::vector<uint8_t>& image, size_t size,
                                         const char* want, std::initializer_list<void*> into) {
    return peek<const char*, std::initializer_list<void*>>(mode, image, size, want, into);
}

TEST(TplImage, PeekReadsFormatCountsAndFirstValuesOrRefuses) {
    const std::vector<uint8_t> image = headImage(2);
    ASSERT_EQ(image.size(), 82u);
    EXPECT_EQ(peek(TPL_MEMIMAGE, image, 82).first, "S(cvc#c#vc)");
    uint8_t first = 0;
    uint16_t second = 0;
    EXPECT_EQ(peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, 82, "cv", {&first, &second}).first,
              "S(cvc#c#vc)");
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 0x1234);
    // Big-endian images peek their values swapped.
    std::vector<uint8_t> big = image;
    big[3] = 1;
    big[29] = 0x12;
    big[30] = 0x34;
    peek(TPL_MEMIMAGE | TPL_DATAPEEK, big, 82, "cv", {&first, &second});
    EXPECT_EQ(second, 0x1234);

    // Refusals return nothing and write no destination; only a peek at a
    // real image says why.
    std::vector<uint8_t> notImage = image;
    notImage[0] = 'T';
    first = 0x77;
    const std::pair<std::pair<std::string, std::string>, const char*> refused[] = {
        {peek(TPL_MEMIMAGE | TPL_DATAPEEK, notImage, 82, "c", {&first}), ""},
        {peek(TPL_MEMIMAGE, image, 8), ""},
        {peek(TPL_MEMIMAGE, image, 19), ""},  // format NUL cut off
        {peek(TPL_MEMIMAGE, std::vector<uint8_t>{}, 100), ""},
        {peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, 82, "cx", {&first, &second}),
         "invalid TPL_DATAPEEK format: cx\n"},
        {peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, 82, "v", {&second}),
         "TPL_DATAPEEK format mismatches tpl iamge\n"},
        {peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, 30, "cv", {&first, &second}),
         "tpl_peek: tpl has insufficient length\n"},
        // Counts cut off: there is no data section to read from.
        {peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, 24, "c", {&first}),
         "tpl_peek: tpl has insufficient length\n"},
        {peek(TPL_MEMIMAGE | 1, image, 82), "unsupported tpl_peek mode 3\n"},
    };
    for (const auto& [result, message] : refused) {
        EXPECT_EQ(result.first, "") << message;
        EXPECT_EQ(result.second, message);
    }
    EXPECT_EQ(first, 0x77);
}

}  // namespace
}  // namespace quillon
