#include "Encoder.h"

#include "System.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace {

// Input frames converted per step; bounds the memory of one call whatever its size.
constexpr int kSliceFrames = 4096;
constexpr int kMaxEncoderRate = 48000;
constexpr int kMinEncoderRate = 8000;

AVSampleFormat SwrInputFormat(SampleKind kind) {
    switch (kind) {
        case SampleKind::UInt8:
            return AV_SAMPLE_FMT_U8;
        case SampleKind::Int16:
            return AV_SAMPLE_FMT_S16;
        case SampleKind::Int24:  // widened to 32 bits first
        case SampleKind::Int32:
            return AV_SAMPLE_FMT_S32;
        case SampleKind::Float32:
            return AV_SAMPLE_FMT_FLT;
        case SampleKind::Float64:
            return AV_SAMPLE_FMT_DBL;
    }
    return AV_SAMPLE_FMT_NONE;
}

// The input's channel layout: its speaker mask when it has one, else the usual layout for the
// count, else (more than 8 channels) an unordered layout mixed down by an explicit matrix.
void InputLayout(const InputFormat& in, AVChannelLayout& layout) {
    if (in.channelMask != 0 && av_channel_layout_from_mask(&layout, in.channelMask) == 0 &&
        layout.nb_channels == in.channels) {
        return;
    }
    av_channel_layout_default(&layout, in.channels);
}

// Builds and initialises a converter from in to out; null when it cannot.
SwrContext* MakeConverter(const InputFormat& in, const OutputFormat& out) {
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    InputLayout(in, inLayout);
    av_channel_layout_default(&outLayout, out.channels);
    SwrContext* swr = nullptr;
    int r = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLTP, out.sampleRate, &inLayout,
                                SwrInputFormat(in.kind), in.sampleRate, 0, nullptr);
    if (r >= 0 && inLayout.order != AV_CHANNEL_ORDER_NATIVE && in.channels != out.channels) {
        // No speaker positions to go by: input channel i feeds output channel i % out.
        std::vector<double> matrix(static_cast<size_t>(in.channels * out.channels), 0.0);
        const int perOutput = (in.channels + out.channels - 1) / out.channels;
        for (int i = 0; i < in.channels; ++i) {
            matrix[static_cast<size_t>((i % out.channels) * in.channels + i)] = 1.0 / perOutput;
        }
        r = swr_set_matrix(swr, matrix.data(), in.channels);
    }
    // Mixing down keeps the mix within full scale: identical channels keep their level.
    if (r >= 0 && in.channels > out.channels) r = av_opt_set_double(swr, "rematrix_maxval", 1.0, 0);
    if (r >= 0) r = swr_init(swr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (r < 0) swr_free(&swr);
    return swr;
}

}  // namespace

OutputFormat DefaultOutputFor(const InputFormat& in) {
    OutputFormat out;
    out.channels = std::min(in.channels, 2);
    out.sampleRate = in.sampleRate;
    if (in.sampleRate > kMaxEncoderRate)
        out.sampleRate = in.sampleRate % 11025 == 0 ? 44100 : 48000;
    if (in.sampleRate < kMinEncoderRate) out.sampleRate = kMinEncoderRate;
    out.bitRate = out.channels == 1 ? 64000 : 128000;
    return out;
}

Encoder::~Encoder() {
    if (started_ && !finished_) Finish();
    Abandon();
}

void Encoder::Abandon() {
    if (formatContext_ != nullptr) {
        avio_closep(&formatContext_->pb);
        avformat_free_context(formatContext_);
        formatContext_ = nullptr;
    }
    avcodec_free_context(&codec_);
    swr_free(&swr_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    stream_ = nullptr;
}

int Encoder::CreateOutput(const std::string& path) {
    int r = avformat_alloc_output_context2(&formatContext_, nullptr, "asf", nullptr);
    if (r < 0) return r;
    PrepareOutputFile(path);
    // The name is a file name, never a protocol URL.
    r = avio_open(&formatContext_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        avformat_free_context(formatContext_);
        formatContext_ = nullptr;
    }
    return r;
}

bool Encoder::CanConvert(const InputFormat& in) {
    SwrContext* swr = MakeConverter(in, DefaultOutputFor(in));
    const bool ok = swr != nullptr;
    swr_free(&swr);
    return ok;
}

int Encoder::Start(const InputFormat& in, const OutputFormat& out) {
    if (formatContext_ == nullptr || started_) return AVERROR(EINVAL);
    in_ = in;
    out_ = out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) return AVERROR_ENCODER_NOT_FOUND;
    codec_ = avcodec_alloc_context3(codec);
    if (codec_ == nullptr) return AVERROR(ENOMEM);
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->sample_rate = out.sampleRate;
    av_channel_layout_default(&codec_->ch_layout, out.channels);
    codec_->bit_rate = out.bitRate;
    codec_->time_base = AVRational{1, out.sampleRate};
    if (formatContext_->oformat->flags & AVFMT_GLOBALHEADER) {
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int r = avcodec_open2(codec_, codec, nullptr);
    if (r < 0) return r;

    stream_ = avformat_new_stream(formatContext_, nullptr);
    if (stream_ == nullptr) return AVERROR(ENOMEM);
    r = avcodec_parameters_from_context(stream_->codecpar, codec_);
    if (r < 0) return r;
    stream_->time_base = codec_->time_base;

    swr_ = MakeConverter(in, out);
    if (swr_ == nullptr) return AVERROR(EINVAL);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (frame_ == nullptr || packet_ == nullptr) return AVERROR(ENOMEM);
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = out.sampleRate;
    frame_->nb_samples = codec_->frame_size;
    r = av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
    if (r >= 0) r = av_frame_get_buffer(frame_, 0);
    if (r < 0) return r;

    // The priming packets keep their times before 0 (the container allows them within its
    // preroll), so that the input's first sample stays at 0 and the duration is the input's.
    formatContext_->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    r = avformat_write_header(formatContext_, nullptr);
    if (r < 0) return r;
    started_ = true;
    return 0;
}

const std::uint8_t* Encoder::Unpack24(const std::uint8_t* data, std::size_t frames) {
    const std::size_t samples = frames * static_cast<std::size_t>(in_.channels);
    unpacked_.resize(samples);
    for (std::size_t i = 0; i < samples; ++i, data += 3) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[0]) << 8) |
                                (static_cast<std::uint32_t>(data[1]) << 16) |
                                (static_cast<std::uint32_t>(data[2]) << 24);
        unpacked_[i] = static_cast<std::int32_t>(v);
    }
    return reinterpret_cast<const std::uint8_t*>(unpacked_.data());
}

