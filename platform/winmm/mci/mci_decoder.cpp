#include "platform/winmm/mci/mci_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fileapi.h"
#include "platform/handleapi.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace talrec::mci {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
// A stream whose frames fail to decode this many times in a row has ended.
constexpr int kMaxDecodeErrors = 100;

// The system keeps no log: FFmpeg's complaints about damaged files are not printed.
void QuietFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Byte source of the demuxer: the opened file and nothing else. Called on the thread that
// decodes (the device's).
int ReadFileBytes(void* opaque, std::uint8_t* buf, int size) {
    const HANDLE file = *static_cast<HANDLE*>(opaque);
    DWORD got = 0;
    if (size < 0 || !ReadFile(file, buf, static_cast<DWORD>(size), &got, nullptr)) {
        return AVERROR(EIO);
    }
    return got > 0 ? static_cast<int>(got) : AVERROR_EOF;
}

std::int64_t SeekFile(void* opaque, std::int64_t offset, int whence) {
    const HANDLE file = *static_cast<HANDLE*>(opaque);
    LARGE_INTEGER value;
    if (whence == AVSEEK_SIZE) {
        return GetFileSizeEx(file, &value) ? value.QuadPart : AVERROR(EIO);
    }
    DWORD method = FILE_BEGIN;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            method = FILE_BEGIN;
            break;
        case SEEK_CUR:
            method = FILE_CURRENT;
            break;
        case SEEK_END:
            method = FILE_END;
            break;
        default:
            return AVERROR(EINVAL);
    }
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(file, distance, &value, method) ? value.QuadPart : AVERROR(EIO);
}

// Demuxers that would open further files or URLs named inside the file through the context
// are refused.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// A file that FFmpeg cannot read or decode: MCIERR_INVALID_FILE, with FFmpeg's words for it.
MCIERROR Undecodable(std::string* why, int err) {
    if (why != nullptr) {
        char text[AV_ERROR_MAX_STRING_SIZE] = "";
        av_strerror(err, text, sizeof text);
        *why = text;
    }
    return MCIERR_INVALID_FILE;
}

AVChannelLayout LayoutFor(const AVChannelLayout& given) {
    AVChannelLayout layout{};
    if (given.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&given) == 0) {
        av_channel_layout_default(&layout, given.nb_channels);
    } else {
        av_channel_layout_copy(&layout, &given);
    }
    return layout;
}

}  // namespace

