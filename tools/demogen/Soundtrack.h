// The default soundtrack: a procedural electronic piece in A minor at 125 beats
// per minute (kick, snare, hats, bass, pads, arpeggio and a lead melody), and
// its MP3 encoding.
#ifndef DEMOGEN_SOUNDTRACK_H
#define DEMOGEN_SOUNDTRACK_H

#include <cstdint>
#include <string>
#include <vector>

#include "Timeline.h"

namespace demogen {

// Renders the piece: timeline.Samples() frames of interleaved 16-bit stereo
// PCM (left, right) at kSampleRate. Deterministic: same samples on every run.
std::vector<int16_t> SynthesizeSoundtrack(const Timeline& timeline);

// Encodes interleaved 16-bit stereo PCM at kSampleRate to a constant-bitrate
// MP3 (160 kbit/s) with the encoder's gapless header, which records the
// encoder delay and padding, so that a gapless decoder gives back exactly
// pcm.size() / 2 sample frames. No ID3 tags, nothing time-dependent: the same
// PCM gives the same bytes. Returns false with a message in *error.
bool EncodeMp3(const std::vector<int16_t>& pcm, std::vector<uint8_t>* mp3, std::string* error);

}  // namespace demogen

#endif
