#include "serial/tpl.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace quillon {

namespace {

constexpr size_t kHeaderFixed = 9;  // magic, flags, length, format NUL
constexpr int kMaxContiguousCounts = 10;
constexpr uint8_t kFlagBigEndian = 1;
constexpr uint8_t kFlagNullStrings = 2;
constexpr uint64_t kMaxImageSize = UINT32_MAX;

// A failure that a stand-alone tool would end the process for; here it only
// unwinds to the entry point, which turns it into the ordinary failure value.
struct FatalError {};

void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

[[noreturn]] void fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void fatal(const char* format, ...) {
    char message[100];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    report("%s", message);
    throw FatalError{};
}

size_t typeSize(char type) {
    switch (type) {
        case 'c':
            return 1;
        case 'j':
        case 'v':
            return 2;
        case 'i':
        case 'u':
            return 4;
        case 'I':
        case 'U':
        case 'f':
            return 8;
        default:
            return 0;
    }
}

size_t roundUp(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

uint32_t readU32(const uint8_t* p, bool bigEndian) {
    uint32_t v =
        bigEndian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                  : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    return v;
}

void writeU32le(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

// Copies `count` elements of `elemSize` bytes, reversing each element's bytes.
void copySwapped(uint8_t* dst, const uint8_t* src, size_t elemSize, size_t count) {
    for (size_t e = 0; e < count; ++e) {
        for (size_t b = 0; b < elemSize; ++b) dst[b] = src[elemSize - 1 - b];
        dst += elemSize;
        src += elemSize;
    }
}

// Multiplies sizes, refusing anything an image cannot describe.
uint64_t checkedMul(uint64_t a, uint64_t b) {
    if (a != 0 && b > kMaxImageSize / a) fatal("out of memory\n");
    return a * b;
}

}  // namespace

// One mapped member: `count` elements of `elemSize` bytes at `offset` from
// its group's address (plus the element number times the stride).
struct TplMember {
    char type;
    size_t elemSize;
    size_t count;
    size_t offset;
    size_t bytes;  // elemSize * count
};

// A top-level unit: a structure (possibly an array of them) or a top-level
// scalar, with its own address.
struct TplGroup {
    uint8_t* base;
    std::vector<TplMember> members;
    size_t elements = 1;
    size_t stride = 0;
    size_t bytesPerElement = 0;  // image bytes of one element
    // Members that lie back to back in memory as in the image, merged into
    // runs so that unswapped copies take one memcpy per run.
    struct Run {
        size_t offset;
        size_t bytes;
    };
    std::vector<Run> runs;
    bool contiguous = false;  // every element is one run and elements abut
};

enum class TplState { Empty, Packed, Loaded };

struct tpl_node {
    std::string format;
    std::vector<TplGroup> groups;
    std::vector<uint32_t> fxlens;
    size_t dataSize = 0;
    size_t imageSize = 0;

    TplState state = TplState::Empty;
    std::vector<uint8_t> packed;
    const uint8_t* image = nullptr;
    size_t imageLength = 0;
    bool crossEndian = false;
    bool oldStrings = false;
    uint8_t* ownedImage = nullptr;  // a packed record dumped for unpacking

    ~tpl_node() { std::free(ownedImage); }

    void reset() {
        packed.clear();
        image = nullptr;
        imageLength = 0;
        crossEndian = false;
        oldStrings = false;
        std::free(ownedImage);
        ownedImage = nullptr;
        state = TplState::Empty;
    }

    size_t headerSize() const { return kHeaderFixed + format.size() + 4 * fxlens.size(); }
};

namespace {

// Walks the format string once and builds the groups, members and counts.
class Parser {
    enum class Token { Other, Scalar, Open, StructClose };

  public:
    Parser(tpl_node& node, std::initializer_list<TplArg> args) : node_(node), args_(args) {}

    bool parse() {
        const std::string& f = node_.format;
        size_t pos = 0;
        while (pos < f.size()) {
            char c = f[pos++];
            if (c < '#' || c > 'v') return unsupportedOption(c);
            if (expectOpen_ && c != '(') return failed();
            Token token = Token::Other;
            switch (c) {
                case 'c':
                case 'j':
                case 'v':
                case 'i':
                case 'u':
                case 'I':
                case 'U':
                case 'f':
                    if (!addScalar(c)) return failed();
                    token = Token::Scalar;
                    break;
                case 's':
                case 'A':
                case 'B':
                    fatal("unsupported format character\n");
                case 'S':
                    if (depth_ > 0 || !startStruct()) return failed();
                    break;
                case '$':
                    if (depth_ == 0) return failed();
                    expectOpen_ = true;
                    break;
                case '(':
                    if (!expectOpen_) return failed();
                    expectOpen_ = false;
                    ++depth_;
                    token = Token::Open;
                    break;
                case ')':
                    if (depth_ == 0 || last_ == Token::Open) return failed();
                    if (--depth_ == 0) {
                        closeStruct();
                        token = Token::StructClose;
                    }
                    break;
                case '#': {
                    if (last_ != Token::Scalar && last_ != Token::StructClose) return failed();
                    size_t run = 1;
                    while (pos < f.size() && f[pos] == '#') ++pos, ++run;
                    if (!applyCounts(run, last_ == Token::StructClose)) return failed();
                    break;
                }
                default:
                    return unsupportedOption(c);
            }
            last_ = token;
        }
        if (depth_ != 0 || expectOpen_) return failed();
        if (argIndex_ != args_.size()) return failed();
        finish();
        return true;
    }

  private:
    std::vector<TplGroup>& groups() { return node_.groups; }

    bool failed() {
        report("failed to parse %s\n", node_.format.c_str());
        return false;
    }

    bool unsupportedOption(char c) {
        report("unsupported option %c\n", c);
        return failed();
    }

    const TplArg* nextArg() {
        if (argIndex_ >= args_.size()) return nullptr;
        return args_.begin() + argIndex_++;
    }

    bool addScalar(char type) {
        size_t size = typeSize(type);
        if (depth_ == 0) {
            const TplArg* arg = nextArg();
            if (!arg || arg->isCount || !arg->address) return false;
            TplGroup group;
            group.base = static_cast<uint8_t*>(arg->address);
            group.members.push_back({type, size, 1, 0, size});
            groups().push_back(std::move(group));
            return true;
        }
        TplGroup& group = groups().back();
        size_t offset = 0;
        if (!group.members.empty()) {
            const TplMember& last = group.members.back();
            offset = roundUp(last.offset + last.bytes, size);
        }
        group.members.push_back({type, size, 1, offset, size});
        if (size > widest_) widest_ = size;
        return true;
    }

    bool startStruct() {
        const TplArg* arg = nextArg();
        if (!arg || arg->isCount || !arg->address) return false;
        TplGroup group;
        group.base = static_cast<uint8_t*>(arg->address);
        groups().push_back(std::move(group));
        expectOpen_ = true;
        widest_ = 0;
        return true;
    }

    void closeStruct() {
        TplGroup& group = groups().back();
        size_t end = 0;
        if (!group.members.empty()) {
            const TplMember& last = group.members.back();
            end = last.offset + last.bytes;
        }
        group.stride = widest_ ? roundUp(end, widest_) : end;
    }

    // Reads `run` counts; they multiply the last member, or the structure
    // count when they follow the structure's closing parenthesis.
    bool applyCounts(size_t run, bool afterStruct) {
        uint64_t product = 1;
        for (size_t k = 0; k < run; ++k) {
            if (k == kMaxContiguousCounts) fatal("contiguous # exceeds hardcoded limit\n");
            const TplArg* arg = nextArg();
            if (!arg || !arg->isCount) return false;
            if (arg->count < 1) fatal("non-positive iteration count %d\n", arg->count);
            node_.fxlens.push_back(uint32_t(arg->count));
            product = checkedMul(product, uint64_t(arg->count));
        }
        TplGroup& group = groups().back();
        if (afterStruct) {
            group.elements = product;
            return true;
        }
        TplMember& member = group.members.back();
        member.count = product;
        member.bytes = checkedMul(member.elemSize, product);
        return true;
    }

    void finish() {
        uint64_t data = 0;
        for (TplGroup& group : groups()) {
            uint64_t perElement = 0;
            group.runs.clear();
            for (const TplMember& m : group.members) {
                perElement += m.bytes;
                if (perElement > kMaxImageSize) fatal("out of memory\n");
                if (!group.runs.empty() &&
                    group.runs.back().offset + group.runs.back().bytes == m.offset)
                    group.runs.back().bytes += m.bytes;
                else
                    group.runs.push_back({m.offset, m.bytes});
            }
            group.bytesPerElement = perElement;
            group.contiguous = group.runs.size() == 1 && group.runs[0].offset == 0 &&
                               (group.elements == 1 || group.stride == perElement);
            data += checkedMul(perElement, group.elements);
            if (data > kMaxImageSize) fatal("out of memory\n");
        }
        uint64_t image = node_.headerSize() + data;
        if (image > kMaxImageSize) fatal("out of memory\n");
        node_.dataSize = data;
        node_.imageSize = image;
    }

    tpl_node& node_;
    std::initializer_list<TplArg> args_;
    size_t argIndex_ = 0;
    int depth_ = 0;
    bool expectOpen_ = false;
    Token last_ = Token::Other;
    size_t widest_ = 0;
};

// Copies the record's values into `out` (dataSize bytes) in data order.
void gather(const tpl_node& tn, uint8_t* out) {
    for (const TplGroup& group : tn.groups) {
        if (group.contiguous) {
            size_t bytes = group.bytesPerElement * group.elements;
            std::memcpy(out, group.base, bytes);
            out += bytes;
            continue;
        }
        for (size_t e = 0; e < group.elements; ++e) {
            const uint8_t* element = group.base + e * group.stride;
            for (const TplGroup::Run& r : group.runs) {
                std::memcpy(out, element + r.offset, r.bytes);
                out += r.bytes;
            }
        }
    }
}

// Copies data-section values from `in` into the record, swapping each
// element's bytes when the image is of the other byte order.
void scatter(const tpl_node& tn, const uint8_t* in, bool swap) {
    for (const TplGroup& group : tn.groups) {
        if (group.contiguous && !swap) {
            size_t bytes = group.bytesPerElement * group.elements;
            std::memmove(group.base, in, bytes);
            in += bytes;
            continue;
        }
        for (size_t e = 0; e < group.elements; ++e) {
            uint8_t* element = group.base + e * group.stride;
            if (!swap) {
                for (const TplGroup::Run& r : group.runs) {
                    std::memmove(element + r.offset, in, r.bytes);
                    in += r.bytes;
                }
                continue;
            }
            for (const TplMember& m : group.members) {
                if (m.elemSize > 1)
                    copySwapped(element + m.offset, in, m.elemSize, m.count);
                else
                    std::memmove(element + m.offset, in, m.bytes);
                in += m.bytes;
            }
        }
    }
}

void writeImage(const tpl_node& tn, uint8_t* out) {
    std::memcpy(out, "tpl", 3);
    out[3] = 0;
    writeU32le(out + 4, uint32_t(tn.imageSize));
    std::memcpy(out + 8, tn.format.c_str(), tn.format.size() + 1);
    uint8_t* p = out + 8 + tn.format.size() + 1;
    for (uint32_t len : tn.fxlens) {
        writeU32le(p, len);
        p += 4;
    }
    if (tn.state == TplState::Packed)
        std::memcpy(p, tn.packed.data(), tn.dataSize);
    else
        std::memset(p, 0, tn.dataSize);
}

// Format string of the image, when the image is long enough to hold one.
// Returns the length of the string (without its NUL) or -1.
long imageFormatLength(const uint8_t* image, size_t size) {
    if (size < kHeaderFixed || std::memcmp(image, "tpl", 3) != 0) return -1;
    const void* nul = std::memchr(image + 8, 0, size - 8);
    if (!nul) return -1;
    return static_cast<const uint8_t*>(nul) - (image + 8);
}

int loadImage(tpl_node& tn, int mode, const uint8_t* image, size_t size) {
    tn.reset();
    if ((mode & TPL_MEMIMAGE) == 0 || (mode & ~(TPL_MEMIMAGE | TPL_ALLOWEXCESS)) != 0) {
        report("unsupported tpl_load mode %d\n", mode);
        return -1;
    }
    if (!image) {
        report("not a valid tpl file\n");
        return -1;
    }
    bool excess = (mode & TPL_ALLOWEXCESS) != 0;
    auto invalid = [] {
        report("not a valid tpl file\n");
        return -1;
    };
    if (size < kHeaderFixed || std::memcmp(image, "tpl", 3) != 0) return invalid();
    uint8_t flags = image[3];
    if (flags > (kFlagBigEndian | kFlagNullStrings)) return invalid();
    bool bigEndian = (flags & kFlagBigEndian) != 0;
    if (!excess && readU32(image + 4, bigEndian) != size) return invalid();

    const char* fmt = reinterpret_cast<const char*>(image + 8);
    const void* nul = std::memchr(fmt, 0, size - 8);
    if (!nul) return invalid();
    size_t fmtLength = static_cast<const char*>(nul) - fmt;
    static constexpr char kKnown[] = "AS($)BiucsfIUjv#";
    size_t hashes = 0;
    for (size_t i = 0; i < fmtLength; ++i) {
        if (!std::memchr(kKnown, fmt[i], sizeof kKnown - 1)) return invalid();
        if (fmt[i] == '#') ++hashes;
    }
    if (fmtLength != tn.format.size() || std::memcmp(fmt, tn.format.data(), fmtLength) != 0) {
        report("format signature mismatch\n");
        return -1;
    }
    size_t header = kHeaderFixed + fmtLength + 4 * hashes;
    if (header > size) return invalid();
    const uint8_t* lens = image + kHeaderFixed + fmtLength;
    for (size_t k = 0; k < hashes; ++k) {
        if (readU32(lens + 4 * k, bigEndian) != tn.fxlens[k]) return invalid();
    }
    if (tn.dataSize > size - header) return invalid();
    if (!excess && header + tn.dataSize != size) return invalid();

    tn.image = image;
    tn.imageLength = size;
    tn.crossEndian = bigEndian != kHostBigEndian;
    tn.oldStrings = (flags & kFlagNullStrings) == 0;
    tn.state = TplState::Loaded;
    return 0;
}

}  // namespace

tpl_node* tpl_bind(const char* format, std::initializer_list<TplArg> args) {
    if (!format) return nullptr;
    tpl_node* tn = nullptr;
    try {
        tn = new tpl_node;
        tn->format = format;
        Parser parser(*tn, args);
        if (parser.parse()) return tn;
    } catch (const FatalError&) {
    } catch (const std::bad_alloc&) {
        report("out of memory\n");
    }
    delete tn;
    return nullptr;
}

int tpl_pack(tpl_node* tn, int index) {
    if (!tn || index != 0) return -1;
    try {
        tn->reset();
        tn->packed.resize(tn->dataSize);
        gather(*tn, tn->packed.data());
        tn->state = TplState::Packed;
        return 0;
    } catch (const std::bad_alloc&) {
        report("out of memory\n");
        tn->reset();
        return -1;
    }
}

int tpl_dump(tpl_node* tn, int mode, size_t* size) {
    if (!tn) return -1;
    if (mode != TPL_SIZEONLY || !size) {
        report("unsupported tpl_dump mode %d\n", mode);
        return -1;
    }
    if (tn->state == TplState::Loaded) {
        report("error: tpl_dump called for a loaded tpl\n");
        return -1;
    }
    *size = tn->imageSize;
    return 0;
}

int tpl_dump(tpl_node* tn, int mode, void* buffer, size_t size) {
    if (!tn) return -1;
    if (mode != (TPL_MEMIMAGE | TPL_CALLERBUF) || !buffer) {
        report("unsupported tpl_dump mode %d\n", mode);
        return -1;
    }
    if (tn->state == TplState::Loaded) {
        report("error: tpl_dump called for a loaded tpl\n");
        return -1;
    }
    if (size < tn->imageSize) {
        report("tpl_dump: buffer too small, need %d bytes\n", int(tn->imageSize));
        return -1;
    }
    writeImage(*tn, static_cast<uint8_t*>(buffer));
    return 0;
}

int tpl_dump(tpl_node* tn, int mode, void** buffer, size_t* size) {
    if (!tn) return -1;
    if (mode != TPL_MEMIMAGE || !buffer || !size) {
        report("unsupported tpl_dump mode %d\n", mode);
        return -1;
    }
    if (tn->state == TplState::Loaded) {
        report("error: tpl_dump called for a loaded tpl\n");
        return -1;
    }
    auto* out = static_cast<uint8_t*>(std::malloc(tn->imageSize));
    if (!out) {
        report("out of memory\n");
        return -1;
    }
    writeImage(*tn, out);
    *buffer = out;
    *size = tn->imageSize;
    return 0;
}

int tpl_load(tpl_node* tn, int mode, const void* image, size_t size) {
    if (!tn) return -1;
    return loadImage(*tn, mode, static_cast<const uint8_t*>(image), size);
}

int tpl_unpack(tpl_node* tn, int index) {
    if (!tn || index != 0) return -1;
    if (tn->state == TplState::Packed) {
        auto* image = static_cast<uint8_t*>(std::malloc(tn->imageSize));
        if (!image) {
            report("out of memory\n");
            return -1;
        }
        writeImage(*tn, image);
        if (loadImage(*tn, TPL_MEMIMAGE, image, tn->imageSize) != 0) {
            std::free(image);
            return -1;
        }
        tn->ownedImage = image;
    }
    if (tn->state != TplState::Loaded) return -1;
    scatter(*tn, tn->image + tn->headerSize(), tn->crossEndian);
    return 1;
}

void tpl_release(tpl_node* tn) {
    delete tn;
}

namespace {

// Shared head of the three peek forms: validates the image and copies its
// format string. `dataOffset` receives the start of the data section, or 0
// when the fixed lengths do not fit in the image.
char* peekFormat(const uint8_t* image, size_t size, size_t& dataOffset, size_t& hashes) {
    dataOffset = 0;
    hashes = 0;
    if (!image) return nullptr;
    long length = imageFormatLength(image, size);
    if (length < 0) return nullptr;
    const char* fmt = reinterpret_cast<const char*>(image + 8);
    auto* copy = static_cast<char*>(std::malloc(size_t(length) + 1));
    if (!copy) {
        report("out of memory\n");
        return nullptr;
    }
    std::memcpy(copy, fmt, size_t(length) + 1);
    for (long i = 0; i < length; ++i)
        if (fmt[i] == '#') ++hashes;
    size_t offset = kHeaderFixed + size_t(length) + 4 * hashes;
    if (offset <= size) dataOffset = offset;
    return copy;
}

bool validPeekMode(int mode, int extra) {
    if ((mode & (TPL_FXLENS | TPL_DATAPEEK)) == (TPL_FXLENS | TPL_DATAPEEK)) {
        report("TPL_FXLENS and TPL_DATAPEEK mutually exclusive\n");
        return false;
    }
    if (mode != (TPL_MEMIMAGE | extra)) {
        report("unsupported tpl_peek mode %d\n", mode);
        return false;
    }
    return true;
}

}  // namespace

char* tpl_peek(int mode, const void* image, size_t size) {
    if (!validPeekMode(mode, 0)) return nullptr;
    size_t dataOffset, hashes;
    return peekFormat(static_cast<const uint8_t*>(image), size, dataOffset, hashes);
}

char* tpl_peek(int mode, const void* image, size_t size, const char* peekFormat_,
               std::initializer_list<void*> destinations) {
    if (!validPeekMode(mode, TPL_DATAPEEK)) return nullptr;
    const auto* bytes = static_cast<const uint8_t*>(image);
    size_t dataOffset, hashes;
    char* format = peekFormat(bytes, size, dataOffset, hashes);
    if (!format) return nullptr;

    auto fail = [format](const char* message, const char* arg) {
        if (arg)
            report(message, arg);
        else
            report("%s", message);
        std::free(format);
        return nullptr;
    };
    const char* wanted = peekFormat_ ? peekFormat_ : "";
    size_t wantedLength = std::strlen(wanted);
    for (size_t i = 0; i < wantedLength; ++i) {
        if (!std::strchr("iucfIUjv", wanted[i]))
            return fail("invalid TPL_DATAPEEK format: %s\n", wanted);
    }
    if (wantedLength != destinations.size())
        return fail("invalid TPL_DATAPEEK format: %s\n", wanted);
    const char* members = format + std::strspn(format, "S()");
    if (std::strncmp(members, wanted, wantedLength) != 0)
        return fail("TPL_DATAPEEK format mismatches tpl iamge\n", nullptr);
    // Without room for the fixed lengths there is no data section to read.
    if (dataOffset == 0) return fail("tpl_peek: tpl has insufficient length\n", nullptr);

    bool swap = ((bytes[3] & kFlagBigEndian) != 0) != kHostBigEndian;
    size_t offset = dataOffset;
    // Check every value fits before writing any destination.
    for (size_t i = 0; i < wantedLength; ++i) {
        size_t n = typeSize(wanted[i]);
        if (n > size - offset) return fail("tpl_peek: tpl has insufficient length\n", nullptr);
        offset += n;
    }
    offset = dataOffset;
    void* const* dest = destinations.begin();
    for (size_t i = 0; i < wantedLength; ++i) {
        size_t n = typeSize(wanted[i]);
        auto* out = static_cast<uint8_t*>(dest[i]);
        if (out) {
            if (swap && n > 1)
                copySwapped(out, bytes + offset, n, 1);
            else
                std::memcpy(out, bytes + offset, n);
        }
        offset += n;
    }
    return format;
}

char* tpl_peek(int mode, const void* image, size_t size, uint32_t* fxlenCount, uint32_t** fxlens) {
    if (!validPeekMode(mode, TPL_FXLENS)) return nullptr;
    if (fxlenCount) *fxlenCount = 0;
    if (fxlens) *fxlens = nullptr;
    const auto* bytes = static_cast<const uint8_t*>(image);
    size_t dataOffset, hashes;
    char* format = peekFormat(bytes, size, dataOffset, hashes);
    if (!format || dataOffset == 0 || hashes == 0 || !fxlenCount || !fxlens) return format;
    auto* lens = static_cast<uint32_t*>(std::malloc(hashes * sizeof(uint32_t)));
    if (!lens) {
        report("out of memory\n");
        std::free(format);
        return nullptr;
    }
    bool bigEndian = (bytes[3] & kFlagBigEndian) != 0;
    const uint8_t* p = bytes + kHeaderFixed + std::strlen(format);
    for (size_t k = 0; k < hashes; ++k) lens[k] = readU32(p + 4 * k, bigEndian);
    *fxlenCount = uint32_t(hashes);
    *fxlens = lens;
    return format;
}

}  // namespace quillon
