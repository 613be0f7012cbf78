#include "Encoder.h"

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
    if (m_started && !m_finished) Finish();
    Abandon();
}

void Encoder::Abandon() {
    if (m_format != nullptr) {
        avio_closep(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    avcodec_free_context(&m_codec);
    swr_free(&m_swr);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    m_stream = nullptr;
}

int Encoder::CreateFile(const std::string& path) {
    int r = avformat_alloc_output_context2(&m_format, nullptr, "asf", nullptr);
    if (r < 0) return r;
    // The name is a file name, never a protocol URL.
    r = avio_open(&m_format->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        avformat_free_context(m_format);
        m_format = nullptr;
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
    if (m_format == nullptr || m_started) return AVERROR(EINVAL);
    m_in = in;
    m_out = out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr) return AVERROR_ENCODER_NOT_FOUND;
    m_codec = avcodec_alloc_context3(codec);
    if (m_codec == nullptr) return AVERROR(ENOMEM);
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = out.sampleRate;
    av_channel_layout_default(&m_codec->ch_layout, out.channels);
    m_codec->bit_rate = out.bitRate;
    m_codec->time_base = AVRational{1, out.sampleRate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int r = avcodec_open2(m_codec, codec, nullptr);
    if (r < 0) return r;

    m_stream = avformat_new_stream(m_format, nullptr);
    if (m_stream == nullptr) return AVERROR(ENOMEM);
    r = avcodec_parameters_from_context(m_stream->codecpar, m_codec);
    if (r < 0) return r;
    m_stream->time_base = m_codec->time_base;

    m_swr = MakeConverter(in, out);
    if (m_swr == nullptr) return AVERROR(EINVAL);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (m_frame == nullptr || m_packet == nullptr) return AVERROR(ENOMEM);
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = out.sampleRate;
    m_frame->nb_samples = m_codec->frame_size;
    r = av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
    if (r >= 0) r = av_frame_get_buffer(m_frame, 0);
    if (r < 0) return r;

    // The priming packets keep their times before 0 (the container allows them within its
    // preroll), so that the input's first sample stays at 0 and the duration is the input's.
    m_format->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    r = avformat_write_header(m_format, nullptr);
    if (r < 0) return r;
    m_started = true;
    return 0;
}

const std::uint8_t* Encoder::Unpack24(const std::uint8_t* data, std::size_t frames) {
    const std::size_t samples = frames * static_cast<std::size_t>(m_in.channels);
    m_unpacked.resize(samples);
    for (std::size_t i = 0; i < samples; ++i, data += 3) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[0]) << 8) |
                                (static_cast<std::uint32_t>(data[1]) << 16) |
                                (static_cast<std::uint32_t>(data[2]) << 24);
        m_unpacked[i] = static_cast<std::int32_t>(v);
    }
    return reinterpret_cast<const std::uint8_t*>(m_unpacked.data());
}

int Encoder::Push(const std::uint8_t* data, std::size_t frames) {
    if (!m_started || m_finished) return AVERROR(EINVAL);
    while (frames > 0) {
        const int slice = static_cast<int>(std::min<std::size_t>(frames, kSliceFrames));
        const std::uint8_t* in =
            m_in.kind == SampleKind::Int24 ? Unpack24(data, static_cast<std::size_t>(slice)) : data;
        const int r = Convert(&in, slice);
        if (r < 0) return r;
        data += static_cast<std::size_t>(slice) * static_cast<std::size_t>(m_in.blockAlign);
        frames -= static_cast<std::size_t>(slice);
    }
    return 0;
}

// Converts input straight into the encoder's frame, sending each frame as it fills; what does
// not fit stays in the converter for the next round. Null input drains the converter.
int Encoder::Convert(const std::uint8_t** input, int frames) {
    const std::uint8_t* none[1] = {nullptr};
    const int frameSize = m_codec->frame_size;
    for (;;) {
        m_frame->nb_samples = frameSize;
        int r = av_frame_make_writable(m_frame);
        if (r < 0) return r;
        const int space = frameSize - m_filled;
        std::uint8_t* out[2] = {};
        for (int c = 0; c < m_out.channels; ++c) {
            out[c] = m_frame->data[c] + static_cast<size_t>(m_filled) * sizeof(float);
        }
        const int got = swr_convert(m_swr, out, space, input, input != nullptr ? frames : 0);
        if (got < 0) return got;
        m_filled += got;
        m_outputSamples += got;
        if (m_filled == frameSize) {
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
    const int frameSize = m_codec->frame_size;
    while (samples > 0) {
        m_frame->nb_samples = frameSize;
        int r = av_frame_make_writable(m_frame);
        if (r < 0) return r;
        const int n = std::min(samples, frameSize - m_filled);
        av_samples_set_silence(m_frame->data, m_filled, n, m_out.channels, AV_SAMPLE_FMT_FLTP);
        m_filled += n;
        samples -= n;
        if (m_filled == frameSize) {
            r = SendFilled();
            if (r < 0) return r;
        }
    }
    return 0;
}

// Sends the samples gathered in the frame; a short last frame is padded by the encoder.
int Encoder::SendFilled() {
    m_frame->nb_samples = m_filled;
    m_frame->pts = m_nextPts;
    m_nextPts += m_filled;
    m_filled = 0;
    return Send(m_frame);
}

int Encoder::Send(AVFrame* frame) {
    int r = avcodec_send_frame(m_codec, frame);
    if (r < 0) return r;
    for (;;) {
        r = avcodec_receive_packet(m_codec, m_packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
        if (r < 0) return r;
        // The last packet lasts only as long as the samples it carries, so that the file's
        // duration is the input's and not rounded up to a whole frame.
        if (m_packet->pts != AV_NOPTS_VALUE &&
            m_packet->pts + m_packet->duration > m_outputSamples) {
            m_packet->duration = std::max<std::int64_t>(0, m_outputSamples - m_packet->pts);
        }
        // A duration shorter than the container's tick is rounded up, never to 0 (which the
        // muxer would replace by a whole frame's).
        const std::int64_t duration = m_packet->duration;
        av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
        m_packet->duration = std::max<std::int64_t>(
            1, av_rescale_q_rnd(duration, m_codec->time_base, m_stream->time_base,
                                static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX)));
        m_packet->stream_index = m_stream->index;
        r = av_interleaved_write_frame(m_format, m_packet);  // takes the packet's data
        if (r < 0) return r;
    }
}

int Encoder::Finish() {
    if (!m_started || m_finished) return AVERROR(EINVAL);
    m_finished = true;
    int r = Convert(nullptr, 0);
    // The encoder gives out its input one priming delay late: silence of that length pushes
    // the last input samples out.
    if (r >= 0) r = AddSilence(m_codec->initial_padding);
    if (r >= 0 && m_filled > 0) r = SendFilled();
    if (r >= 0) r = Send(nullptr);
    const int t = av_write_trailer(m_format);
    if (r >= 0) r = t;
    const int c = avio_closep(&m_format->pb);
    if (r >= 0) r = c;
    return r;
}
