// Video jobs of the thumbnail program: a frame as a thumbnail, and the facts a browser needs to
// tell whether it can play the file, read with the container and codec libraries.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "thumbs/thumbnailer_jobs.h"

namespace vm::thumbs {

namespace {

constexpr int kReadBufferBytes = 64 * 1024;
// Containers that cameras, phones and downloads bring. Every other reader (playlists, image
// sequences, ones that open further files or addresses) is never tried, whatever the bytes say.
constexpr char kContainers[] = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,flv,asf,mpeg,ogg";
// Packets read after the seek before a frame must have come: a stream that gives none by then
// is damaged or not video.
constexpr int kMaxPackets = 2048;
constexpr int kJpegQuality = 80;

struct TFileReader {
  int Fd = -1;
  int64_t At = 0;
  int64_t Size = 0;
};

int ReadFromFile(void* opaque, uint8_t* into, int size) {
  auto* reader = static_cast<TFileReader*>(opaque);
  const ssize_t n = pread(reader->Fd, into, static_cast<size_t>(size), reader->At);
  if (n < 0) return AVERROR(errno);
  if (n == 0) return AVERROR_EOF;
  reader->At += n;
  return static_cast<int>(n);
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence) {
  auto* reader = static_cast<TFileReader*>(opaque);
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return reader->Size;
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += reader->At;
      break;
    case SEEK_END:
      offset += reader->Size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0) return AVERROR(EINVAL);
  reader->At = offset;
  return offset;
}

// A container never opens another file or address, whatever it refers to.
int RefuseToOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// A video's container opened on a descriptor, its streams read.
class TVideo {
 public:
  explicit TVideo(int fd) {
    struct stat info {};
    reader_.Fd = fd;
    reader_.Size = fstat(fd, &info) == 0 ? info.st_size : 0;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBufferBytes));
    io_ = buffer == nullptr ? nullptr
                            : avio_alloc_context(buffer, kReadBufferBytes, 0, &reader_,
                                                 ReadFromFile, nullptr, SeekInFile);
    if (io_ == nullptr) {
      av_free(buffer);
      return;
    }
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return;
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    format_->io_open = RefuseToOpen;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kContainers, 0);
    // On failure the context is freed and set to null.
    if (avformat_open_input(&format_, nullptr, nullptr, &options) == 0 &&
        avformat_find_stream_info(format_, nullptr) < 0) {
      avformat_close_input(&format_);
    }
    av_dict_free(&options);
  }
  ~TVideo() {
    avformat_close_input(&format_);
    if (io_ != nullptr) av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  TVideo(const TVideo&) = delete;
  TVideo& operator=(const TVideo&) = delete;

  AVFormatContext* Format() const { return format_; }
  // The stream of the given type a player would pick, or null.
  AVStream* Best(AVMediaType type) const {
    if (format_ == nullptr) return nullptr;
    const int index = av_find_best_stream(format_, type, -1, -1, nullptr, 0);
    return index < 0 ? nullptr : format_->streams[index];
  }

 private:
  TFileReader reader_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
};

// Degrees the picture is to be turned clockwise to stand as it was filmed: 0, 90, 180 or 270.
int Rotation(const AVStream* stream) {
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(counterClockwise)) return 0;
  const long quarters = std::lround(-counterClockwise / 90.0);
  return static_cast<int>(((quarters % 4) + 4) % 4) * 90;
}

// Decodes the first frame at or after the key frame before a tenth of the way in; null when
// none comes.
AVFrame* DecodeFrame(const TVideo& video, const AVStream* stream) {
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr) return nullptr;
  AVCodecContext* codec = avcodec_alloc_context3(decoder);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  bool got = false;
  if (codec != nullptr && frame != nullptr && packet != nullptr &&
      avcodec_parameters_to_context(codec, stream->codecpar) >= 0) {
    codec->thread_count = 1;  // the program's memory stays that of one decoder
    if (avcodec_open2(codec, decoder, nullptr) == 0) {
      AVFormatContext* format = video.Format();
      if (format->duration > 0) {
        const int64_t start = format->start_time == AV_NOPTS_VALUE ? 0 : format->start_time;
        av_seek_frame(format, -1, start + format->duration / 10, AVSEEK_FLAG_BACKWARD);
      }
      for (int n = 0; n < kMaxPackets && !got; ++n) {
        if (av_read_frame(format, packet) < 0) {
          avcodec_send_packet(codec, nullptr);  // what the decoder still holds
          got = avcodec_receive_frame(codec, frame) == 0;
          break;
        }
        if (packet->stream_index == stream->index && avcodec_send_packet(codec, packet) >= 0) {
          got = avcodec_receive_frame(codec, frame) == 0;
        }
        av_packet_unref(packet);
      }
    }
  }
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  if (!got) av_frame_free(&frame);
  return frame;
}

