#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
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

TEST(TplImage, SectionArrayImageIsByteExactAndRoundTrips) {
    Section in[5];
    std::memcpy(in, kSections, sizeof in);
    tpl_node* tn = tpl_bind("S(ccvvvv)#", {in, 5});
    ASSERT_NE(tn, nullptr);
    ASSERT_EQ(tpl_pack(tn, 0), 0);
    size_t size = 0;
    ASSERT_EQ(tpl_dump(tn, TPL_SIZEONLY, &size), 0);
    EXPECT_EQ(size, 73u);
    std::vector<uint8_t> image(73);
    ASSERT_EQ(tpl_dump(tn, TPL_MEMIMAGE | TPL_CALLERBUF, image.data(), image.size()), 0);
    EXPECT_EQ(image, sectionImage().data());
    // Header bytes as they lie on the wire.
    EXPECT_EQ(std::memcmp(image.data(), "tpl\0", 4), 0);
    EXPECT_EQ(image[4], 73);
    EXPECT_EQ(image[19], 5);

    // The allocating dump gives the same bytes.
    void* allocated = nullptr;
    size_t allocatedSize = 0;
    ASSERT_EQ(tpl_dump(tn, TPL_MEMIMAGE, &allocated, &allocatedSize), 0);
    ASSERT_EQ(allocatedSize, 73u);
    EXPECT_EQ(std::memcmp(allocated, image.data(), 73), 0);
    std::free(allocated);
    tpl_release(tn);

    Section out[5] = {};
    Loaded r = loadInto("S(ccvvvv)#", {out, 5}, image);
    EXPECT_EQ(r.load, 0);
    EXPECT_EQ(r.unpack, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::memcmp(out, kSections, sizeof out), 0);
}

TEST(TplImage, LoadRefusesImagesThatDoNotMatch) {
    const std::vector<uint8_t> good = sectionImage().data();
    Section out[5] = {};
    auto tryLoad = [&](std::vector<uint8_t> image, int mode = TPL_MEMIMAGE, size_t size = 0) {
        return loadInto("S(ccvvvv)#", {out, 5}, image, mode, size);
    };

    std::vector<uint8_t> count4 = good;
    count4[19] = 4;
    Loaded r = tryLoad(count4);
    EXPECT_EQ(r.load, -1);
    EXPECT_EQ(r.unpack, -1);  // a failed load leaves the handle empty
    EXPECT_EQ(r.err, "not a valid tpl file\n");

    std::vector<uint8_t> otherFormat = good;
    otherFormat[15] = 'j';  // "S(ccvvjv)#"
    r = tryLoad(otherFormat);
    EXPECT_EQ(r.load, -1);
    EXPECT_EQ(r.err, "format signature mismatch\n");

    std::vector<uint8_t> unknownChar = good;
    unknownChar[15] = 'x';
    EXPECT_EQ(tryLoad(unknownChar).err, "not a valid tpl file\n");

    std::vector<uint8_t> badMagic = good;
    badMagic[1] = 'P';
    EXPECT_EQ(tryLoad(badMagic).err, "not a valid tpl file\n");

    std::vector<uint8_t> badFlags = good;
    badFlags[3] = 4;
    EXPECT_EQ(tryLoad(badFlags).err, "not a valid tpl file\n");

    std::vector<uint8_t> noNul = good;
    EXPECT_EQ(tryLoad(noNul, TPL_MEMIMAGE, 15).err, "not a valid tpl file\n");
    EXPECT_EQ(tryLoad(noNul, TPL_MEMIMAGE, 8).err, "not a valid tpl file\n");
    // Count cut off, data cut off, image one byte short or long.
    for (size_t size : {20u, 30u, 72u}) {
        r = tryLoad(good, TPL_MEMIMAGE | TPL_ALLOWEXCESS, size);
        EXPECT_EQ(r.load, -1) << size;
        EXPECT_EQ(r.err, "not a valid tpl file\n") << size;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(tryLoad(longer).err, "not a valid tpl file\n");

    r = tryLoad(good, TPL_MEMIMAGE | 1);
    EXPECT_EQ(r.load, -1);
    EXPECT_EQ(r.err, "unsupported tpl_load mode 3\n");
    for (const Section& s : out) EXPECT_EQ(s.start, 0) << "nothing unpacked from a refused image";
}

TEST(TplImage, ExcessBytesAllowedAndLengthFieldIgnoredOnlyWhenAsked) {
    std::vector<uint8_t> image = sectionImage().data();
    image.insert(image.end(), {0xde, 0xad, 0xbe, 0xef});
    Section out[5] = {};
    Loaded r = loadInto("S(ccvvvv)#", {out, 5}, image, TPL_MEMIMAGE | TPL_ALLOWEXCESS);
    EXPECT_EQ(r.load, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::memcmp(out, kSections, sizeof out), 0);
    EXPECT_EQ(loadInto("S(ccvvvv)#", {out, 5}, image).err, "not a valid tpl file\n");

    std::vector<uint8_t> wrongLength = sectionImage().data();
    wrongLength[4] = 99;
    EXPECT_EQ(loadInto("S(ccvvvv)#", {out, 5}, wrongLength, TPL_MEMIMAGE | TPL_ALLOWEXCESS).load,
              0);
    EXPECT_EQ(loadInto("S(ccvvvv)#", {out, 5}, wrongLength).load, -1);
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

    // An empty handle dumps zero values.
    Section blank[5];
    std::memcpy(blank, kSections, sizeof blank);
    tn = tpl_bind("S(ccvvvv)#", {blank, 5});
    std::vector<uint8_t> image(73);
    ASSERT_EQ(tpl_dump(tn, TPL_MEMIMAGE | TPL_CALLERBUF, image.data(), 73), 0);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 23, image.end()), std::vector<uint8_t>(50, 0));
    EXPECT_EQ(tpl_unpack(tn, 0), -1) << "nothing to unpack";
    tpl_release(tn);
}

