// VP9 through libvpx: one pass, constant quality, no frame held back (so
// each picture gives its packet at once, in order, and none is dropped).

#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include "codecs/film_encoders.h"

namespace morvane {

namespace {

// Key frames at least this often, in frames: a player seeks to one.
constexpr unsigned kMostFramesBetweenKeys = 120;

class Vp9Encoder final : public PictureEncoder {
 public:
  ~Vp9Encoder() override {
    if (image_) vpx_img_free(image_);
    if (open_) vpx_codec_destroy(&codec_);
  }

  std::string Open(int width, int height, const EncoderSettings& settings) {
    width_ = width;
    height_ = height;
    vpx_codec_enc_cfg_t config;
    if (vpx_codec_enc_config_default(vpx_codec_vp9_cx(), &config, 0) != VPX_CODEC_OK)
      return "VP9 encoder: no default settings";
    config.g_w = static_cast<unsigned>(width);
    config.g_h = static_cast<unsigned>(height);
    config.g_timebase = {1, 1000};
    config.g_threads = 2;
    config.g_lag_in_frames = 0;
    config.g_pass = VPX_RC_ONE_PASS;
    config.rc_end_usage = VPX_Q;
    config.rc_min_quantizer = 0;
    config.rc_max_quantizer = 63;
    config.rc_dropframe_thresh = 0;
    config.kf_mode = VPX_KF_AUTO;
    config.kf_max_dist = kMostFramesBetweenKeys;
    if (vpx_codec_enc_init(&codec_, vpx_codec_vp9_cx(), &config, 0) != VPX_CODEC_OK)
      return "VP9 encoder: " + std::string(vpx_codec_error(&codec_));
    open_ = true;
    if (vpx_codec_control(&codec_, VP8E_SET_CQ_LEVEL, static_cast<unsigned>(settings.vp9Quality)) !=
            VPX_CODEC_OK ||
        vpx_codec_control(&codec_, VP8E_SET_CPUUSED, settings.vp9Speed) != VPX_CODEC_OK ||
        vpx_codec_control(&codec_, VP9E_SET_ROW_MT, 1u) != VPX_CODEC_OK)
      return Failure();
    image_ = vpx_img_alloc(nullptr, VPX_IMG_FMT_I420, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 16);
    if (!image_) return "VP9 encoder: out of memory";
    return "";
  }

  std::string Encode(const unsigned char* rgb, std::int64_t ms, std::int64_t durationMs,
                     std::vector<EncodedPacket>& out) override {
    RgbToI420(rgb, width_, height_, image_->planes[VPX_PLANE_Y], image_->stride[VPX_PLANE_Y],
              image_->planes[VPX_PLANE_U], image_->planes[VPX_PLANE_V], image_->stride[VPX_PLANE_U]);
    // The encoder wants its times to rise; the movie keeps the frames' own.
    const vpx_codec_pts_t pts = frames_ == 0 ? ms : std::max<vpx_codec_pts_t>(ms, lastPts_ + 1);
    lastPts_ = pts;
    const vpx_enc_frame_flags_t flags = frames_++ == 0 ? VPX_EFLAG_FORCE_KF : 0;
    if (vpx_codec_encode(&codec_, image_, pts,
                         static_cast<unsigned long>(std::max<std::int64_t>(durationMs, 1)), flags,
                         VPX_DL_GOOD_QUALITY) != VPX_CODEC_OK)
      return Failure();
    return Collect(ms, out);
  }

  std::string Finish(std::vector<EncodedPacket>& out) override {
    if (vpx_codec_encode(&codec_, nullptr, 0, 1, 0, VPX_DL_GOOD_QUALITY) != VPX_CODEC_OK) return Failure();
    return Collect(lastPts_, out);
  }

 private:
  std::string Failure() {
    const char* detail = vpx_codec_error_detail(&codec_);
    return "VP9 encoder: " + std::string(vpx_codec_error(&codec_)) +
           (detail ? std::string(" (") + detail + ")" : "");
  }

  std::string Collect(std::int64_t ms, std::vector<EncodedPacket>& out) {
    vpx_codec_iter_t iterator = nullptr;
    while (const vpx_codec_cx_pkt_t* packet = vpx_codec_get_cx_data(&codec_, &iterator)) {
      if (packet->kind != VPX_CODEC_CX_FRAME_PKT) continue;
      const auto* bytes = static_cast<const unsigned char*>(packet->data.frame.buf);
      out.push_back({std::vector<unsigned char>(bytes, bytes + packet->data.frame.sz), ms,
                     (packet->data.frame.flags & VPX_FRAME_IS_KEY) != 0});
    }
    return "";
  }

  vpx_codec_ctx_t codec_{};
  bool open_ = false;
  vpx_image_t* image_ = nullptr;
  int width_ = 0, height_ = 0;
  std::int64_t frames_ = 0;
  vpx_codec_pts_t lastPts_ = 0;
};

}  // namespace

bool FilmEncodersBuilt() { return true; }

std::unique_ptr<PictureEncoder> MakePictureEncoder(int width, int height, const EncoderSettings& settings,
                                                   std::string& failure) {
  auto encoder = std::make_unique<Vp9Encoder>();
  failure = encoder->Open(width, height, settings);
  if (!failure.empty()) return nullptr;
  return encoder;
}

}  // namespace morvane