int Encoder::Push(const std::uint8_t* data, std::size_t frames) {
    if (!started_ || finished_) return AVERROR(EINVAL);
    while (frames > 0) {
        const int slice = static_cast<int>(std::min<std::size_t>(frames, kSliceFrames));
        const std::uint8_t* in =
            in_.kind == SampleKind::Int24 ? Unpack24(data, static_cast<std::size_t>(slice)) : data;
        const int r = Convert(&in, slice);
        if (r < 0) return r;
        data += static_cast<std::size_t>(slice) * static_cast<std::size_t>(in_.blockAlign);
        frames -= static_cast<std::size_t>(slice);
    }
    return 0;
}

// Converts input straight into the encoder's frame, sending each frame as it fills; what does
// not fit stays in the converter for the next round. Null input drains the converter.
int Encoder::Convert(const std::uint8_t** input, int frames) {
    const std::uint8_t* none[1] = {nullptr};
    const int frameSize = codec_->frame_size;
    for (;;) {
        frame_->nb_samples = frameSize;
        int r = av_frame_make_writable(frame_);
        if (r < 0) return r;
        const int space = frameSize - filled_;
        std::uint8_t* out[2] = {};
        for (int c = 0; c < out_.channels; ++c) {
            out[c] = frame_->data[c] + static_cast<size_t>(filled_) * sizeof(float);
        }
        const int got = swr_convert(swr_, out, space, input, input != nullptr ? frames : 0);
        if (got < 0) return got;
        filled_ += got;
        outputSamples_ += got;
        if (filled_ == frameSize) {
            r = SendFilled();
            if (r < 0) return r;
        }
        if (got < space) return 0;  // the converter holds nothing more
        if (input != nullptr) {
            input = none;  // later rounds only take what the converter holds
            frames = 0;
        }
    }
}

int Encoder::AddSilence(int samples) {
    const int frameSize = codec_->frame_size;
    while (samples > 0) {
        frame_->nb_samples = frameSize;
        int r = av_frame_make_writable(frame_);
        if (r < 0) return r;
        const int n = std::min(samples, frameSize - filled_);
        av_samples_set_silence(frame_->data, filled_, n, out_.channels, AV_SAMPLE_FMT_FLTP);
        filled_ += n;
        samples -= n;
        if (filled_ == frameSize) {
            r = SendFilled();
            if (r < 0) return r;
        }
    }
    return 0;
}

// Sends the samples gathered in the frame; a short last frame is padded by the encoder.
int Encoder::SendFilled() {
    frame_->nb_samples = filled_;
    frame_->pts = nextPts_;
    nextPts_ += filled_;
    filled_ = 0;
    return Send(frame_);
}

int Encoder::Send(AVFrame* frame) {
    int r = avcodec_send_frame(codec_, frame);
    if (r < 0) return r;
    for (;;) {
        r = avcodec_receive_packet(codec_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
        if (r < 0) return r;
        // The last packet lasts only as long as the samples it carries, so that the file's
        // duration is the input's and not rounded up to a whole frame.
        if (packet_->pts != AV_NOPTS_VALUE && packet_->pts + packet_->duration > outputSamples_) {
            packet_->duration = std::max<std::int64_t>(0, outputSamples_ - packet_->pts);
        }
        // A duration shorter than the container's tick is rounded up, never to 0 (which the
        // muxer would replace by a whole frame's).
        const std::int64_t duration = packet_->duration;
        av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
        packet_->duration = std::max<std::int64_t>(
            1, av_rescale_q_rnd(duration, codec_->time_base, stream_->time_base,
                                static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX)));
        packet_->stream_index = stream_->index;
        r = av_interleaved_write_frame(formatContext_, packet_);  // takes the packet's data
        if (r < 0) return r;
    }
}

int Encoder::Finish() {
    if (!started_ || finished_) return AVERROR(EINVAL);
    finished_ = true;
    int r = Convert(nullptr, 0);
    // The encoder gives out its input one priming delay late: silence of that length pushes
    // the last input samples out.
    if (r >= 0) r = AddSilence(codec_->initial_padding);
    if (r >= 0 && filled_ > 0) r = SendFilled();
    if (r >= 0) r = Send(nullptr);
    const int t = av_write_trailer(formatContext_);
    if (r >= 0) r = t;
    const int c = avio_closep(&formatContext_->pb);
    if (r >= 0) r = c;
    return r;
}