TEST(TplImage, TopLevelScalarArray) {
    std::vector<int32_t> in(864), out(864);
    for (int i = 0; i < 864; ++i) in[i] = i * 1000 - 400000;
    tpl_node* tn = tpl_bind("i#", {in.data(), 864});
    ASSERT_EQ(tpl_pack(tn, 0), 0);
    std::vector<uint8_t> image(3471);
    ASSERT_EQ(tpl_dump(tn, TPL_MEMIMAGE | TPL_CALLERBUF, image.data(), image.size()), 0);
    tpl_release(tn);
    Bytes expected;
    expected.header("i#", 3471, {864});
    for (int32_t v : in) expected.u32(uint32_t(v));
    EXPECT_EQ(image, expected.data());
    EXPECT_EQ(loadInto("i#", {out.data(), 864}, image).unpack, 1);
    EXPECT_EQ(out, in);
}

// Fills memory with its own offsets, packs it and returns the data section,
// so each data byte names the offset it was taken from.
std::vector<uint8_t> packedOffsets(const char* format, std::initializer_list<TplArg> args,
                                   uint8_t* memory, size_t memorySize) {
    for (size_t i = 0; i < memorySize; ++i) memory[i] = uint8_t(i);
    tpl_node* tn = tpl_bind(format, args);
    if (!tn) return {};
    tpl_pack(tn, 0);
    void* image = nullptr;
    size_t size = 0;
    tpl_dump(tn, TPL_MEMIMAGE, &image, &size);
    tpl_release(tn);
    size_t hashes = 0;
    for (const char* p = format; *p; ++p) hashes += *p == '#';
    size_t header = 9 + std::strlen(format) + 4 * hashes;
    auto* bytes = static_cast<uint8_t*>(image);
    std::vector<uint8_t> data(bytes + header, bytes + size);
    std::free(image);
    return data;
}

std::vector<uint8_t> ranges(std::initializer_list<std::pair<int, int>> spans) {
    std::vector<uint8_t> out;
    for (auto [from, to] : spans)
        for (int i = from; i < to; ++i) out.push_back(uint8_t(i));
    return out;
}

