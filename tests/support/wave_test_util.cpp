#include "support/wave_test_util.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace wavetest {
namespace {

void Put32(std::vector<BYTE>& v, DWORD x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<BYTE>(x >> (8 * i)));
}
void Put16(std::vector<BYTE>& v, WORD x) {
    v.push_back(static_cast<BYTE>(x));
    v.push_back(static_cast<BYTE>(x >> 8));
}

}  // namespace

void WriteWav(const std::string& path, const WAVEFORMATEX& fmt, const std::vector<BYTE>& data) {
    std::vector<BYTE> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, static_cast<DWORD>(36 + data.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, fmt.wFormatTag);
    Put16(out, fmt.nChannels);
    Put32(out, fmt.nSamplesPerSec);
    Put32(out, fmt.nAvgBytesPerSec);
    Put16(out, fmt.nBlockAlign);
    Put16(out, fmt.wBitsPerSample);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, static_cast<DWORD>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
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

std::string ScratchPath(const std::string& name) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("talrec-wave-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

}  // namespace wavetest
