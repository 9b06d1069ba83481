// Compressed frames through the codec library: the codec found from the compression code, frames decoded in
// order from the nearest key frame, and pictures converted by the live path's converters or by the scaler.
#include "recording/FrameDecoder.h"

#include "capture/YUVConverts.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kestrane {

namespace {

// The decoded pictures the live path's converters take, with their layout code.
std::uint8_t ourLayoutOf(int pixelFormat) {
    switch (pixelFormat) {
    case AV_PIX_FMT_YUYV422:
        return kFormatYuy2;
    case AV_PIX_FMT_UYVY422:
        return kFormatUyvy;
    case AV_PIX_FMT_YUV420P:
        return kFormatI420;
    case AV_PIX_FMT_YUV410P:
        return kFormatYvu9;
    case AV_PIX_FMT_GRAY8:
        return kFormatY8;
    default:
        return kFormatUnknown;
    }
}

// Copies `rows` rows of `bytes` each from a picture plane into `to`, one after the other.
std::uint8_t* packPlane(const std::uint8_t* plane, int linesize, std::size_t bytes, int rows,
                        std::uint8_t* to) {
    for (int r = 0; r < rows; ++r, to += bytes) {
        std::memcpy(to, plane + static_cast<std::ptrdiff_t>(r) * linesize, bytes);
    }
    return to;
}

class CodecDecoder final : public FrameDecoder {
  public:
    CodecDecoder(const CodedFormat& format, StoredFrames& frames) : format_(format), frames_(frames) {}
    CodecDecoder(const CodecDecoder&) = delete;
    CodecDecoder& operator=(const CodecDecoder&) = delete;

