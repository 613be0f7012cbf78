// Helpers for the WAV tests: the byte builder, a snapshot of a sound, scratch folders and tools.
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
#include "support/WavBytes.h"

namespace wavetest {

using Bytes = std::vector<BYTE>;

// The WAV builder of tests/support (wavbytes::Header: the 44-byte layout field by field) in
// this folder's byte type.
struct Header : wavbytes::Header {
    Bytes Build(const Bytes& samples) const {
        const std::string file =
            wavbytes::Header::Build(std::string(samples.begin(), samples.end()));
        return Bytes(file.begin(), file.end());
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
