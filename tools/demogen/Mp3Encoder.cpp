// MP3 encoding of the soundtrack with libmp3lame.
#include <lame/lame.h>

#include <cstring>
#include <memory>

#include "Soundtrack.h"

namespace demogen {
namespace {

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

// The encoder's own console reports are of no use inside a tool.
void Quiet(const char*, va_list) {}

}  // namespace

bool EncodeMp3(const std::vector<int16_t>& pcm, std::vector<uint8_t>* mp3, std::string* error) {
  mp3->clear();
  if (pcm.size() % 2 != 0) {
    *error = "MP3 encoder: odd number of samples for stereo input";
    return false;
  }
  std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
  if (!lame) {
    *error = "MP3 encoder: lame_init failed";
    return false;
  }
  lame_global_flags* gf = lame.get();
  lame_set_errorf(gf, Quiet);
  lame_set_debugf(gf, Quiet);
  lame_set_msgf(gf, Quiet);
  lame_set_num_channels(gf, 2);
  lame_set_in_samplerate(gf, kSampleRate);
  lame_set_out_samplerate(gf, kSampleRate);
  lame_set_mode(gf, JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, 160);
  lame_set_quality(gf, 5);
  // The gapless header (encoder delay and padding) lets a decoder return the
  // exact sample count, which the demo clock divides by; no ID3 tags.
  lame_set_bWriteVbrTag(gf, 1);
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0) {
    *error = "MP3 encoder: lame_init_params refused the settings";
    return false;
  }

  const size_t frames = pcm.size() / 2;
  const size_t chunk = 1 << 16;  // sample frames per call
  std::vector<unsigned char> buffer(chunk * 5 / 4 + 7200);
  for (size_t done = 0; done < frames; done += chunk) {
    int n = int(std::min(chunk, frames - done));
    // The library takes a non-const pointer but only reads the samples.
    short* in = const_cast<short*>(reinterpret_cast<const short*>(pcm.data() + done * 2));
    int written = lame_encode_buffer_interleaved(gf, in, n, buffer.data(), int(buffer.size()));
    if (written < 0) {
      *error = "MP3 encoder: lame_encode_buffer_interleaved failed with code " + std::to_string(written);
      return false;
    }
    mp3->insert(mp3->end(), buffer.data(), buffer.data() + written);
  }
  int written = lame_encode_flush(gf, buffer.data(), int(buffer.size()));
  if (written < 0) {
    *error = "MP3 encoder: lame_encode_flush failed with code " + std::to_string(written);
    return false;
  }
  mp3->insert(mp3->end(), buffer.data(), buffer.data() + written);

  // The encoder left an empty first frame for the header; fill it in now.
  size_t tagSize = lame_get_lametag_frame(gf, buffer.data(), buffer.size());
  if (tagSize == 0 || tagSize > buffer.size() || tagSize > mp3->size()) {
    *error = "MP3 encoder: no gapless header frame";
    return false;
  }
  std::memcpy(mp3->data(), buffer.data(), tagSize);
  return true;
}

}  // namespace demogen
