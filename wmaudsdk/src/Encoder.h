// The FFmpeg pipeline under a writer: whole input frames are converted (sample format, channel
// count, rate) to planar float, collected into encoder frames of the encoder's size, encoded
// with WMA v2 and muxed into ASF. Memory is bounded by one slice of input frames (converted in
// the converter's buffer) and one encoder frame, whatever the length of the input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "InputFormat.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct SwrContext;
struct AVFrame;
struct AVPacket;

struct OutputFormat {
    int channels = 0;
    int sampleRate = 0;
    std::int64_t bitRate = 0;
};

// The default output for an input, as the writer's header describes it.
OutputFormat DefaultOutputFor(const InputFormat& in);

class Encoder {
  public:
    Encoder() = default;
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Each returns 0 or a negative AVERROR code.
    int CreateOutput(const std::string& path);  // creates the file (nothing written yet)
    // Checks that the input can be converted to the default output.
    static bool CanConvert(const InputFormat& in);
    int Start(const InputFormat& in, const OutputFormat& out);  // opens codec, writes header
    // Whole frames of input bytes; count is a multiple of the input's block align.
    int Push(const std::uint8_t* data, std::size_t frames);
    int Finish();  // drains, writes the trailer, closes the file
    // Closes the file without a trailer, after a failure before the header.
    void Abandon();

    bool Started() const { return started_; }

  private:
    int Convert(const std::uint8_t** input, int frames);
    int AddSilence(int samples);
    int SendFilled();
    int Send(AVFrame* frame);
    const std::uint8_t* Unpack24(const std::uint8_t* data, std::size_t frames);

    InputFormat in_;
    OutputFormat out_;
    AVFormatContext* formatContext_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int filled_ = 0;                      // samples gathered in frame_
    std::vector<std::int32_t> unpacked_;  // 24-bit input widened to 32 bits
    std::int64_t nextPts_ = 0;
    std::int64_t outputSamples_ = 0;  // converted input samples, without any silence added
    bool started_ = false;
    bool finished_ = false;
};
