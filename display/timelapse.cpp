// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/timelapse.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include <QImage>
#include <QPainter>

#include "base/atomic_file.h"
#include "base/utf8_path.h"
#include "display/night_products.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

std::string AvReason(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

Outcome Failed(const std::string& what, int error) { return Outcome::Failure(what + ": " + AvReason(error)); }

// Everything one encoding holds, freed whatever way it ends.
struct Encoding {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  ~Encoding() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    if (format) {
      if (format->pb) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }

  // Hands every packet the encoder has ready to the file.
  Outcome Drain(AVStream* stream) {
    for (;;) {
      const int received = avcodec_receive_packet(codec, packet);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return Outcome::Success();
      if (received < 0) return Failed("cannot encode", received);
      // Every picture lasts one frame's time: without it the last one would last none, and the
      // MP4's edit list would leave it out.
      if (packet->duration == 0) packet->duration = 1;
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      if (const int written = av_interleaved_write_frame(format, packet); written < 0)
        return Failed("cannot write the video", written);
    }
  }
};

// A picture at the video's size: scaled to fit (never cropped) and centred on black where its
// shape differs; null where it cannot be read.
QImage Picture(const std::string& path, int width, int height) {
  const QImage image = LoadPicture(path, QSize(width, height), true);
  if (image.isNull() || image.size() == QSize(width, height)) return image;
  QImage framed(width, height, QImage::Format_RGB32);
  framed.fill(Qt::black);
  QPainter painter(&framed);
  painter.drawImage((width - image.width()) / 2, (height - image.height()) / 2, image);
  return framed;
}

Outcome Encode(const std::vector<std::string>& paths, const std::string& temporary, int fps, QSize size,
               const std::atomic<bool>* cancel) {
  av_log_set_level(AV_LOG_QUIET);  // failures come back as codes; the station's output is its own
  const int width = size.width(), height = size.height();
  if (width < 2 || height < 2 || (width & 1) || (height & 1)) return Outcome::Failure("the pictures are too small for a video");

  Encoding e;
  if (const int made = avformat_alloc_output_context2(&e.format, nullptr, "mp4", temporary.c_str()); made < 0)
    return Failed("cannot start an MP4 file", made);
  const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
  if (!h264) return Outcome::Failure("FFmpeg has no libx264 encoder");
  AVStream* stream = avformat_new_stream(e.format, nullptr);
  e.codec = avcodec_alloc_context3(h264);
  e.frame = av_frame_alloc();
  e.packet = av_packet_alloc();
  if (!stream || !e.codec || !e.frame || !e.packet) return Outcome::Failure("out of memory for the video");
  e.codec->width = width;
  e.codec->height = height;
  e.codec->pix_fmt = AV_PIX_FMT_YUV420P;
  e.codec->time_base = AVRational{1, fps};
  e.codec->framerate = AVRational{fps, 1};
  e.codec->gop_size = 2 * fps;
  // High profile plays in every browser and phone of the last decade; libx264 picks the level
  // that the size and rate need.
  av_opt_set(e.codec->priv_data, "preset", "veryfast", 0);
  av_opt_set(e.codec->priv_data, "profile", "high", 0);
  av_opt_set(e.codec->priv_data, "crf", "23", 0);
  if (e.format->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (const int opened = avcodec_open2(e.codec, h264, nullptr); opened < 0) return Failed("cannot start libx264", opened);
  if (const int copied = avcodec_parameters_from_context(stream->codecpar, e.codec); copied < 0)
    return Failed("cannot describe the video", copied);
  stream->time_base = e.codec->time_base;
  if (const int opened = avio_open(&e.format->pb, temporary.c_str(), AVIO_FLAG_WRITE); opened < 0)
    return Failed("cannot write " + temporary, opened);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);  // the index before the pictures
  const int header = avformat_write_header(e.format, &options);
  av_dict_free(&options);
  if (header < 0) return Failed("cannot write the MP4 header", header);

  e.frame->format = AV_PIX_FMT_YUV420P;
  e.frame->width = width;
  e.frame->height = height;
  if (const int buffered = av_frame_get_buffer(e.frame, 0); buffered < 0) return Failed("cannot hold a frame", buffered);
  e.scaler = sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                            nullptr, nullptr);
  if (!e.scaler) return Outcome::Failure("cannot convert the pictures to 4:2:0");

  int64_t pts = 0;
  for (const std::string& path : paths) {
    if (cancel && cancel->load()) return Outcome::Failure("stopped");
    const QImage image = Picture(path, width, height);
    if (image.isNull()) continue;  // a picture that cannot be read is left out of the video
    if (const int writable = av_frame_make_writable(e.frame); writable < 0) return Failed("cannot reuse a frame", writable);
    const uint8_t* source[1] = {image.constBits()};
    const int stride[1] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(e.scaler, source, stride, 0, height, e.frame->data, e.frame->linesize);
    e.frame->pts = pts++;
    if (const int sent = avcodec_send_frame(e.codec, e.frame); sent < 0) return Failed("cannot encode", sent);
    if (Outcome drained = e.Drain(stream); !drained.ok) return drained;
  }
  if (pts < 2) return Outcome::Failure("fewer than two pictures could be read");
  if (const int sent = avcodec_send_frame(e.codec, nullptr); sent < 0) return Failed("cannot finish encoding", sent);
  if (Outcome drained = e.Drain(stream); !drained.ok) return drained;
  if (const int trailer = av_write_trailer(e.format); trailer < 0) return Failed("cannot finish the MP4 file", trailer);
  return Outcome::Success();
}

}  // namespace

Outcome MakeTimelapse(const std::vector<std::string>& paths, const std::string& path, int fps, QSize size,
                      const std::atomic<bool>* cancel) {
  if (paths.size() < 2) return Outcome::Failure("fewer than two pictures: no video");
  if (fps < 1 || fps > 120) return Outcome::Failure("a rate of 1 to 120 frames a second is needed");
  const std::string temporary = path + ".part";
  Outcome encoded = Encode(paths, temporary, fps, size, cancel);
  // Flushed before it takes the name: a power cut must not leave a published name on an empty file.
  if (encoded.ok) encoded = FlushFile(temporary);
  if (encoded.ok) encoded = PutInPlace(temporary, path);
  if (!encoded.ok) {
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(temporary), ignored);
  }
  return encoded;
}