TEST(TplImage, MembersSitWhereTheLayoutRulePutsThem) {
    alignas(8) uint8_t memory[128];
    // c then v: the v at 2.
    EXPECT_EQ(packedOffsets("S(cv)", {memory}, memory, 4), ranges({{0, 1}, {2, 4}}));
    // Structures 10 bytes apart; 4 apart when the widest member is a v.
    EXPECT_EQ(packedOffsets("S(ccvvvv)#", {memory, 2}, memory, 20), ranges({{0, 20}}));
    EXPECT_EQ(packedOffsets("S(vc)#", {memory, 3}, memory, 12), ranges({{0, 3}, {4, 7}, {8, 11}}));
    EXPECT_EQ(packedOffsets("S(cf)#", {memory, 2}, memory, 32),
              ranges({{0, 1}, {8, 16}, {16, 17}, {24, 32}}));
    // The scan data head: c#20 after a u ends at 24, the j after seven c
    // at 32, the nested doubles after the u at 40 start at 48.
    EXPECT_EQ(packedOffsets("S(uc#cccccccjjvvu$(f#f#)c#vccc)", {memory, 20, 3, 3, 8}, memory, 112),
              ranges({{0, 31}, {32, 44}, {48, 109}}));
    // Multi-dimensional arrays multiply their counts.
    EXPECT_EQ(packedOffsets("S(cv##)", {memory, 3, 2}, memory, 14), ranges({{0, 1}, {2, 14}}));

    // Unpacking writes the members and leaves the padding alone.
    std::vector<uint8_t> image = Bytes().header("S(cf)#", 9 + 6 + 4 + 18, {2}).data();
    for (int i = 0; i < 18; ++i) image.push_back(uint8_t(0x10 + i));
    std::memset(memory, 0xee, sizeof memory);
    EXPECT_EQ(loadInto("S(cf)#", {memory, 2}, image).unpack, 1);
    EXPECT_EQ(memory[0], 0x10);
    EXPECT_EQ(memory[1], 0xee);
    EXPECT_EQ(memory[7], 0xee);
    EXPECT_EQ(memory[8], 0x11);
    EXPECT_EQ(memory[16], 0x19);
    EXPECT_EQ(memory[17], 0xee);
    EXPECT_EQ(memory[31], 0x21);
    EXPECT_EQ(memory[32], 0xee);
}

TEST(TplImage, MalformedFormatsYieldNoHandle) {
    uint8_t memory[64];
    struct Case {
        const char* format;
        std::initializer_list<TplArg> args;
        const char* message;
    };
    const Case cases[] = {
        {"S(cx)", {memory}, "unsupported option x\nfailed to parse S(cx)\n"},
        {"S(ca)", {memory}, "unsupported option a\nfailed to parse S(ca)\n"},
        {"S(c!)", {memory}, "unsupported option !\nfailed to parse S(c!)\n"},
        {"S(c", {memory}, "failed to parse S(c\n"},
        {"$(c)", {memory}, "failed to parse $(c)\n"},
        {"S()", {memory}, "failed to parse S()\n"},
        {"S(c))", {memory}, "failed to parse S(c))\n"},
        {"S(S(c))", {memory, memory}, "failed to parse S(S(c))\n"},
        {"Sc(c)", {memory}, "failed to parse Sc(c)\n"},
        {"S(c(c))", {memory}, "failed to parse S(c(c))\n"},
        {"S(#)", {memory, 1}, "failed to parse S(#)\n"},
        {"#", {1}, "failed to parse #\n"},
        {"S(c$(v)#)", {memory, 2}, "failed to parse S(c$(v)#)\n"},
        {"S(c$c(v))", {memory}, "failed to parse S(c$c(v))\n"},
        // Arguments that do not match the format.
        {"S(c#)", {memory}, "failed to parse S(c#)\n"},
        {"S(c)", {}, "failed to parse S(c)\n"},
        {"S(c)", {memory, 3}, "failed to parse S(c)\n"},
        {"S(c#)", {memory, memory}, "failed to parse S(c#)\n"},
    };
    for (const Case& c : cases) {
        tpl_node* tn = reinterpret_cast<tpl_node*>(1);
        std::string err = stderrOf([&] { tn = tpl_bind(c.format, c.args); });
        EXPECT_EQ(tn, nullptr) << c.format;
        EXPECT_EQ(err, c.message) << c.format;
    }
    EXPECT_EQ(tpl_bind(nullptr, {}), nullptr);
}