struct MediaDecoder::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;

    PcmFormat output;
    // What the converter was set up for; a frame that differs sets it up anew.
    int swrInRate = 0;
    int swrInFormat = -1;
    AVChannelLayout swrInLayout{};

    std::vector<std::uint8_t> pending;  // converted bytes not yet handed out
    std::size_t pendingPos = 0;
    bool inputDone = false;  // the demuxer has no more packets; the decoder was drained
    bool finished = false;   // every converted byte has been produced into `pending`
    std::uint64_t framesRead = 0;
    int errors = 0;  // decode errors in a row

    ~Impl() {
        swr_free(&swr);
        av_channel_layout_uninit(&swrInLayout);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }

    bool SetUpConverter(const AVFrame& in) {
        AVChannelLayout inLayout = LayoutFor(in.ch_layout);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, output.channels);
        const AVSampleFormat outFormat = output.bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        swr_free(&swr);
        int rc =
            swr_alloc_set_opts2(&swr, &outLayout, outFormat, output.rate, &inLayout,
                                static_cast<AVSampleFormat>(in.format), in.sample_rate, 0, nullptr);
        if (rc >= 0) rc = swr_init(swr);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&swrInLayout);
        swrInLayout = inLayout;
        swrInRate = in.sample_rate;
        swrInFormat = in.format;
        if (rc < 0) swr_free(&swr);
        return rc >= 0;
    }

    bool ConverterFits(const AVFrame& in) const {
        if (swr == nullptr || in.sample_rate != swrInRate || in.format != swrInFormat) {
            return false;
        }
        AVChannelLayout inLayout = LayoutFor(in.ch_layout);
        const bool same = av_channel_layout_compare(&inLayout, &swrInLayout) == 0;
        av_channel_layout_uninit(&inLayout);
        return same;
    }

    // Converts one decoded frame, or with null drains the converter, appending to `pending`.
    void Convert(const AVFrame* in) {
        if (in != nullptr && !ConverterFits(*in)) {
            Convert(nullptr);  // what the old set-up still holds comes first
            if (!SetUpConverter(*in)) return;
        }
        if (swr == nullptr) return;
        const int inSamples = in != nullptr ? in->nb_samples : 0;
        const int room = swr_get_out_samples(swr, inSamples);
        if (room <= 0) return;
        const std::size_t frameBytes = static_cast<std::size_t>(output.FrameBytes());
        const std::size_t start = pending.size();
        pending.resize(start + static_cast<std::size_t>(room) * frameBytes);
        std::uint8_t* out = pending.data() + start;
        const int made = swr_convert(
            swr, &out, room,
            in != nullptr ? const_cast<const std::uint8_t**>(in->extended_data) : nullptr,
            inSamples);
        pending.resize(start + static_cast<std::size_t>(std::max(made, 0)) * frameBytes);
    }

    // Decodes until some converted bytes are pending or the stream has ended.
    void Refill() {
        pending.clear();
        pendingPos = 0;
        while (pending.empty() && !finished) {
            const int rc = avcodec_receive_frame(codec, frame);
            if (rc == 0) {
                Convert(frame);
                av_frame_unref(frame);
                errors = 0;
                continue;
            }
            const bool broken = rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
            if (broken && ++errors <= kMaxDecodeErrors) {
                if (!inputDone) FeedPacket();  // a damaged frame is skipped
                continue;
            }
            if (rc == AVERROR(EAGAIN) && !inputDone) {
                FeedPacket();
                continue;
            }
            // The decoder is drained (or broken beyond use): what the converter holds is last.
            Convert(nullptr);
            finished = true;
        }
    }

    void FeedPacket() {
        for (;;) {
            const int rc = av_read_frame(format, packet);
            if (rc < 0) {
                avcodec_send_packet(codec, nullptr);
                inputDone = true;
                return;
            }
            const bool ours = packet->stream_index == stream;
            // A packet the decoder rejects as damaged is dropped, and decoding goes on.
            if (ours) avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (ours) return;
        }
    }
};

MediaDecoder::MediaDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaDecoder::~MediaDecoder() = default;

MCIERROR MediaDecoder::Open(const char* path, std::unique_ptr<MediaDecoder>& out,
                            std::string* why) {
    QuietFfmpeg();
    auto d = std::make_unique<Impl>();
    // Others may read the file while it is open, but neither write nor delete it: a file the
    // player holds is in use. Only a regular file opens; a pipe or device is refused at once.
    d->file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d->file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? MCIERR_FILE_NOT_FOUND
                   : MCIERR_INVALID_FILE;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(d->file, &size) || size.QuadPart == 0) return MCIERR_INVALID_FILE;

    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) return MCIERR_OUT_OF_MEMORY;
    d->io =
        avio_alloc_context(buffer, kIoBufferSize, 0, &d->file, ReadFileBytes, nullptr, SeekFile);
    if (d->io == nullptr) {
        av_free(buffer);
        return MCIERR_OUT_OF_MEMORY;
    }
    d->format = avformat_alloc_context();
    if (d->format == nullptr) return MCIERR_OUT_OF_MEMORY;
    d->format->pb = d->io;
    d->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    d->format->io_open = RefuseNestedOpen;
    // Demuxers that open further inputs themselves (lists, playlists) get no protocol at all.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    const int opened = avformat_open_input(&d->format, path, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) return Undecodable(why, opened);  // avformat_open_input freed the context
    if (const int rc = avformat_find_stream_info(d->format, nullptr); rc < 0) {
        return Undecodable(why, rc);
    }

    const AVCodec* decoder = nullptr;
    d->stream = av_find_best_stream(d->format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (d->stream < 0) return Undecodable(why, d->stream);
    if (decoder == nullptr) return Undecodable(why, AVERROR_DECODER_NOT_FOUND);
    for (unsigned i = 0; i < d->format->nb_streams; ++i) {
        if (static_cast<int>(i) != d->stream) d->format->streams[i]->discard = AVDISCARD_ALL;
    }
    d->codec = avcodec_alloc_context3(decoder);
    if (d->codec == nullptr) return MCIERR_OUT_OF_MEMORY;
    const AVStream* s = d->format->streams[d->stream];
    int rc = avcodec_parameters_to_context(d->codec, s->codecpar);
    if (rc >= 0) rc = avcodec_open2(d->codec, decoder, nullptr);
    if (rc < 0) return Undecodable(why, rc);
    if (d->codec->sample_rate <= 0 || d->codec->ch_layout.nb_channels <= 0) {
        return Undecodable(why, AVERROR_INVALIDDATA);
    }
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    if (d->packet == nullptr || d->frame == nullptr) return MCIERR_OUT_OF_MEMORY;

    out.reset(new MediaDecoder(std::move(d)));
    out->impl_->output = out->NaturalFormat();
    return 0;
}

