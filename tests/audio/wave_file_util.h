// Helpers for the WAV tests: byte builders, a snapshot of a sound, scratch folders and tools.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/Wave.h"

namespace wavetest {

using Bytes = std::vector<BYTE>;

inline void Put(Bytes& b, const char* tag) {
    for (const char* p = tag; *p != 0; ++p) b.push_back(static_cast<BYTE>(*p));
}
inline void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<BYTE>(v));
    b.push_back(static_cast<BYTE>(v >> 8));
}
inline void Put32(Bytes& b, DWORD v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(v >> (8 * i)));
}
inline DWORD Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<DWORD>(b[at + 3]) << 24);
}

// The fields of a WAV header; Build() writes them in the fixed 44-byte layout and appends the
// sample bytes given.
struct Header {
    const char* riff = "RIFF";
    DWORD riffSize = 0xFFFFFFFF;  // 0xFFFFFFFF: computed
    const char* waveFmt = "WAVEfmt ";
    DWORD fmtSize = 16;
    WORD tag = 1, channels = 2;
    DWORD rate = 22050, avg = 88200;
    WORD align = 4, bits = 16;
    const char* data = "data";
    DWORD dataSize = 0xFFFFFFFF;  // 0xFFFFFFFF: the samples' length

    Bytes Build(const Bytes& samples) const {
        Bytes b;
        const DWORD n = dataSize == 0xFFFFFFFF ? static_cast<DWORD>(samples.size()) : dataSize;
        Put(b, riff);
        Put32(b, riffSize == 0xFFFFFFFF ? 36 + n : riffSize);
        Put(b, waveFmt);
        Put32(b, fmtSize);
        Put16(b, tag);
        Put16(b, channels);
        Put32(b, rate);
        Put32(b, avg);
        Put16(b, align);
        Put16(b, bits);
        Put(b, data);
        Put32(b, n);
        b.insert(b.end(), samples.begin(), samples.end());
        return b;
    }
};

inline Bytes Counting(std::size_t n, unsigned seed = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(seed + i * 7);
    return b;
}

// What a sound holds, to compare before and after an operation.
struct Snapshot {
    WAVEFORMATEX format{};
    DWORD frames = 0;
    Bytes samples;

    explicit Snapshot(const CWave& w) : format(w.GetFormat()), frames(w.GetNumSamples()) {
        if (w.GetBuffer() != nullptr) {
            samples.assign(w.GetBuffer(), w.GetBuffer() + w.GetBufferLength());
        }
    }
    bool operator==(const Snapshot& o) const {
        return std::memcmp(&format, &o.format, sizeof format) == 0 && frames == o.frames &&
               samples == o.samples;
    }
};

// A sound with a recognisable format and frames, different from the defaults.
inline CWave Sample() {
    CWave w;
    w.SetFormat(2, 11025, 8);
    Bytes frames = Counting(2 * 50, 3);
    BYTE* block = new BYTE[frames.size()];
    std::copy(frames.begin(), frames.end(), block);
    w.SetBuffer(block, 50, false);
    return w;
}

inline Bytes ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Runs a shell command; returns its standard output, or fails the test on a non-zero exit.
inline std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char chunk[512];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << command << "\n" << out;
    return out;
}

// A scratch folder per test, removed afterwards.
class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               (std::string("talrec-") + info->test_suite_name() + "-" + info->name() + "-" +
                std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

}  // namespace wavetest
