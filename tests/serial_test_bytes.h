// Builds expected record images byte by byte, so tests compare against bytes
// written out by hand rather than against the encoder's own output.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quillon::test {

class Bytes {
  public:
    Bytes& u8(uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v) { return le(v, 2); }
    Bytes& u32(uint32_t v) { return le(v, 4); }
    Bytes& u64(uint64_t v) { return le(v, 8); }
    // Big-endian numbers, for images written on the other byte order.
    Bytes& be16(uint16_t v) { return be(v, 2); }
    Bytes& be32(uint32_t v) { return be(v, 4); }
    Bytes& f64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return le(bits, 8);
    }
    // Characters of `text` and, when `width` is larger, zero bytes up to it.
    Bytes& text(const std::string& text, size_t width = 0) {
        data_.insert(data_.end(), text.begin(), text.end());
        for (size_t i = text.size(); i < width; ++i) data_.push_back(0);
        return *this;
    }
    // Image header: magic, flags 0, total length, format with NUL, counts.
    Bytes& header(const std::string& format, uint32_t total, std::vector<uint32_t> counts) {
        text("tpl").u8(0).u32(total).text(format).u8(0);
        for (uint32_t c : counts) u32(c);
        return *this;
    }
    Bytes& append(const std::vector<uint8_t>& more) {
        data_.insert(data_.end(), more.begin(), more.end());
        return *this;
    }

    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }

  private:
    Bytes& le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) data_.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Bytes& be(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) data_.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> data_;
};

}  // namespace quillon::test
