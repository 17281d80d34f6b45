// The music clock of a capture: the stream length from the audio stand-in (as
// the demo reads it) and the rate and channels from the decoder.
#include <bass.h>
#include <mpg123.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Capture.h"
#include "Demo.h"

namespace democapture {

uint32_t MusicClock::Position(uint64_t k, int fps) const {
  uint64_t frame = k * uint64_t(rate) / uint64_t(fps);
  return uint32_t(frame * uint64_t(2 * channels));
}

uint32_t MusicClock::TimeOf(uint64_t k, int fps) const {
  return DemoTimeFromPosition(Position(k, fps), float(lengthBytes));
}

void MusicClock::Range(uint32_t from, uint32_t to, int fps, uint64_t* first, uint64_t* end) const {
  // Frames inside the music: floor(k * rate / fps) < Frames().
  uint64_t inside = (Frames() * uint64_t(fps) + uint64_t(rate) - 1) / uint64_t(rate);
  uint64_t k = 0;
  while (k < inside && TimeOf(k, fps) < from) ++k;
  *first = k;
  while (k < inside && TimeOf(k, fps) < to) ++k;
  *end = k;
}

bool OpenMusic(const std::string& path, MusicClock* clock, std::string* error) {
  FILE* probe = std::fopen(path.c_str(), "rb");
  if (!probe) {
    *error = "cannot open music file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::fclose(probe);

  // Rate and channel count from the decoder, as the stream will decode them.
  mpg123_init();
  int err = MPG123_OK;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  // Problems are reported once, by the caller; the decoder's own remarks on
  // damaged frames are not for the terminal.
  if (h) mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  long rate = 0;
  int channels = 0, encoding = 0;
  bool ok = h && mpg123_open(h, path.c_str()) == MPG123_OK && mpg123_getformat(h, &rate, &channels, &encoding) == MPG123_OK;
  if (h) {
    mpg123_close(h);
    mpg123_delete(h);
  }
  if (!ok || rate <= 0 || (channels != 1 && channels != 2)) {
    *error = "music file '" + path + "' is refused: it is not a decodable MP3";
    return false;
  }

  // The length exactly as the demo reads it.
  BASS_Init(-2, 44100, 0, 0);
  HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  DWORD length = stream ? BASS_StreamGetLength(stream) : 0xFFFFFFFFu;
  if (stream == 0 || length == 0 || length == 0xFFFFFFFFu) {
    *error = "music file '" + path + "' is refused: the audio library finds no playable audio in it";
    return false;
  }
  clock->lengthBytes = length;
  clock->rate = int(rate);
  clock->channels = channels;
  return true;
}

}  // namespace democapture
