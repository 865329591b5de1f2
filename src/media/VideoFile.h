#pragma once

#include <QImage>
#include <QString>
#include <memory>
#include <optional>

// Writes frames as a video through FFmpeg's libraries: FFV1 (lossless RGB) in
// Matroska, H.264 in MP4 or VP9 in WebM. The target follows the output rules of
// OutputFile: a regular file appears whole, renamed over the old one only when
// finish() succeeds, and an unfinished or failed video leaves nothing. One
// thread writes; cancel() may come from any other.
class VideoFile {
public:
    enum class Format { ffv1Matroska, h264Mp4, vp9WebM };
    // By the path's extension (.mkv, .mp4, .webm, in any case).
    static std::optional<Format> formatOf(const QString& path);

    VideoFile(const QString& path, Format format);
    ~VideoFile();
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;

    // Opens the target and the encoder for width × height frames at
    // fpsNumerator / fpsDenominator frames per second.
    bool open(int width, int height, int fpsNumerator, int fpsDenominator);
    // The next frame, width × height, its colours premultiplied by alpha (as if
    // over black).
    bool writeFrame(const QImage& frame);
    // Drains the encoder, ends the container and puts the file in place.
    bool finish();
    // Any thread: the writing stops at the next step and nothing is left.
    void cancel();

    // What failed, in one Japanese line naming the file; empty while all is well.
    QString error() const;
    // The same without the file's name: one sentence, for a message box.
    QString reason() const;

private:
    struct Encoder;
    std::unique_ptr<Encoder> m;
};
