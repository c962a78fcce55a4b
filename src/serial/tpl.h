// The record image library: a record described by a format string is bound to
// its memory, then packed and dumped into a self-describing image, or an image
// is validated, loaded and unpacked into the record. Images are little-endian
// when written; big-endian images are read with their numbers byte-swapped.
//
// Failures are reported on standard error through one reporting function and
// returned as values (no handle, -1, no format string). Conditions that would
// be fatal for a stand-alone tool (out of memory, bad counts, unsupported
// member types) are reported the same way and never end the host process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace quillon {

constexpr int TPL_MEMIMAGE = 2;
constexpr int TPL_CALLERBUF = 4;
constexpr int TPL_ALLOWEXCESS = 8;
constexpr int TPL_DATAPEEK = 64;
constexpr int TPL_FXLENS = 128;
constexpr int TPL_SIZEONLY = 256;

// A bound record (opaque).
struct tpl_node;

// One argument of tpl_bind, in format order: an address (for `S` or for a
// top-level scalar) or a count (for each `#`).
struct TplArg {
    template <typename T>
    TplArg(T* address) : address(const_cast<void*>(static_cast<const void*>(address))) {}
    TplArg(int count) : count(count), isCount(true) {}

    void* address = nullptr;
    int count = 0;
    bool isCount = false;
};

// Parses `format` and maps it onto the addresses in `args`; nullptr when the
// format cannot be parsed or the arguments do not match it.
tpl_node* tpl_bind(const char* format, std::initializer_list<TplArg> args);

// Copies the record's current values into the handle. 0, or -1 for an index
// other than 0 (the whole record) or no handle.
int tpl_pack(tpl_node* tn, int index);

// TPL_SIZEONLY: stores the image size.
int tpl_dump(tpl_node* tn, int mode, size_t* size);
// TPL_MEMIMAGE | TPL_CALLERBUF: writes the image into the caller's buffer.
int tpl_dump(tpl_node* tn, int mode, void* buffer, size_t size);
// TPL_MEMIMAGE: writes the image into a new malloc'd buffer (caller frees).
int tpl_dump(tpl_node* tn, int mode, void** buffer, size_t* size);

// Validates the image at `image` (TPL_MEMIMAGE, optionally TPL_ALLOWEXCESS).
// The image is used in place: it must stay valid until tpl_unpack has run.
int tpl_load(tpl_node* tn, int mode, const void* image, size_t size);

// Copies the loaded (or packed) values into the mapped record: 1, or -1.
int tpl_unpack(tpl_node* tn, int index);

// Releases the handle (never the caller's image).
void tpl_release(tpl_node* tn);

// Format string of an image as a new malloc'd copy (caller frees), or nullptr.
char* tpl_peek(int mode, const void* image, size_t size);
// TPL_MEMIMAGE | TPL_DATAPEEK: also copies the first values of the data section,
// one per character of `peekFormat`, to the destinations in order.
char* tpl_peek(int mode, const void* image, size_t size, const char* peekFormat,
               std::initializer_list<void*> destinations);
// TPL_MEMIMAGE | TPL_FXLENS: also returns the fixed lengths as a count and a
// new malloc'd array (caller frees; nullptr when there are none).
char* tpl_peek(int mode, const void* image, size_t size, uint32_t* fxlenCount, uint32_t** fxlens);

}  // namespace quillon