    ~CodecDecoder() override {
        sws_freeContext(scaler_);
        av_frame_free(&picture_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    bool open(const std::uint8_t* formatBytes, std::size_t formatSize, std::string& why) {
        // A damaged frame is the reader's to report, in its own words; the library would print to stderr.
        static std::once_flag quiet;
        std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
        const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
        const AVCodecID id = av_codec_get_id(tags, format_.compression);
        const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
        if (codec == nullptr) {
            why = "frames compressed as " + compressionText(format_.compression) +
                  ", which this build cannot decode";
            return false;
        }
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
        intraOnly_ = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
        context_ = avcodec_alloc_context3(codec);
        packet_ = av_packet_alloc();
        picture_ = av_frame_alloc();
        if (context_ == nullptr || packet_ == nullptr || picture_ == nullptr) {
            why = "there is not enough memory to decode its frames";
            return false;
        }
        context_->codec_tag = format_.compression;
        context_->width = format_.width;
        context_->height = format_.height;
        context_->bits_per_coded_sample = formatBytes[14] | (formatBytes[15] << 8);
        // A damaged stream must not make the decoder allocate pictures larger than the stream's frames, nor
        // hand out the pictures it had to guess at.
        // (the decoders pad their pictures to whole blocks, which the bound allows for).
        context_->max_pixels = 4 * (static_cast<std::int64_t>(format_.width) + 64) * (format_.height + 64);
        context_->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
        // One thread: a picture comes out as soon as its frame goes in, and memory stays at a few pictures.
        context_->thread_count = 1;
        // Whatever follows the 40-byte header is the codec's own set-up, as the container's other readers
        // take it.
        if (formatSize > 40) {
            const std::size_t extra = formatSize - 40;
            context_->extradata =
                static_cast<std::uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
            if (context_->extradata == nullptr) {
                why = "there is not enough memory to decode its frames";
                return false;
            }
            std::memcpy(context_->extradata, formatBytes + 40, extra);
            context_->extradata_size = static_cast<int>(extra);
        }
        if (avcodec_open2(context_, codec, nullptr) < 0) {
            why = "frames compressed as " + compressionText(format_.compression) +
                  ", whose decoder does not accept this stream";
            return false;
        }
        return true;
    }

    bool decode(std::int64_t n, const FrameView& out) override {
        if (n < 0 || n >= frames_.count() || out.width != format_.width || out.height != format_.height) {
            return false;
        }
        // Forward from where the decoder is, unless a key frame lies in between: starting there is shorter.
        // Only the frames jumped over are looked at, so reading in order costs nothing here.
        if (intraOnly_) {
            if (broken_ || n != nextOut_) {
                restart(n);
            }
        } else if (broken_ || n < nextOut_ || keyAmong(nextOut_ + 1, n)) {
            restart(nearestKey(n));
        }
        while (true) {
            const int received = avcodec_receive_frame(context_, picture_);
            if (received == 0) {
                const std::int64_t shown = nextOut_++;
                const bool damaged = picture_->decode_error_flags != 0 ||
                                     (picture_->flags & AV_FRAME_FLAG_CORRUPT) != 0 ||
                                     picture_->width != format_.width || picture_->height != format_.height;
                if (damaged) {
                    // What follows may refer to it: start afresh at the next request.
                    av_frame_unref(picture_);
                    broken_ = true;
                    return false;
                }
                const bool converted = shown == n && convert(out);
                av_frame_unref(picture_);
                if (shown == n) {
                    broken_ = !converted;
                    return converted;
                }
                continue;
            }
            if (received != AVERROR(EAGAIN) || !feed()) {
                broken_ = true;
                return false;
            }
        }
    }

  private:
    bool keyAmong(std::int64_t first, std::int64_t last) const {
        for (std::int64_t k = last; k >= first; --k) {
            if (frames_.isKey(k)) {
                return true;
            }
        }
        return false;
    }

    std::int64_t nearestKey(std::int64_t n) const {
        for (std::int64_t k = n; k > 0; --k) {
            if (frames_.isKey(k)) {
                return k;
            }
        }
        return 0;
    }

    void restart(std::int64_t key) {
        avcodec_flush_buffers(context_);
        fed_ = key;
        nextOut_ = key;
        draining_ = false;
        broken_ = false;
    }

    // Hands the next stored frame to the decoder, or tells it that none follows; false when there is nothing
    // more to give or the frame is refused.
    bool feed() {
        if (fed_ >= frames_.count()) {
            if (draining_) {
                return false;
            }
            draining_ = true;
            return avcodec_send_packet(context_, nullptr) == 0;
        }
        if (!frames_.read(fed_, chunk_) || chunk_.empty()) {
            return false;
        }
        const std::size_t size = chunk_.size();
        // The decoder reads a little past the end for speed; those bytes must be there and zero.
        chunk_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        av_packet_unref(packet_);
        packet_->data = chunk_.data();
        packet_->size = static_cast<int>(size);
        packet_->pts = fed_;
        packet_->dts = fed_;
        packet_->flags = frames_.isKey(fed_) ? AV_PKT_FLAG_KEY : 0;
        ++fed_;
        return avcodec_send_packet(context_, packet_) == 0;
    }

    bool convert(const FrameView& out) {
        const int w = format_.width;
        const int h = format_.height;
        const std::uint8_t code = ourLayoutOf(picture_->format);
        if (code != kFormatUnknown && out.stride == std::ptrdiff_t{w} * 4) {
            packed_.resize(yuvFrameBytes(code, w, h));
            std::uint8_t* to = packed_.data();
            const auto cw2 = static_cast<std::size_t>((w + 1) / 2);
            const auto cw4 = static_cast<std::size_t>((w + 3) / 4);
            switch (code) {
            case kFormatYuy2:
            case kFormatUyvy:
                packPlane(picture_->data[0], picture_->linesize[0], std::size_t{2} * w, h, to);
                break;
            case kFormatY8:
                packPlane(picture_->data[0], picture_->linesize[0], static_cast<std::size_t>(w), h, to);
                break;
            case kFormatI420:
                to = packPlane(picture_->data[0], picture_->linesize[0], static_cast<std::size_t>(w), h, to);
                to = packPlane(picture_->data[1], picture_->linesize[1], cw2, (h + 1) / 2, to);
                packPlane(picture_->data[2], picture_->linesize[2], cw2, (h + 1) / 2, to);
                break;
            default: // YVU9: V before U
                to = packPlane(picture_->data[0], picture_->linesize[0], static_cast<std::size_t>(w), h, to);
                to = packPlane(picture_->data[2], picture_->linesize[2], cw4, (h + 3) / 4, to);
                packPlane(picture_->data[1], picture_->linesize[1], cw4, (h + 3) / 4, to);
                break;
            }
            return ConvertFrame(code, packed_.data(), out.pixels, w, h);
        }
        // Anything else becomes 24-bit RGB as the codec library's own tools convert it.
        scaler_ = sws_getCachedContext(scaler_, w, h, static_cast<AVPixelFormat>(picture_->format), w, h,
                                       AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) {
            return false;
        }
        const int rgbStride = (w * 3 + 31) / 32 * 32;
        rgb_.resize(static_cast<std::size_t>(rgbStride) * static_cast<std::size_t>(h));
        std::uint8_t* planes[4] = {rgb_.data(), nullptr, nullptr, nullptr};
        int strides[4] = {rgbStride, 0, 0, 0};
        if (sws_scale(scaler_, picture_->data, picture_->linesize, 0, h, planes, strides) != h) {
            return false;
        }
        for (int top = 0; top < h; ++top) {
            widenRow(rgb_.data() + static_cast<std::ptrdiff_t>(top) * rgbStride, 24,
                     out.pixel(0, h - 1 - top), w, 0);
        }
        return true;
    }

    CodedFormat format_;
    StoredFrames& frames_;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    SwsContext* scaler_ = nullptr;
    bool intraOnly_ = false;
    std::int64_t fed_ = 0;     // the next stored frame to hand to the decoder
    std::int64_t nextOut_ = 0; // the frame the next picture out of the decoder shows
    bool draining_ = false;
    bool broken_ = true; // the decoder must start afresh at a key frame (so it does at first)
    std::vector<std::uint8_t> chunk_;
    std::vector<std::uint8_t> packed_;
    std::vector<std::uint8_t> rgb_;
};

} // namespace

std::unique_ptr<FrameDecoder> makeCodecDecoder(const CodedFormat& format, const std::uint8_t* formatBytes,
                                               std::size_t formatSize, StoredFrames& frames,
                                               std::string& why) {
    auto decoder = std::make_unique<CodecDecoder>(format, frames);
    if (!decoder->open(formatBytes, formatSize, why)) {
        return nullptr;
    }
    return decoder;
}

std::string codecDecoderLine() {
    const unsigned v = avcodec_version();
    return "Frame decoder: FFmpeg libavcodec " + std::to_string(v >> 16) + "." +
           std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF) +
           " (grey, YUV and every codec it decodes)";
}

} // namespace kestrane
