// The soundtrack synthesizer. Each note is rendered on its own into one of
// three stereo buses (drums, music, lead echo send) and summed; the music bus
// ducks under the kick, the lead feeds a ping-pong echo, and a soft clipper
// turns the sum into 16-bit samples. All arithmetic is in float with fixed
// seeds, so the output is the same on every run of the same build.
#include "Soundtrack.h"

#include <algorithm>
#include <cmath>

#include "Random.h"

namespace demogen {
namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 2.0f * kPi;
constexpr float kRate = float(kSampleRate);

float MidiToHz(float note) { return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f); }

// A stereo buffer of the whole piece.
struct Bus {
  std::vector<float> left, right;
  explicit Bus(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
  int64_t Size() const { return int64_t(left.size()); }
};

// Equal-power pan gains for pan in -1 (left) .. 1 (right).
struct Pan {
  float left, right;
  explicit Pan(float pan) {
    float a = (pan + 1.0f) * kPi * 0.25f;
    left = std::cos(a);
    right = std::sin(a);
  }
};

// Topology-preserving state-variable filter (trapezoidal integration): stable
// under fast cutoff sweeps, which the bass and the plucks use.
struct Svf {
  float ic1 = 0.0f, ic2 = 0.0f;
  float low = 0.0f, band = 0.0f, high = 0.0f;
  // cutoff in Hz (clamped below Nyquist), damping k = 1 / Q.
  void Run(float x, float cutoff, float k) {
    float fc = std::min(cutoff, kRate * 0.45f);
    float g = std::tan(kPi * fc / kRate);
    float a1 = 1.0f / (1.0f + g * (g + k));
    float a2 = g * a1;
    float a3 = g * a2;
    float v3 = x - ic2;
    float v1 = a1 * ic1 + a2 * v3;
    float v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0f * v1 - ic1;
    ic2 = 2.0f * v2 - ic2;
    low = v2;
    band = v1;
    high = x - k * v1 - v2;
  }
};

// Band-limited step correction for a phase t in [0, 1) advancing dt per sample.
float PolyBlep(float t, float dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0f;
  }
  if (t > 1.0f - dt) {
    t = (t - 1.0f) / dt;
    return t * t + t + t + 1.0f;
  }
  return 0.0f;
}

// A band-limited sawtooth oscillator, -1..1.
struct Saw {
  float phase = 0.0f;
  float Next(float hz) {
    float dt = hz / kRate;
    float v = 2.0f * phase - 1.0f - PolyBlep(phase, dt);
    phase += dt;
    if (phase >= 1.0f) phase -= 1.0f;
    return v;
  }
};

// A band-limited pulse oscillator of the given duty cycle, -1..1.
struct Pulse {
  float phase = 0.0f;
  float Next(float hz, float duty) {
    float dt = hz / kRate;
    float v = phase < duty ? 1.0f : -1.0f;
    v += PolyBlep(phase, dt);
    float shifted = phase + (1.0f - duty);
    if (shifted >= 1.0f) shifted -= 1.0f;
    v -= PolyBlep(shifted, dt);
    phase += dt;
    if (phase >= 1.0f) phase -= 1.0f;
    return v;
  }
};

// Linear attack, sustain, linear release after `gate` samples.
float Envelope(int64_t i, int64_t attack, int64_t gate, int64_t release) {
  if (i < attack) return float(i) / float(attack);
  if (i < gate) return 1.0f;
  if (i < gate + release) return 1.0f - float(i - gate) / float(release);
  return 0.0f;
}

class Synth {
 public:
  explicit Synth(const Timeline& timeline)
      : timeline_(timeline),
        drums_(size_t(timeline.Samples())),
        music_(size_t(timeline.Samples())),
        send_(size_t(timeline.Samples())),
        duck_(size_t(timeline.Samples()), 1.0f),
        random_(0x5EED0F50u) {}

  std::vector<int16_t> Render();

