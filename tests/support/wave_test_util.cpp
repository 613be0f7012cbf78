#include "support/wave_test_util.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/ext/wavformat.h"
#include "support/TempDir.h"

namespace wavetest {

void WriteWav(const std::string& path, const WAVEFORMATEX& fmt, const std::vector<BYTE>& data) {
    const auto header = WavHeader(fmt, static_cast<DWORD>(data.size()));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::vector<BYTE> ReadWavData(const std::string& path, WAVEFORMATEX* fmt) {
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 44) {
        ADD_FAILURE() << path << " is not a WAV file";
        return {};
    }
    if (fmt) std::memcpy(fmt, file.data() + 20, 16);
    DWORD size;
    std::memcpy(&size, file.data() + 40, 4);
    EXPECT_EQ(size, file.size() - 44) << "data chunk size of " << path;
    return std::vector<BYTE>(file.begin() + 44, file.end());
}

std::vector<BYTE> Counting16(std::size_t samples, std::uint16_t first) {
    std::vector<BYTE> v(samples * 2);
    for (std::size_t i = 0; i < samples; ++i) {
        const auto s = static_cast<std::uint16_t>(first + i);
        v[2 * i] = static_cast<BYTE>(s);
        v[2 * i + 1] = static_cast<BYTE>(s >> 8);
    }
    return v;
}

// One folder for the process, removed with everything in it when the process ends.
std::string ScratchPath(const std::string& name) {
    static const talrec::test::TempDir dir;
    return dir / name;
}

}  // namespace wavetest
