#include "audio/StreamClock.h"

#include <algorithm>

namespace standin {

uint64_t SilentFrames(int64_t start, int64_t now, int rate) {
  if (now <= start || rate <= 0) return 0;
  return static_cast<uint64_t>((static_cast<unsigned __int128>(now - start) * rate) / 1000000000);
}

uint32_t StreamBytes(const StreamShape& stream, uint64_t frames) {
  uint64_t bytes = frames * static_cast<uint64_t>(stream.channels) * 2;
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, kAudioErrorValue - 1));
}

uint32_t StreamPosition(const StreamShape& stream, uint64_t heard, uint64_t start, int outputRate,
                        bool loop) {
  if (heard <= start || outputRate <= 0) return 0;
  uint64_t frames = static_cast<uint64_t>(
      (static_cast<unsigned __int128>(heard - start) * static_cast<uint64_t>(stream.rate)) /
      static_cast<uint64_t>(outputRate));
  if (loop) {
    frames = stream.frames > 0 ? frames % stream.frames : 0;
  } else {
    frames = std::min(frames, stream.frames);
  }
  return StreamBytes(stream, frames);
}

}  // namespace standin