 private:
  void Kick(int64_t start, float velocity);
  void Snare(int64_t start, float velocity);
  void Hat(int64_t start, float velocity, bool open, float pan);
  void Bass(int64_t start, int64_t length, int note, float velocity);
  void Pad(int64_t start, int64_t length, const int* notes, float velocity);
  void Pluck(int64_t start, int note, float velocity, float pan);
  void Lead(int64_t start, int64_t length, int note, float velocity);
  void Bar(int bar);
  std::vector<int16_t> Master();

  Timeline timeline_;
  Bus drums_, music_, send_;
  std::vector<float> duck_;  // gain of the music bus, dipping after each kick
  Random random_;
};

void Synth::Kick(int64_t start, float velocity) {
  int64_t length = int64_t(0.45f * kRate);
  float phase = 0.0f;
  for (int64_t i = 0; i < length && start + i < drums_.Size(); ++i) {
    float t = float(i) / kRate;
    float hz = 48.0f + 115.0f * std::exp(-t * 32.0f);
    phase += kTwoPi * hz / kRate;
    float body = std::sin(phase) * std::exp(-t * 6.5f);
    float click = std::exp(-t * 350.0f) * 0.35f;
    float v = std::tanh((body + click) * 1.6f) * velocity * 0.85f;
    drums_.left[size_t(start + i)] += v;
    drums_.right[size_t(start + i)] += v;
  }
  // Side-chain: the music bus dips by up to 55 % and recovers in ~0.3 s.
  for (int64_t i = 0; i < int64_t(0.3f * kRate) && start + i < drums_.Size(); ++i) {
    float g = 1.0f - 0.55f * velocity * std::exp(-float(i) / kRate * 10.0f);
    float& d = duck_[size_t(start + i)];
    d = std::min(d, g);
  }
}

void Synth::Snare(int64_t start, float velocity) {
  int64_t length = int64_t(0.3f * kRate);
  Svf band;
  float phase = 0.0f;
  Pan pan(0.08f);
  for (int64_t i = 0; i < length && start + i < drums_.Size(); ++i) {
    float t = float(i) / kRate;
    phase += kTwoPi * (175.0f + 60.0f * std::exp(-t * 40.0f)) / kRate;
    float tone = std::sin(phase) * std::exp(-t * 28.0f) * 0.55f;
    band.Run(random_.Signed(), 2200.0f, 0.9f);
    float noise = (band.band * 1.4f) * std::exp(-t * 15.0f);
    float v = (tone + noise) * velocity * 0.5f;
    drums_.left[size_t(start + i)] += v * pan.left;
    drums_.right[size_t(start + i)] += v * pan.right;
  }
}

void Synth::Hat(int64_t start, float velocity, bool open, float panValue) {
  float decay = open ? 11.0f : 60.0f;
  int64_t length = int64_t((open ? 0.4f : 0.08f) * kRate);
  Svf high;
  Pan pan(panValue);
  for (int64_t i = 0; i < length && start + i < drums_.Size(); ++i) {
    float t = float(i) / kRate;
    high.Run(random_.Signed(), 7500.0f, 1.2f);
    float v = high.high * std::exp(-t * decay) * velocity * 0.16f;
    drums_.left[size_t(start + i)] += v * pan.left;
    drums_.right[size_t(start + i)] += v * pan.right;
  }
}

void Synth::Bass(int64_t start, int64_t length, int note, float velocity) {
  int64_t release = int64_t(0.02f * kRate);
  float hz = MidiToHz(float(note));
  Saw saw;
  float sub = 0.0f;
  Svf filter;
  for (int64_t i = 0; i < length + release && start + i < music_.Size(); ++i) {
    float t = float(i) / kRate;
    sub += kTwoPi * hz * 0.5f / kRate;
    float raw = saw.Next(hz) * 0.7f + std::sin(sub) * 0.6f;
    filter.Run(raw, 160.0f + 1500.0f * velocity * std::exp(-t * 13.0f), 0.55f);
    float v = filter.low * Envelope(i, 120, length, release) * velocity * 0.42f;
    music_.left[size_t(start + i)] += v;
    music_.right[size_t(start + i)] += v;
  }
}