TEST(TplImage, FatalConditionsFailWithoutEndingTheProcess) {
    static uint8_t memory[64];
    struct Case {
        const char* format;
        std::initializer_list<TplArg> args;
        const char* message;
    };
    const Case cases[] = {
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

TEST(TplImage, PeekReadsFormatCountsAndFirstValues) {
    std::vector<uint8_t> image = headImage(2);
    ASSERT_EQ(image.size(), 82u);
    char* format = tpl_peek(TPL_MEMIMAGE, image.data(), image.size());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format, "S(cvc#c#vc)");
    std::free(format);

    uint8_t first = 0;
    uint16_t second = 0;
    format =
        tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), image.size(), "cv", {&first, &second});
    ASSERT_NE(format, nullptr);
    std::free(format);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 0x1234);

    uint32_t count = 0;
    uint32_t* lens = nullptr;
    format = tpl_peek(TPL_MEMIMAGE | TPL_FXLENS, image.data(), image.size(), &count, &lens);
    ASSERT_NE(format, nullptr);
    std::free(format);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(lens[0], 8u);
    EXPECT_EQ(lens[1], 40u);
    std::free(lens);

    // Big-endian images peek their values swapped.
    std::vector<uint8_t> big = image;
    big[3] = 1;
    big[29] = 0x12;
    big[30] = 0x34;
    format = tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, big.data(), big.size(), "cv", {&first, &second});
    std::free(format);
    EXPECT_EQ(second, 0x1234);

    // Not an image: nothing returned, nothing written, nothing reported.
    std::vector<uint8_t> notImage = image;
    notImage[0] = 'T';
    first = 0x77;
    std::string err = stderrOf([&] {
        EXPECT_EQ(
            tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, notImage.data(), notImage.size(), "c", {&first}),
            nullptr);
        EXPECT_EQ(tpl_peek(TPL_MEMIMAGE, image.data(), 8), nullptr);
        EXPECT_EQ(tpl_peek(TPL_MEMIMAGE, image.data(), 19), nullptr);  // format NUL cut off
        EXPECT_EQ(tpl_peek(TPL_MEMIMAGE, nullptr, 100), nullptr);
    });
    EXPECT_EQ(first, 0x77);
    EXPECT_EQ(err, "");
}

TEST(TplImage, PeekRefusals) {
    std::vector<uint8_t> image = headImage(2);
    uint8_t first = 0x77;
    uint16_t v = 0;
    uint32_t count = 9;
    uint32_t* lens = nullptr;
    struct Case {
        std::function<char*()> peek;
        const char* message;
    };
    const Case cases[] = {
        {[&] {
             return tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), 82, "cx", {&first, &v});
         },
         "invalid TPL_DATAPEEK format: cx\n"},
        {[&] { return tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), 82, "v", {&v}); },
         "TPL_DATAPEEK format mismatches tpl iamge\n"},
        {[&] {
             return tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), 30, "cv", {&first, &v});
         },
         "tpl_peek: tpl has insufficient length\n"},
        // Counts cut off: there is no data section to read from.
        {[&] { return tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image.data(), 24, "c", {&first}); },
         "tpl_peek: tpl has insufficient length\n"},
        {[&] {
             return tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK | TPL_FXLENS, image.data(), 82, &count,
                             &lens);
         },
         "TPL_FXLENS and TPL_DATAPEEK mutually exclusive\n"},
        {[&] { return tpl_peek(TPL_MEMIMAGE | 1, image.data(), 82); },
         "unsupported tpl_peek mode 3\n"},
    };
    for (const Case& c : cases) {
        char* format = reinterpret_cast<char*>(1);
        std::string err = stderrOf([&] { format = c.peek(); });
        EXPECT_EQ(format, nullptr) << c.message;
        EXPECT_EQ(err, c.message);
    }
    EXPECT_EQ(first, 0x77) << "a refused peek writes no destination";

    // Counts that do not fit: the format alone, with no counts.
    char* format = tpl_peek(TPL_MEMIMAGE | TPL_FXLENS, image.data(), 22, &count, &lens);
    ASSERT_NE(format, nullptr);
    std::free(format);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(lens, nullptr);
}

}  // namespace
}  // namespace quillon
