// Clock arithmetic of the audio library, shared by its Linux build (SDL2 and
// libmpg123) and its Windows DLL (waveOut and the Audio Compression Manager).
//
// Units: a frame is one sample per channel; clocks are monotonic nanoseconds.
// Stream lengths and positions are bytes of the stream's own 16-bit PCM
// (frames x channels x 2), capped below 0xFFFFFFFF, the library's error value.
#ifndef STANDIN_STREAM_CLOCK_H
#define STANDIN_STREAM_CLOCK_H

#include <cstdint>

namespace standin {

constexpr uint32_t kAudioErrorValue = 0xFFFFFFFFu;  // length/position error value

// Frames a silent output at `rate` frames per second has played between
// `start` and `now`: floor((now - start) x rate / 1e9), 0 before `start`.
uint64_t SilentFrames(int64_t start, int64_t now, int rate);

// The PCM a stream has, as the library reports it.
struct StreamShape {
  long rate = 0;        // frames per second
  int channels = 0;     // 1 or 2
  uint64_t frames = 0;  // decoded length
};

// Bytes of `frames` frames of the stream, capped at 0xFFFFFFFE.
uint32_t StreamBytes(const StreamShape& stream, uint64_t frames);

// Bytes of the stream heard after the output, running at `outputRate`, has
// played `heard` frames, the stream having started at output frame `start`:
// floor((heard - start) x stream rate / output rate) frames (0 before
// `start`), modulo the length when `loop`, else at most the length.
uint32_t StreamPosition(const StreamShape& stream, uint64_t heard, uint64_t start, int outputRate,
                        bool loop);

}  // namespace standin

#endif