void Synth::Pad(int64_t start, int64_t length, const int* notes, float velocity) {
  static const float kDetune[3] = {-0.11f, 0.0f, 0.12f};  // semitones
  int64_t attack = int64_t(0.35f * kRate);
  int64_t release = int64_t(0.7f * kRate);
  for (int n = 0; n < 3; ++n) {
    Saw left[3], right[3];
    Svf filterLeft, filterRight;
    float hzLeft[3], hzRight[3];
    for (int d = 0; d < 3; ++d) {
      hzLeft[d] = MidiToHz(float(notes[n]) + kDetune[d]);
      hzRight[d] = MidiToHz(float(notes[n]) - kDetune[d] * 0.8f);
      left[d].phase = random_.Unit();
      right[d].phase = random_.Unit();
    }
    for (int64_t i = 0; i < length + release && start + i < music_.Size(); ++i) {
      float t = float(start + i) / kRate;
      float cutoff = 1100.0f + 450.0f * std::sin(t * 0.7f);
      float l = 0.0f, r = 0.0f;
      for (int d = 0; d < 3; ++d) {
        l += left[d].Next(hzLeft[d]);
        r += right[d].Next(hzRight[d]);
      }
      filterLeft.Run(l, cutoff, 1.1f);
      filterRight.Run(r, cutoff, 1.1f);
      float e = Envelope(i, attack, length, release) * velocity * 0.055f;
      music_.left[size_t(start + i)] += filterLeft.low * e;
      music_.right[size_t(start + i)] += filterRight.low * e;
    }
  }
}

void Synth::Pluck(int64_t start, int note, float velocity, float panValue) {
  int64_t length = int64_t(0.3f * kRate);
  float hz = MidiToHz(float(note));
  Saw saw;
  Svf filter;
  Pan pan(panValue);
  for (int64_t i = 0; i < length && start + i < music_.Size(); ++i) {
    float t = float(i) / kRate;
    filter.Run(saw.Next(hz), 500.0f + 4500.0f * std::exp(-t * 22.0f), 0.8f);
    float v = filter.low * std::exp(-t * 9.0f) * Envelope(i, 40, length, 1) * velocity * 0.16f;
    music_.left[size_t(start + i)] += v * pan.left;
    music_.right[size_t(start + i)] += v * pan.right;
    send_.left[size_t(start + i)] += v * pan.left * 0.3f;
    send_.right[size_t(start + i)] += v * pan.right * 0.3f;
  }
}

void Synth::Lead(int64_t start, int64_t length, int note, float velocity) {
  int64_t release = int64_t(0.09f * kRate);
  float hz = MidiToHz(float(note));
  Pulse pulse;
  Saw saw;
  Svf filter;
  for (int64_t i = 0; i < length + release && start + i < music_.Size(); ++i) {
    float t = float(i) / kRate;
    float vibrato = t > 0.15f ? 0.12f * std::sin(kTwoPi * 5.5f * (t - 0.15f)) : 0.0f;
    float f = hz * std::pow(2.0f, vibrato / 12.0f);
    float raw = pulse.Next(f, 0.38f) * 0.6f + saw.Next(f * 1.004f) * 0.4f;
    filter.Run(raw, 1800.0f + 2600.0f * std::exp(-t * 6.0f), 0.9f);
    float v = filter.low * Envelope(i, 300, length, release) * velocity * 0.2f;
    music_.left[size_t(start + i)] += v;
    music_.right[size_t(start + i)] += v;
    send_.left[size_t(start + i)] += v * 0.7f;
    send_.right[size_t(start + i)] += v * 0.7f;
  }
}

// The harmony: Am, F, C, G, one chord per bar.
const int kChords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
const int kRoots[4] = {45, 41, 48, 43};
const int kArpNotes[4][4] = {{69, 72, 76, 81}, {65, 69, 72, 77}, {67, 72, 76, 79}, {67, 71, 74, 79}};
const int kArpOrder[8] = {0, 1, 2, 3, 1, 2, 3, 2};

