#pragma once

// Little-endian bytes for hand-made sound files: the seed writer and the tests that feed the
// audio service files no sound editor would write.

#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzz_bytes {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put64(Bytes& b, std::uint64_t v)
{
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}
inline void putText(Bytes& b, const char* text)
{
    b.insert(b.end(), text, text + std::strlen(text));
}
template <typename T> void putValue(Bytes& b, T v)
{
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &v, sizeof(T));
    b.insert(b.end(), raw, raw + sizeof(T));
}

} // namespace fuzz_bytes
