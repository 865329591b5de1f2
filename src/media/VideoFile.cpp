#include "VideoFile.h"

#include "OutputFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <atomic>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("VideoFile", text);
}

constexpr int kIoBufferSize = 1 << 16;

// The muxer's bytes became const in libavformat 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using PacketBytes = const std::uint8_t*;
#else
using PacketBytes = std::uint8_t*;
#endif

struct Choice {
    const char* muxer;
    const char* encoder;
    const char* label;
    AVPixelFormat pixelFormat;
};

Choice choiceOf(VideoFile::Format format) {
    switch (format) {
    case VideoFile::Format::ffv1Matroska:
        return {"matroska", "ffv1", "FFV1", AV_PIX_FMT_BGR0};
    case VideoFile::Format::h264Mp4:
        return {"mp4", "libx264", "H.264", AV_PIX_FMT_YUV420P};
    case VideoFile::Format::vp9WebM:
        return {"webm", "libvpx-vp9", "VP9", AV_PIX_FMT_YUV420P};
    }
    return {};
}

QString libraryError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

struct VideoFile::Encoder {
    Format format;
    Choice choice;
    OutputFile output;
    std::atomic<bool> cancelled{false};
    QString error;
    QString reason;
    std::int64_t position = 0; // where the muxer writes next
    std::int64_t size = 0;     // bytes written so far, for a seek from the end
    std::int64_t nextPts = 0;
    int width = 0;
    int height = 0;

    AVFormatContext* container = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;

    Encoder(const QString& path, Format f) : format(f), choice(choiceOf(f)), output(path) {}

    ~Encoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        sws_freeContext(scaler);
        avcodec_free_context(&codec);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        avformat_free_context(container);
    }

    // Keeps the first failure: later ones are its consequences.
    bool fail(const QString& why) {
        if (error.isEmpty()) {
            reason = why;
            error = tr("%1 に書けません: %2").arg(output.path(), why);
        }
        return false;
    }

    // A failure of the library: the file's own reason when the file failed.
    bool failLibrary(int code) {
        if (cancelled)
            return fail(tr("書き出しを中止しました。"));
        const WriteFailure& f = output.failure();
        if (f.errorNumber != 0 || f.refusal != WriteFailure::Refusal::none)
            return fail(f.reason());
        return fail(tr("%1 の書き出しに失敗しました（%2）。")
                        .arg(QLatin1String(choice.label), libraryError(code)));
    }

    static int writePacket(void* opaque, PacketBytes data, int size) {
        auto* e = static_cast<Encoder*>(opaque);
        if (e->cancelled || !e->output.write(reinterpret_cast<const char*>(data), size))
            return AVERROR(e->output.failure().errorNumber ? e->output.failure().errorNumber : EIO);
        e->position += size;
        e->size = std::max(e->size, e->position);
        return size;
    }

    static std::int64_t seekPacket(void* opaque, std::int64_t offset, int whence) {
        auto* e = static_cast<Encoder*>(opaque);
        std::int64_t target = 0;
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return e->size;
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = e->position + offset;
            break;
        case SEEK_END:
            target = e->size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (target < 0 || !e->output.seek(target))
            return AVERROR(EINVAL);
        e->position = target;
        return target;
    }

    bool openCodec(int fpsNumerator, int fpsDenominator) {
        const AVCodec* encoder = avcodec_find_encoder_by_name(choice.encoder);
        if (!encoder)
            return fail(tr("この FFmpeg には %1 のエンコーダーがありません。")
                            .arg(QLatin1String(choice.label)));
        codec = avcodec_alloc_context3(encoder);
        if (!codec)
            return fail(tr("メモリが足りません。"));
        codec->width = width;
        codec->height = height;
        codec->pix_fmt = choice.pixelFormat;
        codec->time_base = AVRational{fpsDenominator, fpsNumerator};
        codec->framerate = AVRational{fpsNumerator, fpsDenominator};
        codec->thread_count = 0; // as many as the machine has
        AVDictionary* options = nullptr;
        if (format == Format::ffv1Matroska) {
            codec->colorspace = AVCOL_SPC_RGB;
            codec->gop_size = 1;
            av_dict_set(&options, "level", "3", 0);
            av_dict_set(&options, "slicecrc", "1", 0);
        } else {
            codec->colorspace = AVCOL_SPC_BT709;
            codec->color_primaries = AVCOL_PRI_BT709;
            codec->color_trc = AVCOL_TRC_BT709;
            codec->color_range = AVCOL_RANGE_MPEG;
        }
        if (format == Format::h264Mp4) {
            av_dict_set(&options, "preset", "veryfast", 0);
            av_dict_set(&options, "crf", "18", 0);
        }
        if (format == Format::vp9WebM) {
            av_dict_set(&options, "crf", "24", 0);
            av_dict_set(&options, "b", "0", 0);
            av_dict_set(&options, "deadline", "good", 0);
            av_dict_set(&options, "cpu-used", "4", 0);
            av_dict_set(&options, "row-mt", "1", 0);
        }
        if (container->oformat->flags & AVFMT_GLOBALHEADER)
            codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int opened = avcodec_open2(codec, encoder, &options);
        av_dict_free(&options);
        if (opened < 0)
            return failLibrary(opened);
        stream = avformat_new_stream(container, nullptr);
        if (!stream || avcodec_parameters_from_context(stream->codecpar, codec) < 0)
            return fail(tr("メモリが足りません。"));
        stream->time_base = codec->time_base;
        stream->avg_frame_rate = codec->framerate;
        stream->r_frame_rate = codec->framerate;
        return true;
    }

    bool openScaler() {
        scaler = sws_getContext(width, height, AV_PIX_FMT_RGB0, width, height, choice.pixelFormat,
                                SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!scaler || !frame || !packet)
            return fail(tr("メモリが足りません。"));
        if (choice.pixelFormat == AV_PIX_FMT_YUV420P) {
            // BT.709 in limited range, as the stream says.
            const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
            sws_setColorspaceDetails(scaler, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
        }
        frame->format = choice.pixelFormat;
        frame->width = width;
        frame->height = height;
        return av_frame_get_buffer(frame, 0) >= 0 || fail(tr("メモリが足りません。"));
    }

    // Hands what the encoder has ready to the muxer.
    bool drain() {
        for (;;) {
            const int received = avcodec_receive_packet(codec, packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return true;
            if (received < 0)
                return failLibrary(received);
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(container, packet);
            av_packet_unref(packet);
            if (written < 0)
                return failLibrary(written);
        }
    }
};

std::optional<VideoFile::Format> VideoFile::formatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("mkv"))
        return Format::ffv1Matroska;
    if (suffix == QLatin1String("mp4"))
        return Format::h264Mp4;
    if (suffix == QLatin1String("webm"))
        return Format::vp9WebM;
    return std::nullopt;
}

