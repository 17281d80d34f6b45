// The audio library's version 1 calls on Web Audio, for the web host.
//
// The page decodes each music file of the content with the browser's own
// decoder (decodeAudioData) while it loads, before the demo starts; a stream
// names its file, and the page hands over the decoded buffer's frames,
// channels and rate. Lengths and positions are bytes of 16-bit PCM of that
// buffer (frames x channels x 2), so the demo's time, a position over a
// length, is the fraction of the music heard, as on the desktop.
//
// The position is what is heard now: the audio context's time less its
// output latency, from the moment the stream was started, never going back.
// A page opened with a fixed time (the "time" hook) instead reports, for every
// stream, the position at which the demo's time is that number.
#include <bass.h>
#include <emscripten.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "standin/audio.h"
#include "webhost/web.h"

// clang-format off
// Frames, channels and rate of the decoded file `name`; false when the page
// has none (the file is missing or could not be decoded).
EM_JS(int, web_audio_find, (const char* name, double* frames, int* channels, int* rate), {
  const b = Module.demoPage.audioFind(UTF8ToString(name));
  if (!b) return 0;
  HEAPF64[frames >> 3] = b.length;
  HEAP32[channels >> 2] = b.numberOfChannels;
  HEAP32[rate >> 2] = b.sampleRate;
  return 1;
});
// Starts the decoded file `name` from its beginning (looping or not); returns
// an id for web_audio_heard.
EM_JS(int, web_audio_play, (const char* name, int loop), {
  return Module.demoPage.audioPlay(UTF8ToString(name), loop);
});
// Seconds of stream `id` heard so far (the context's time less its output
// latency, since the start); 0 before anything is heard.
EM_JS(double, web_audio_heard, (int id), { return Module.demoPage.audioHeard(id); });
EM_JS(void, web_audio_stop_all, (), { Module.demoPage.audioStopAll(); });
// clang-format on

namespace standin {
namespace {

constexpr DWORD kError = 0xFFFFFFFFu;
constexpr HSTREAM kFirstHandle = 1;

struct Stream {
  std::string name;
  uint64_t frames = 0;  // of the decoded buffer
  int channels = 2;
  int rate = 44100;     // frames per second of the decoded buffer
  bool loop = false;
  int playing = -1;     // the page's id once played
  uint64_t heard = 0;   // frames, monotonic
};

struct State {
  bool initialized = false;
  int error = kAudioOk;
  std::map<HSTREAM, Stream> streams;
  HSTREAM nextHandle = kFirstHandle;
};

State& state() {
  static State s;
  return s;
}

bool Fail(int code) {
  state().error = code;
  return false;
}

Stream* Find(HSTREAM handle) {
  auto it = state().streams.find(handle);
  return it != state().streams.end() ? &it->second : nullptr;
}

DWORD Bytes(const Stream& st, uint64_t frames) {
  return static_cast<DWORD>(std::min<uint64_t>(frames * static_cast<uint64_t>(st.channels) * 2, kError - 1));
}

// The smallest position (bytes) at which the demo's time, position x 10000 /
// length truncated, is `time`; the length is a float, as the demo keeps it.
DWORD PositionForTime(int time, DWORD length) {
  const float len = static_cast<float>(length);
  const auto timeOf = [&](double p) { return static_cast<int64_t>(p * 10000.0 / static_cast<double>(len)); };
  double p = std::floor(static_cast<double>(time) * static_cast<double>(len) / 10000.0);
  while (p > 0 && timeOf(p - 1) >= time) p -= 1;
  while (timeOf(p) < time) p += 1;
  return static_cast<DWORD>(std::min<double>(p, kError - 1));
}

}  // namespace

int AudioLastError() { return state().error; }

void SetAudioClock(AudioClock) {}  // the page's audio context is the clock

void AudioShutdown() {
  web_audio_stop_all();
  State& s = state();
  s.streams.clear();
  s.initialized = false;
  s.error = kAudioOk;
}

bool AudioFreeStream(uint32_t handle) { return state().streams.erase(handle) > 0; }

bool AudioIsSilent() { return false; }

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD, HWND) {
  State& s = state();
  if (s.initialized) return Fail(kAudioErrorAlready);
  if (device < -2) return Fail(kAudioErrorDevice);
  if (freq != 0 && (freq < 1000 || freq > 192000)) return Fail(kAudioErrorIllParam);
  s.initialized = true;
  s.error = kAudioOk;
  return TRUE;
}

extern "C" HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD, DWORD, DWORD flags) {
  State& s = state();
  if (!s.initialized) return Fail(kAudioErrorInit), 0;
  // The page decodes files; music in memory is not used by the demo.
  if (file == nullptr || mem) return Fail(kAudioErrorIllParam), 0;
  Stream st;
  st.name = static_cast<const char*>(file);
  if (FILE* f = std::fopen(st.name.c_str(), "rb")) {
    std::fclose(f);
  } else {
    OutputDebugStringA((st.name + ": cannot open the music file\n").c_str());
    return Fail(kAudioErrorFileOpen), 0;
  }
  double frames = 0;
  if (!web_audio_find(st.name.c_str(), &frames, &st.channels, &st.rate) || frames <= 0) {
    OutputDebugStringA((st.name + ": not a playable music file\n").c_str());
    return Fail(kAudioErrorFileForm), 0;
  }
  st.frames = static_cast<uint64_t>(frames);
  st.loop = (flags & BASS_SAMPLE_LOOP) != 0;
  const HSTREAM handle = s.nextHandle++;
  s.streams.emplace(handle, st);
  s.error = kAudioOk;
  return handle;
}

extern "C" BOOL WINAPI BASS_Start(void) {
  if (!state().initialized) return Fail(kAudioErrorInit);
  state().error = kAudioOk;
  return TRUE;
}

extern "C" BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL, DWORD flags) {
  if (!state().initialized) return Fail(kAudioErrorInit);
  Stream* st = Find(handle);
  if (st == nullptr) return Fail(kAudioErrorHandle);
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;
  st->playing = web_audio_play(st->name.c_str(), st->loop ? 1 : 0);
  st->heard = 0;
  state().error = kAudioOk;
  return TRUE;
}

extern "C" DWORD WINAPI BASS_StreamGetLength(HSTREAM handle) {
  if (!state().initialized) return Fail(kAudioErrorInit), kError;
  Stream* st = Find(handle);
  if (st == nullptr) return Fail(kAudioErrorHandle), kError;
  state().error = kAudioOk;
  return Bytes(*st, st->frames);
}

extern "C" DWORD WINAPI BASS_ChannelGetPosition(DWORD handle) {
  if (!state().initialized) return Fail(kAudioErrorInit), kError;
  Stream* st = Find(handle);
  if (st == nullptr) return Fail(kAudioErrorHandle), kError;
  state().error = kAudioOk;
  const int fixed = WebHook("time");
  if (fixed >= 0) return PositionForTime(fixed, Bytes(*st, st->frames));
  const int benchFrame = WebBenchFrame();
  if (benchFrame >= 0) {
    // A benchmark steps through the music at 25 frames a second.
    return Bytes(*st, std::min<uint64_t>(static_cast<uint64_t>(benchFrame) * st->rate / 25, st->frames));
  }
  if (st->playing < 0) return 0;
  const double seconds = web_audio_heard(st->playing);
  const uint64_t frames = seconds > 0 ? static_cast<uint64_t>(seconds * st->rate) : 0;
  st->heard = std::max(st->heard, frames);
  return Bytes(*st, st->loop ? st->heard % st->frames : std::min(st->heard, st->frames));
}
