#include "audio/Mp3Frames.h"

namespace standin {
namespace {

constexpr uint64_t kDecoderDelay = 529;

struct Header {
  int version = 0;  // 1: MPEG 1, 2: MPEG 2, 25: MPEG 2.5
  long rate = 0;
  int channels = 0;
  int bitrate = 0;  // bits per second
  size_t size = 0;  // frame bytes
  int samples = 0;  // per channel
  size_t sideInfo = 0;
};

// Parses the 4-byte header at `p`; false unless it is a layer 3 frame header
// with a bit rate and sample rate index that name a value.
bool ParseHeader(const uint8_t* p, Header* h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3)
    return false;
  static const int kBitrates[2][15] = {
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},  // MPEG 1
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};     // MPEG 2, 2.5
  static const long kRates[3] = {44100, 48000, 32000};
  h->version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  const bool mpeg1 = h->version == 1;
  h->rate = kRates[rateIndex] / (mpeg1 ? 1 : h->version == 2 ? 2 : 4);
  h->channels = (p[3] >> 6) == 3 ? 1 : 2;
  h->bitrate = kBitrates[mpeg1 ? 0 : 1][bitrateIndex] * 1000;
  h->samples = mpeg1 ? 1152 : 576;
  h->size = static_cast<size_t>((mpeg1 ? 144 : 72) * h->bitrate / h->rate + padding);
  h->sideInfo = mpeg1 ? (h->channels == 1 ? 17 : 32) : (h->channels == 1 ? 9 : 17);
  return true;
}

uint32_t Big32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A "Xing"/"Info" header in the frame at `p` (`h` its header): sets *frames
// (0 when it names none) and, from a LAME tag, *delay and *padding (-1 when
// absent). False when the frame holds no such header.
bool ReadInfoFrame(const uint8_t* p, const Header& h, uint64_t* frames, long* delay,
                   long* padding) {
  const size_t at = 4 + h.sideInfo;
  if (at + 8 > h.size) return false;
  const uint8_t* x = p + at;
  if (!((x[0] == 'X' && x[1] == 'i' && x[2] == 'n' && x[3] == 'g') ||
        (x[0] == 'I' && x[1] == 'n' && x[2] == 'f' && x[3] == 'o')))
    return false;
  const uint32_t flags = Big32(x + 4);
  size_t next = at + 8;
  *frames = 0;
  *delay = *padding = -1;
  if (flags & 1) {
    if (next + 4 > h.size) return true;
    *frames = Big32(p + next);
    next += 4;
  }
  if (flags & 2) next += 4;    // byte count
  if (flags & 4) next += 100;  // seek table
  if (flags & 8) next += 4;    // quality
  // LAME tag: 9 bytes of encoder name, 12 bytes of settings, then delay and
  // padding as two 12-bit numbers.
  if (next + 24 <= h.size) {
    const uint8_t* d = p + next + 21;
    *delay = long(d[0]) << 4 | d[1] >> 4;
    *padding = long(d[1] & 0x0F) << 8 | d[2];
  }
  return true;
}

}  // namespace

bool ScanMp3(const uint8_t* data, size_t size, Mp3Layout* layout, std::string* error) {
  *layout = Mp3Layout();
  size_t pos = 0;
  if (size >= 10 && data[0] == 'I' && data[1] == 'D' && data[2] == '3') {
    // Tag size: four 7-bit bytes, after the 10-byte tag header (and a footer).
    size_t tag = size_t(data[6] & 0x7F) << 21 | size_t(data[7] & 0x7F) << 14 |
                 size_t(data[8] & 0x7F) << 7 | size_t(data[9] & 0x7F);
    pos = 10 + tag + ((data[5] & 0x10) ? 10 : 0);
  }
  if (size >= 128 && data[size - 128] == 'T' && data[size - 127] == 'A' && data[size - 126] == 'G')
    size -= 128;

  bool first = true;
  uint64_t infoFrames = 0;
  long delay = -1, padding = -1;
  bool haveInfo = false;
  Header h;
  while (pos + 4 <= size) {
    if (!ParseHeader(data + pos, &h)) {
      ++pos;  // resynchronise on the next byte
      continue;
    }
    if (pos + h.size > size) break;  // a cut-off last frame
    if (first) {
      first = false;
      layout->rate = h.rate;
      layout->channels = h.channels;
      layout->samplesPerFrame = h.samples;
      if (ReadInfoFrame(data + pos, h, &infoFrames, &delay, &padding)) {
        haveInfo = true;
        pos += h.size;
        continue;
      }
    } else if (h.rate != layout->rate || h.channels != layout->channels) {
      *error = "the frame at byte " + std::to_string(pos) + " changes the sample rate or channels";
      return false;
    }
    if (layout->frames.empty()) layout->bitrate = h.bitrate;
    layout->frames.push_back({pos, h.size});
    pos += h.size;
  }
  if (layout->frames.empty()) {
    *error = "no MPEG layer 3 audio frame found";
    return false;
  }
  const uint64_t total = uint64_t(layout->frames.size()) * uint64_t(layout->samplesPerFrame);
  if (haveInfo && infoFrames > 0 && delay >= 0 && padding >= 0 &&
      uint64_t(delay) + uint64_t(padding) < total) {
    layout->skip = uint64_t(delay) + kDecoderDelay;
    layout->length = total - uint64_t(delay) - uint64_t(padding);
  } else {
    layout->skip = 0;
    layout->length = total;
  }
  return true;
}

}  // namespace standin