// The frame as RGB fitted into the square (its pixels' aspect applied), upright, as a JPEG.
TJobResult SaveFrame(const AVFrame* frame, int rotation, int size) {
  double width = frame->width;
  const AVRational aspect = frame->sample_aspect_ratio;
  if (aspect.num > 0 && aspect.den > 0) width = width * aspect.num / aspect.den;
  const double scale = std::min({1.0, size / width, size / double(frame->height)});
  const int toWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
  const int toHeight = std::max(1, static_cast<int>(std::lround(frame->height * scale)));
  SwsContext* scaler =
      sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                     toWidth, toHeight, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (scaler == nullptr) return {};
  // High-definition video uses other colour equations than the default's.
  const int* coefficients =
      sws_getCoefficients(frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
  sws_setColorspaceDetails(scaler, coefficients, frame->color_range == AVCOL_RANGE_JPEG,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  std::vector<uint8_t> rgb(size_t(toWidth) * size_t(toHeight) * 3);
  uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {toWidth * 3, 0, 0, 0};
  const int rows =
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
  sws_freeContext(scaler);
  if (rows != toHeight) return {};
  TJobResult result;
  VipsImage* image =
      vips_image_new_from_memory(rgb.data(), rgb.size(), toWidth, toHeight, 3, VIPS_FORMAT_UCHAR);
  VipsImage* upright = nullptr;
  const VipsAngle angle = rotation == 90    ? VIPS_ANGLE_D90
                          : rotation == 180 ? VIPS_ANGLE_D180
                          : rotation == 270 ? VIPS_ANGLE_D270
                                            : VIPS_ANGLE_D0;
  void* bytes = nullptr;
  size_t length = 0;
  if (image != nullptr && vips_rot(image, &upright, angle, nullptr) == 0 &&
      vips_jpegsave_buffer(upright, &bytes, &length, "Q", kJpegQuality, "strip", TRUE, nullptr) ==
          0 &&
      length <= MaxReplyBytes(TJobKind::VideoThumbnail)) {
    result.Kind = TReplyKind::Jpeg;
    result.Bytes.assign(static_cast<const char*>(bytes), length);
  }
  g_free(bytes);
  if (upright != nullptr) g_object_unref(upright);
  if (image != nullptr) g_object_unref(image);
  vips_error_clear();
  return result;
}

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof(text), "%02x", value & 0xFF);
  return text;
}

int BitDepth(const AVCodecParameters* p) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p->format));
  return d == nullptr ? 8 : d->comp[0].depth;
}

// The codec as a browser's canPlayType names it (RFC 6381 and the WebM and AV1 forms); codecs
// no browser plays keep the libraries' name, which no browser knows either.
std::string CodecString(const AVCodecParameters* p) {
  const uint8_t* x = p->extradata;
  const int xs = p->extradata_size;
  char text[64];
  switch (p->codec_id) {
    case AV_CODEC_ID_H264:
      // The decoder configuration record holds profile, constraints and level as they are named.
      if (xs >= 4 && x[0] == 1) return "avc1." + Hex2(x[1]) + Hex2(x[2]) + Hex2(x[3]);
      return "avc1." + Hex2(p->profile & 0xFF) + "00" + Hex2(p->level > 0 ? p->level : 0x1F);
    case AV_CODEC_ID_HEVC: {
      if (xs < 13 || x[0] != 1) return "hvc1.1.6.L93.B0";
      const unsigned space = x[1] >> 6, tier = (x[1] >> 5) & 1, profile = x[1] & 0x1F;
      const uint32_t flags = (uint32_t{x[2]} << 24) | (uint32_t{x[3]} << 16) | (x[4] << 8) | x[5];
      uint32_t reversed = 0;
      for (int bit = 0; bit < 32; ++bit) reversed |= ((flags >> bit) & 1u) << (31 - bit);
      static constexpr const char* kSpaces[] = {"", "A", "B", "C"};
      std::snprintf(text, sizeof(text), "hvc1.%s%u.%X.%c%u", kSpaces[space], profile, reversed,
                    tier != 0 ? 'H' : 'L', unsigned{x[12]});
      std::string codec = text;
      int last = 11;
      while (last >= 6 && x[last] == 0) --last;
      for (int k = 6; k <= last; ++k) {
        std::snprintf(text, sizeof(text), ".%X", unsigned{x[k]});
        codec += text;
      }
      return codec;
    }
    case AV_CODEC_ID_VP9:
      std::snprintf(text, sizeof(text), "vp09.%02d.%02d.%02d", std::max(0, p->profile),
                    p->level > 0 ? p->level : 10, BitDepth(p));
      return text;
    case AV_CODEC_ID_AV1:
      if (xs >= 3 && (x[0] & 0x80) != 0) {
        const int depth = (x[2] & 0x40) == 0 ? 8 : (x[2] & 0x20) != 0 ? 12 : 10;
        std::snprintf(text, sizeof(text), "av01.%d.%02d%c.%02d", x[1] >> 5, x[1] & 0x1F,
                      (x[2] & 0x80) != 0 ? 'H' : 'M', depth);
        return text;
      }
      return "av01.0.04M.08";
    case AV_CODEC_ID_VP8:
      return "vp8";
    case AV_CODEC_ID_THEORA:
      return "theora";
    case AV_CODEC_ID_MPEG4:
      return "mp4v.20.9";
    case AV_CODEC_ID_AAC:
      // Audio object type: the profile plus one (LC 2, HE 5, HE v2 29).
      return "mp4a.40." + std::to_string(p->profile >= 0 ? p->profile + 1 : 2);
    case AV_CODEC_ID_MP3:
      return "mp3";
    case AV_CODEC_ID_OPUS:
      return "opus";
    case AV_CODEC_ID_VORBIS:
      return "vorbis";
    case AV_CODEC_ID_FLAC:
      return "flac";
    case AV_CODEC_ID_AC3:
      return "ac-3";
    case AV_CODEC_ID_EAC3:
      return "ec-3";
    default:
      return avcodec_get_name(p->codec_id);
  }
}