// The melody: eight bars, as (sixteenth within the bar, length in sixteenths,
// note) triples; a zero length ends a bar.
struct Note {
  int step, length, note;
};
const Note kMelody[8][8] = {
    {{0, 3, 76}, {4, 2, 72}, {6, 2, 74}, {8, 4, 76}, {12, 2, 81}, {14, 2, 79}, {0, 0, 0}},
    {{0, 6, 77}, {6, 2, 76}, {8, 4, 72}, {12, 4, 69}, {0, 0, 0}},
    {{0, 3, 72}, {4, 2, 76}, {6, 2, 79}, {8, 6, 84}, {14, 2, 83}, {0, 0, 0}},
    {{0, 4, 79}, {4, 4, 74}, {8, 8, 71}, {0, 0, 0}},
    {{0, 2, 81}, {2, 2, 79}, {4, 2, 76}, {6, 2, 72}, {8, 4, 74}, {12, 4, 76}, {0, 0, 0}},
    {{0, 4, 77}, {4, 2, 81}, {6, 2, 77}, {8, 8, 72}, {0, 0, 0}},
    {{0, 2, 76}, {2, 2, 79}, {4, 4, 84}, {8, 2, 83}, {10, 2, 79}, {12, 4, 76}, {0, 0, 0}},
    {{0, 6, 74}, {6, 2, 71}, {8, 8, 69}, {0, 0, 0}},
};

void Synth::Bar(int bar) {
  const int chord = bar % 4;
  const Section section = SectionOfBar(bar);
  const int64_t barStart = int64_t(bar) * kSamplesPerBar;
  auto at = [&](int step) { return barStart + int64_t(step) * kSamplesPerStep; };
  const bool drums = section == Section::Groove || section == Section::Theme || section == Section::Drop;

  // Kick on every beat; two last bars of it in the outro.
  if (drums || (section == Section::Outro && bar < 34))
    for (int step = 0; step < 16; step += 4) Kick(at(step), section == Section::Outro ? 0.8f : 1.0f);

  // Snare on 2 and 4; a rising sixteenth roll in the last bar of the breakdown.
  if (drums) {
    Snare(at(4), 0.9f + 0.1f * random_.Unit());
    Snare(at(12), 0.9f + 0.1f * random_.Unit());
    if (section == Section::Drop && bar % 4 == 3) Snare(at(15), 0.5f);
  } else if (section == Section::Breakdown && bar == 23) {
    for (int step = 0; step < 16; ++step) Snare(at(step), 0.2f + 0.8f * float(step) / 15.0f);
  } else if (section == Section::Breakdown && bar == 22) {
    for (int step = 8; step < 16; step += 2) Snare(at(step), 0.15f + 0.2f * float(step - 8) / 8.0f);
  }

  // Hats.
  for (int step = 0; step < 16; ++step) {
    float humanize = 0.85f + 0.15f * random_.Unit();
    float pan = (step % 2 == 0) ? -0.35f : 0.35f;
    if (section == Section::Intro && bar >= 2 && step % 4 == 2) Hat(at(step), 0.6f * humanize, false, pan);
    if (section == Section::Groove) {
      if (step % 4 == 2) Hat(at(step), 0.9f * humanize, true, 0.2f);
      else if (step % 2 == 0) Hat(at(step), 0.5f * humanize, false, pan);
    }
    if (section == Section::Theme || section == Section::Drop) {
      if (step % 4 == 2) Hat(at(step), 0.85f * humanize, true, 0.2f);
      else Hat(at(step), (step % 2 == 0 ? 0.65f : 0.35f) * humanize, false, pan);
    }
    if (section == Section::Breakdown && step % 2 == 0) Hat(at(step), 0.3f * humanize, false, pan);
    if (section == Section::Outro && bar < 34 && step % 4 == 2) Hat(at(step), 0.5f * humanize, true, 0.2f);
  }

  // Bass: eighths on the root, the octave on the off-beats of beats 2 and 4.
  if (drums) {
    for (int step = 0; step < 16; step += 2) {
      int note = kRoots[chord] + ((step == 6 || step == 14) ? 12 : 0);
      Bass(at(step), kSamplesPerStep * 2 - 400, note, section == Section::Drop ? 1.0f : 0.85f);
    }
  } else if (section == Section::Breakdown || (section == Section::Outro && bar < 35)) {
    Bass(at(0), kSamplesPerBar - 800, kRoots[chord], 0.5f);
  }

  // Pads hold the chord for the bar; the last bar holds the tonic and fades.
  float padLevel = 0.6f;
  if (section == Section::Intro || section == Section::Breakdown) padLevel = 1.0f;
  if (section == Section::Outro) padLevel = 0.9f;
  Pad(barStart, kSamplesPerBar - 2000, kChords[chord], padLevel * (bar == 0 ? 0.7f : 1.0f));

  // Arpeggio of plucks in the breakdown and the drop.
  if (section == Section::Breakdown || section == Section::Drop || (section == Section::Theme && bar >= 16)) {
    float level = section == Section::Theme ? 0.6f : 1.0f;
    for (int step = 0; step < 16; ++step) {
      int note = kArpNotes[chord][kArpOrder[step % 8]] + (step >= 8 && section == Section::Drop ? 12 : 0);
      Pluck(at(step), note, level * (step % 4 == 0 ? 1.0f : 0.7f), (step % 2) ? 0.4f : -0.4f);
    }
  }

  // The lead plays the eight-bar melody in the theme and the drop.
  if (section == Section::Theme || section == Section::Drop) {
    const int phraseBar = (bar - (section == Section::Theme ? 12 : 24)) % 8;
    for (const Note& n : kMelody[phraseBar]) {
      if (n.length == 0) break;
      int64_t length = int64_t(n.length) * kSamplesPerStep - 600;
      Lead(at(n.step), length, n.note, section == Section::Drop ? 1.0f : 0.85f);
      if (section == Section::Drop) Lead(at(n.step), length, n.note - 12, 0.45f);
    }
  }
}

