// A registered control in a scratch registry and data folder, and a counting sound source,
// for tests that drive `talrec host`.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "audio/Wave.h"
#include "host/HostProcess.h"
#include "support/TempDir.h"

namespace talrec::test {

inline constexpr char kExtensionOrigin[] = "chrome-extension://nabnkdmdefeedmjlhnopnpkjibphleki/";
inline constexpr long long kDispException = -2147352567;  // DISP_E_EXCEPTION

// The parameters of a call that takes one path.
inline nlohmann::json Args(const std::string& path) {
    return nlohmann::json::array({path});
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_ / "data");
        std::filesystem::create_directories(tmp_ / "files");
        std::filesystem::create_directories(tmp_ / "run");
        env_ = {{"TALREC_REGISTRY", tmp_ / "registry"},
                {"XDG_DATA_HOME", tmp_ / "data"},
                {"XDG_STATE_HOME", tmp_ / "state"},
                {"XDG_CONFIG_HOME", tmp_ / "config"},
                {"XDG_RUNTIME_DIR", tmp_ / "run"},
                {"TALREC_WAVE_DEVICE", "virtual"},
                {"TALREC_VIRTUAL_SOURCE", "file:" + CountingSource()},
                {"TALREC_VIRTUAL_SPEED", "1"}};
        ASSERT_EQ(RunCommand({BinDir() + "/talrec", "register"}, env_), 0);
    }

    // 30 s of stereo 16-bit 22050 Hz whose samples count up: sample k holds k mod 65536, so
    // a dropped or repeated sample shows.
    std::string CountingSource() {
        std::string path = tmp_ / "counting.wav";
        CWave wave;
        wave.SetFormat(2, 22050, 16);
        const DWORD frames = 30 * 22050;
        auto* block = new BYTE[frames * 4];
        auto* samples = reinterpret_cast<std::uint16_t*>(block);
        for (DWORD k = 0; k < frames * 2; ++k) samples[k] = static_cast<std::uint16_t>(k);
        wave.SetBuffer(block, frames, false);
        wave.Save(path.c_str());
        return path;
    }

    std::unique_ptr<HostProcess> Start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--allow-dir", Files()});
        return std::make_unique<HostProcess>(args, env_);
    }

    // `talrec native-host` as a browser starts it (`talrec EXTENSION...`, no command named).
    std::unique_ptr<HostProcess> StartNative(std::vector<std::string> caller = {
                                                 std::string(kExtensionOrigin),
                                                 "--parent-window=0"}) {
        return std::make_unique<NativeHostProcess>(caller, env_, std::vector{BinDir() + "/talrec"});
    }
    // A native host's first message and its answer; the host ends after any answer but ready.
    static nlohmann::json Open(HostProcess& host, const std::string& origin,
                               const std::string& kind = "open") {
        host.Send({{"talrec", kind}, {"origin", origin}});
        return host.ReadLine(std::chrono::seconds(20)).value_or(nullptr);
    }

    std::string Data() const { return tmp_ / "data/quorvex"; }
    std::string Files() const { return tmp_ / "files"; }
    std::string File(const std::string& name) const { return tmp_ / ("files/" + name); }

    TempDir tmp_;
    std::map<std::string, std::string> env_;
};

using States = std::vector<std::string>;

}  // namespace talrec::test