VideoFile::VideoFile(const QString& path, Format format)
    : m(std::make_unique<Encoder>(path, format)) {}

VideoFile::~VideoFile() = default;

bool VideoFile::open(int width, int height, int fpsNumerator, int fpsDenominator) {
    Encoder& e = *m;
    if (width < 1 || height < 1 || fpsNumerator < 1 || fpsDenominator < 1)
        return e.fail(tr("動画の大きさか fps が正しくありません。"));
    if (e.format != Format::ffv1Matroska && (width % 2 != 0 || height % 2 != 0))
        return e.fail(tr("%1 の動画の幅と高さは偶数でなければなりません（%2×%3）。")
                          .arg(QLatin1String(e.choice.label))
                          .arg(width)
                          .arg(height));
    e.width = width;
    e.height = height;
    av_log_set_level(AV_LOG_QUIET); // every failure is said in one line of our own
    if (avformat_alloc_output_context2(&e.container, nullptr, e.choice.muxer, nullptr) < 0)
        return e.fail(tr("メモリが足りません。"));
    if (!e.openCodec(fpsNumerator, fpsDenominator) || !e.openScaler())
        return false;
    if (!e.output.open())
        return e.failLibrary(AVERROR(EIO));
    const bool seekable = e.output.isSeekable();
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    e.io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, &e, nullptr, &Encoder::writePacket,
                                       seekable ? &Encoder::seekPacket : nullptr)
                  : nullptr;
    if (!e.io) {
        av_free(buffer);
        return e.fail(tr("メモリが足りません。"));
    }
    e.io->seekable = seekable ? AVIO_SEEKABLE_NORMAL : 0;
    e.container->pb = e.io;
    // No random identifiers nor version strings: one request, one file, byte for byte.
    e.container->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
    AVDictionary* options = nullptr;
    // Into a pipe MP4 goes in fragments: its index cannot be written back.
    if (!seekable && e.format == Format::h264Mp4)
        av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    const int header = avformat_write_header(e.container, &options);
    av_dict_free(&options);
    return header >= 0 || e.failLibrary(header);
}

bool VideoFile::writeFrame(const QImage& image) {
    Encoder& e = *m;
    if (!e.error.isEmpty() || !e.frame)
        return false;
    if (e.cancelled)
        return e.failLibrary(AVERROR(ECANCELED));
    if (image.width() != e.width || image.height() != e.height)
        return e.fail(tr("フレームの大きさが動画と違います（%1×%2）。")
                          .arg(image.width())
                          .arg(image.height()));
    const QImage rgb = image.format() == QImage::Format_RGBA8888_Premultiplied
                           ? image
                           : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (av_frame_make_writable(e.frame) < 0)
        return e.fail(tr("メモリが足りません。"));
    const std::uint8_t* source[1] = {rgb.constBits()};
    const int stride[1] = {int(rgb.bytesPerLine())};
    sws_scale(e.scaler, source, stride, 0, e.height, e.frame->data, e.frame->linesize);
    e.frame->pts = e.nextPts++;
    const int sent = avcodec_send_frame(e.codec, e.frame);
    if (sent < 0)
        return e.failLibrary(sent);
    return e.drain();
}

bool VideoFile::finish() {
    Encoder& e = *m;
    if (!e.error.isEmpty() || !e.codec)
        return false;
    if (e.cancelled)
        return e.failLibrary(AVERROR(ECANCELED));
    const int flushed = avcodec_send_frame(e.codec, nullptr);
    if (flushed < 0)
        return e.failLibrary(flushed);
    if (!e.drain())
        return false;
    const int trailer = av_write_trailer(e.container);
    if (trailer < 0)
        return e.failLibrary(trailer);
    avio_flush(e.io);
    if (e.io->error < 0)
        return e.failLibrary(e.io->error);
    if (!e.output.commit())
        return e.failLibrary(AVERROR(EIO));
    return true;
}

void VideoFile::cancel() {
    m->cancelled = true;
    m->output.cancel();
}

QString VideoFile::error() const {
    return m->error;
}

QString VideoFile::reason() const {
    return m->reason;
}