std::vector<int16_t> Synth::Master() {
  const int64_t frames = drums_.Size();
  // Ping-pong echo of the send bus: three sixteenths, each repeat on the other side.
  const int64_t delay = 3 * kSamplesPerStep;
  std::vector<float> echoLeft(size_t(frames), 0.0f), echoRight(size_t(frames), 0.0f);
  for (int64_t i = 0; i < frames; ++i) {
    if (i >= delay) {
      echoLeft[size_t(i)] = send_.right[size_t(i - delay)] + 0.4f * echoRight[size_t(i - delay)];
      echoRight[size_t(i)] = send_.left[size_t(i - delay)] * 0.6f + 0.4f * echoLeft[size_t(i - delay)];
    }
  }
  const int64_t fadeIn = 256;
  const int64_t fadeOut = std::min<int64_t>(frames / 2, int64_t(timeline_.bars >= 8 ? 2 : 1) * kSamplesPerBar);
  std::vector<int16_t> pcm(size_t(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    float gain = 1.0f;
    if (i < fadeIn) gain = float(i) / float(fadeIn);
    if (i >= frames - fadeOut) {
      float f = float(frames - i) / float(fadeOut);
      gain *= f * f;
    }
    float duck = duck_[size_t(i)];
    float l = drums_.left[size_t(i)] + duck * (music_.left[size_t(i)] + 0.35f * echoLeft[size_t(i)]);
    float r = drums_.right[size_t(i)] + duck * (music_.right[size_t(i)] + 0.35f * echoRight[size_t(i)]);
    // Soft clip: transparent at low levels, never above full scale.
    l = std::tanh(l * 0.9f) * gain;
    r = std::tanh(r * 0.9f) * gain;
    pcm[size_t(i) * 2] = int16_t(std::lrint(l * 32000.0f));
    pcm[size_t(i) * 2 + 1] = int16_t(std::lrint(r * 32000.0f));
  }
  return pcm;
}

std::vector<int16_t> Synth::Render() {
  for (int bar = 0; bar < timeline_.bars; ++bar) Bar(bar);
  return Master();
}

}  // namespace

std::vector<int16_t> SynthesizeSoundtrack(const Timeline& timeline) {
  Synth synth(timeline);
  return synth.Render();
}

}  // namespace demogen
