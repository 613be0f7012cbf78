#include "support/mci_media.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/WavBytes.h"

namespace mcitest {
namespace {

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/talrec-mci-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

WavPcm ReadWav(const std::string& path) {
    const Bytes b = ReadAll(path);
    WavPcm wav;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        return wav;
    }
    std::size_t at = 12;
    int channels = 0;
    while (at + 8 <= b.size()) {
        const std::uint32_t size = Le32(b, at + 4);
        const std::size_t body = at + 8;
        const std::size_t end = std::min(b.size(), body + size);
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && size >= 16) {
            channels = Le16(b, body + 2);
            wav.rate = static_cast<int>(Le32(b, body + 4));
            wav.bits = Le16(b, body + 14);
        } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
            wav.data.assign(b.begin() + static_cast<std::ptrdiff_t>(body),
                            b.begin() + static_cast<std::ptrdiff_t>(end));
            wav.channels = channels;
            return wav;
        }
        at = body + size + (size & 1);
    }
    return wav;
}

void WriteCountingWav(const std::string& path, int rate, int channels, int frames) {
    std::string data;
    data.reserve(static_cast<std::size_t>(frames) * channels * 2);
    for (int n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c) data += wavbytes::LE16(static_cast<std::uint16_t>(n));
    }
    const auto format = wavbytes::Format(static_cast<WORD>(channels), static_cast<DWORD>(rate), 16);
    wavbytes::Save(path, wavbytes::Wav(format, data));
}

Bytes FfmpegDecode(const std::string& path, int rate, int channels, int bits) {
    const std::string raw = path + ".ffmpeg.raw";
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + path + "' -vn -ac " +
                                std::to_string(channels) + " -ar " + std::to_string(rate) +
                                (bits == 8 ? " -f u8 '" : " -f s16le '") + raw + "'";
    if (!Run(command)) return {};
    Bytes out = ReadAll(raw);
    std::remove(raw.c_str());
    return out;
}

int MaxSampleDifference(const Bytes& a, const Bytes& b) {
    const std::size_t n = std::min(a.size(), b.size()) / 2;
    int worst = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<std::int16_t>(a[2 * i] | a[2 * i + 1] << 8);
        const auto y = static_cast<std::int16_t>(b[2 * i] | b[2 * i + 1] << 8);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

}  // namespace mcitest
