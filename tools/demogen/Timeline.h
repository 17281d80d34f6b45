// The musical grid that the soundtrack and the scene share, so that the scene's
// events (camera cuts, the morph's pulses) land on the music's beats.
//
// The demo maps the music linearly onto demo time 0..10000 (time = position *
// 10000 / length). The piece is a whole number of beats long and the scene has
// kFramesPerBeat animation frames per beat, so beat b starts at demo time
// b * 10000 / beats, which is exactly frame b * kFramesPerBeat.
#ifndef DEMOGEN_TIMELINE_H
#define DEMOGEN_TIMELINE_H

#include <cstdint>

namespace demogen {

constexpr int kSampleRate = 44100;      // Hz, stereo
constexpr int kBeatsPerMinute = 125;
constexpr int kStepsPerBeat = 4;        // sixteenth notes
constexpr int kBeatsPerBar = 4;
constexpr int kSamplesPerStep = 5292;   // 44100 * 60 / (125 * 4), exact
constexpr int kSamplesPerBeat = kSamplesPerStep * kStepsPerBeat;  // 21168
constexpr int kSamplesPerBar = kSamplesPerBeat * kBeatsPerBar;    // 84672
constexpr int kFullBars = 36;           // the default piece: 69.12 s
constexpr int kFramesPerBeat = 13;      // 27.1 animation frames per second
static_assert(kSamplesPerStep * kBeatsPerMinute * kStepsPerBeat == kSampleRate * 60,
              "a sixteenth must be a whole number of samples");

// The length of one piece: everything else derives from the bar count.
struct Timeline {
  int bars = kFullBars;  // 2 .. kFullBars; shorter pieces are the first bars, faded out

  int Beats() const { return bars * kBeatsPerBar; }
  int64_t Samples() const { return int64_t(bars) * kSamplesPerBar; }  // per channel
  double Seconds() const { return double(Samples()) / kSampleRate; }
  // Animation frames of the scene: kFramesPerBeat per beat plus the closing frame.
  uint32_t FrameCount() const { return uint32_t(Beats() * kFramesPerBeat + 1); }
  // The frame at which beat b starts.
  uint32_t FrameOfBeat(int beat) const { return uint32_t(beat * kFramesPerBeat); }
};

// Sections of the arrangement, by bar of the full piece.
enum class Section {
  Intro,      // bars 0-3: pads, then hats
  Groove,     // bars 4-11: drums and bass
  Theme,      // bars 12-19: the lead melody enters
  Breakdown,  // bars 20-23: no kick, arpeggio, snare roll into the drop
  Drop,       // bars 24-31: everything, the lead an octave up
  Outro,      // bars 32-35: pads and a last kick, fading
};

inline Section SectionOfBar(int bar) {
  if (bar < 4) return Section::Intro;
  if (bar < 12) return Section::Groove;
  if (bar < 20) return Section::Theme;
  if (bar < 24) return Section::Breakdown;
  if (bar < 32) return Section::Drop;
  return Section::Outro;
}

}  // namespace demogen

#endif
