// The frames of an MP3 file and its gapless length, for a decoder that turns
// frames into PCM without knowing the file (the Windows build's Audio
// Compression Manager codec). The length and trimming are libmpg123's, so a
// stream has the same length and the same samples at the same position in
// both builds:
//   - an ID3v2 tag at the start and an ID3v1 tag at the end are skipped;
//   - an MPEG layer 3 frame with a "Xing" or "Info" header first is no audio;
//     when it carries the encoder's delay D and padding P (LAME tag), the
//     stream is frames x samplesPerFrame - D - P frames long and begins
//     D + 529 frames into the decoder's output (529: the decoder's own delay);
//     without them it is frames x samplesPerFrame long and begins at once.
// Only MPEG 1, 2 and 2.5 layer 3 with a fixed bit-rate index per frame (no
// free format) is taken; every frame must share the first one's rate and
// channel count.
#ifndef STANDIN_MP3_FRAMES_H
#define STANDIN_MP3_FRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct Mp3Frame {
  size_t offset = 0;  // bytes from the start of the data
  size_t size = 0;    // bytes, header included
};

struct Mp3Layout {
  long rate = 0;                // frames (samples per channel) per second
  int channels = 0;             // 1 or 2
  int samplesPerFrame = 0;      // 1152 (MPEG 1) or 576 (MPEG 2 and 2.5)
  int bitrate = 0;              // of the first audio frame, bits per second
  std::vector<Mp3Frame> frames;  // audio frames, in order
  uint64_t skip = 0;            // decoder output frames before the stream begins
  uint64_t length = 0;          // stream frames after the trimming
};

// Scans `size` bytes at `data`. False with `*error` saying why when no audio
// frame is found or the frames change rate or channel count. Data after the
// last whole frame (a cut-off frame, trailing junk) is ignored.
bool ScanMp3(const uint8_t* data, size_t size, Mp3Layout* layout, std::string* error);

}  // namespace standin

#endif
