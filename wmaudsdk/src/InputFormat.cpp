#include "InputFormat.h"

#include <cstring>

namespace {

constexpr std::uint16_t kPcm = 0x0001;
constexpr std::uint16_t kFloat = 0x0003;
constexpr std::uint16_t kExtensible = 0xFFFE;
constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 768000;

// The tail shared by the KSDATAFORMAT_SUBTYPE_* GUIDs; the first 16 bits hold the format tag.
constexpr std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool KindFor(std::uint16_t tag, int bits, SampleKind& kind) {
    if (tag == kPcm) {
        switch (bits) {
            case 8:
                kind = SampleKind::UInt8;
                return true;
            case 16:
                kind = SampleKind::Int16;
                return true;
            case 24:
                kind = SampleKind::Int24;
                return true;
            case 32:
                kind = SampleKind::Int32;
                return true;
            default:
                return false;
        }
    }
    if (tag == kFloat) {
        if (bits == 32)
            kind = SampleKind::Float32;
        else if (bits == 64)
            kind = SampleKind::Float64;
        else
            return false;
        return true;
    }
    return false;
}

}  // namespace

bool ParseInputFormat(const void* block, InputFormat& out) {
    if (block == nullptr) return false;
    const auto* p = static_cast<const std::uint8_t*>(block);
    std::uint16_t tag = U16(p);
    const int channels = U16(p + 2);
    const std::uint32_t rate = U32(p + 4);
    const int blockAlign = U16(p + 12);
    const int bits = U16(p + 14);
    std::uint64_t mask = 0;
    if (tag == kExtensible) {
        // cbSize 22: valid bits, channel mask, sub-format GUID.
        if (U16(p + 16) < 22) return false;
        const std::uint8_t* ext = p + 18;
        const int validBits = U16(ext);
        mask = U32(ext + 2);
        const std::uint8_t* guid = ext + 6;
        if (std::memcmp(guid + 2, kSubtypeTail, sizeof kSubtypeTail) != 0) return false;
        tag = U16(guid);
        if (validBits > bits) return false;  // 0 means "not given"; fewer are padded samples
    }
    SampleKind kind{};
    if (!KindFor(tag, bits, kind)) return false;
    if (channels < 1 || channels > kMaxChannels) return false;
    if (rate < 1 || rate > static_cast<std::uint32_t>(kMaxRate)) return false;
    if (blockAlign != channels * (bits / 8)) return false;
    if (mask != 0 && static_cast<int>(__builtin_popcountll(mask)) != channels) mask = 0;
    out.kind = kind;
    out.channels = channels;
    out.sampleRate = static_cast<int>(rate);
    out.blockAlign = blockAlign;
    out.channelMask = mask;
    return true;
}