bool IsWebmCodec(AVCodecID id) {
  return id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_AV1 ||
         id == AV_CODEC_ID_OPUS || id == AV_CODEC_ID_VORBIS;
}

// The media type a browser is asked about, by the container the file really is.
std::string ContainerType(const AVFormatContext* format, const AVStream* video,
                          const AVStream* audio) {
  const std::string_view name = format->iformat->name;
  struct TContainer {
    std::string_view Reader;
    const char* Type;
  };
  static constexpr TContainer kTypes[] = {
      {"mov,", "video/mp4"},  {"avi", "video/x-msvideo"}, {"mpegts", "video/mp2t"},
      {"flv", "video/x-flv"}, {"asf", "video/x-ms-asf"},  {"mpeg", "video/mpeg"},
      {"ogg", "video/ogg"},
  };
  if (name.starts_with("matroska")) {
    const bool webm = IsWebmCodec(video->codecpar->codec_id) &&
                      (audio == nullptr || IsWebmCodec(audio->codecpar->codec_id));
    return webm ? "video/webm" : "video/x-matroska";
  }
  for (const TContainer& container : kTypes) {
    if (name.starts_with(container.Reader)) return container.Type;
  }
  return "video/" + std::string(name.substr(0, name.find(',')));
}

}  // namespace

TJobResult MakeVideoThumbnail(int fd, const TJobParameters& parameters) {
  const TVideo video(fd);
  const AVStream* stream = video.Best(AVMEDIA_TYPE_VIDEO);
  if (stream == nullptr ||
      int64_t{stream->codecpar->width} * stream->codecpar->height > parameters.MaxPixels) {
    return {};
  }
  AVFrame* frame = DecodeFrame(video, stream);
  if (frame == nullptr) return {};
  TJobResult result;
  if (int64_t{frame->width} * frame->height <= parameters.MaxPixels) {
    result = SaveFrame(frame, Rotation(stream), parameters.Size);
  }
  av_frame_free(&frame);
  return result;
}

TJobResult ReadVideoFacts(int fd, const TJobParameters&) {
  const TVideo video(fd);
  const AVStream* stream = video.Best(AVMEDIA_TYPE_VIDEO);
  if (stream == nullptr) return {};
  const AVStream* audio = video.Best(AVMEDIA_TYPE_AUDIO);
  const AVFormatContext* format = video.Format();
  std::string codecs = CodecString(stream->codecpar);
  if (audio != nullptr) codecs += "," + CodecString(audio->codecpar);
  const bool turned = Rotation(stream) % 180 != 0;
  TJobResult facts{TReplyKind::Facts, ""};
  facts.Bytes = "type=" + ContainerType(format, stream, audio) + "\ncodecs=" + codecs + "\n";
  double seconds = -1;
  if (format->duration > 0) {
    seconds = double(format->duration) / AV_TIME_BASE;
  } else if (stream->duration > 0) {
    seconds = double(stream->duration) * av_q2d(stream->time_base);
  }
  if (seconds >= 0) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", seconds);
    facts.Bytes += "duration=" + std::string(text) + "\n";
  }
  const int width = stream->codecpar->width, height = stream->codecpar->height;
  facts.Bytes += "width=" + std::to_string(turned ? height : width) +
                 "\nheight=" + std::to_string(turned ? width : height) + "\n";
  return facts;
}

}  // namespace vm::thumbs