PcmFormat MediaDecoder::NaturalFormat() const {
    const AVCodecContext* c = impl_->codec;
    const bool eightBit = c->sample_fmt == AV_SAMPLE_FMT_U8 || c->sample_fmt == AV_SAMPLE_FMT_U8P;
    return PcmFormat{c->sample_rate, std::min(c->ch_layout.nb_channels, 2), eightBit ? 8 : 16};
}

DWORD MediaDecoder::LengthMs() const {
    const AVStream* s = impl_->format->streams[impl_->stream];
    std::int64_t ms = 0;
    if (s->duration != AV_NOPTS_VALUE && s->duration > 0) {
        ms = av_rescale_q(s->duration, s->time_base, AVRational{1, 1000});
    } else if (impl_->format->duration != AV_NOPTS_VALUE && impl_->format->duration > 0) {
        ms = av_rescale(impl_->format->duration, 1000, AV_TIME_BASE);
    }
    return static_cast<DWORD>(std::clamp<std::int64_t>(ms, 0, 0xFFFFFFFF));
}

bool MediaDecoder::SetOutputFormat(const PcmFormat& format) {
    if (format.rate <= 0 || format.channels < 1 || format.channels > 2 ||
        (format.bits != 8 && format.bits != 16)) {
        return false;
    }
    impl_->output = format;
    swr_free(&impl_->swr);  // set up again for the next decoded frame
    impl_->pending.clear();
    impl_->pendingPos = 0;
    return true;
}

const PcmFormat& MediaDecoder::OutputFormat() const {
    return impl_->output;
}

std::size_t MediaDecoder::Read(std::uint8_t* dst, std::size_t bytes) {
    Impl& d = *impl_;
    const std::size_t frameBytes = static_cast<std::size_t>(d.output.FrameBytes());
    bytes -= bytes % frameBytes;
    std::size_t got = 0;
    while (got < bytes) {
        if (d.pendingPos == d.pending.size()) {
            if (d.finished) break;
            d.Refill();
            continue;
        }
        const std::size_t n = std::min(bytes - got, d.pending.size() - d.pendingPos);
        std::memcpy(dst + got, d.pending.data() + d.pendingPos, n);
        d.pendingPos += n;
        got += n;
    }
    d.framesRead += got / frameBytes;
    return got;
}

bool MediaDecoder::AtEnd() const {
    return impl_->finished && impl_->pendingPos == impl_->pending.size();
}

std::uint64_t MediaDecoder::FramesRead() const {
    return impl_->framesRead;
}

bool MediaDecoder::Rewind() {
    Impl& d = *impl_;
    const AVStream* s = d.format->streams[d.stream];
    const std::int64_t start = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
    if (av_seek_frame(d.format, d.stream, start, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(d.format, -1, INT64_MIN, 0, 0, 0) < 0) {
        return false;
    }
    avcodec_flush_buffers(d.codec);
    swr_free(&d.swr);
    d.pending.clear();
    d.pendingPos = 0;
    d.inputDone = false;
    d.finished = false;
    d.framesRead = 0;
    d.errors = 0;
    return true;
}

}  // namespace talrec::mci
