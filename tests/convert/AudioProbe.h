// Looking at sound files through ffprobe and ffmpeg: container, codec and duration, and the
// frequency and level of a test tone after decoding.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace audioprobe {

inline bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its standard output, and whether it exited with 0.
inline bool RunCommand(const std::string& command, std::string* out = nullptr) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = ::pclose(pipe);
    if (out != nullptr) *out = text;
    return status == 0;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Probe {
    bool ok = false;
    std::string format;  // e.g. "asf"
    std::string codec;   // e.g. "wmav2"
    int channels = 0;
    int sampleRate = 0;
    long bitRate = 0;
    double duration = 0;
};

inline Probe ProbeFile(const std::string& path) {
    Probe p;
    std::string out;
    if (!RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                    "format=format_name,duration:stream=codec_name,channels,sample_rate,bit_rate "
                    "-of default=nw=1 " +
                        Quote(path),
                    &out)) {
        return p;
    }
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        at = end == std::string::npos ? out.size() : end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "format_name") p.format = value;
        if (key == "codec_name") p.codec = value;
        if (key == "channels") p.channels = std::atoi(value.c_str());
        if (key == "sample_rate") p.sampleRate = std::atoi(value.c_str());
        if (key == "bit_rate") p.bitRate = std::atol(value.c_str());
        if (key == "duration") p.duration = std::atof(value.c_str());
    }
    p.ok = !p.codec.empty();
    return p;
}

struct Tone {
    bool ok = false;
    double frequency = 0;  // Hz, from the zero crossings of the middle half
    double rms = 0;        // of the middle half, full scale 1.0
};

// Decodes the first channel of a file to float at its own rate and measures a steady tone.
inline Tone MeasureTone(const std::string& path, int sampleRate, const std::string& scratch) {
    Tone t;
    const std::string raw = scratch + "/tone.f32";
    if (!RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -af pan='mono|c0=c0' -f f32le " +
                    Quote(raw))) {
        return t;
    }
    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    const size_t bytes = static_cast<size_t>(in.tellg());
    std::vector<float> samples(bytes / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
    const size_t from = samples.size() / 4;
    const size_t to = samples.size() * 3 / 4;
    if (to <= from + 2) return t;
    double sum = 0;
    size_t crossings = 0;
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
        if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    const double seconds = static_cast<double>(to - from) / sampleRate;
    t.frequency = crossings / 2.0 / seconds;
    t.rms = std::sqrt(sum / static_cast<double>(to - from));
    t.ok = true;
    return t;
}

inline double Decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

}  // namespace audioprobe
