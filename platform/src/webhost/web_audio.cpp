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
#include <memory>
#include <mutex>
#include <string>

#include "audio/StreamClock.h"
#include "audio/StreamTable.h"
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

struct Stream {
  std::string name;
  StreamShape shape;  // of the decoded buffer
  bool loop = false;
  int playing = -1;   // the page's id once played
  uint64_t heard = 0; // frames, monotonic
};

StreamTable<Stream>& table() {
  static StreamTable<Stream> t;
  return t;
}

// The smallest position (bytes) at which the demo's time, position x 10000 /
// length truncated, is `time`; the length is a float, as the demo keeps it.
DWORD PositionForTime(int time, DWORD length) {
  const float len = static_cast<float>(length);
  const auto timeOf = [&](double p) { return static_cast<int64_t>(p * 10000.0 / static_cast<double>(len)); };
  double p = std::floor(static_cast<double>(time) * static_cast<double>(len) / 10000.0);
  while (p > 0 && timeOf(p - 1) >= time) p -= 1;
  while (timeOf(p) < time) p += 1;
  return static_cast<DWORD>(std::min<double>(p, kAudioErrorValue - 1));
}

}  // namespace

int AudioLastError() {
  std::lock_guard<std::mutex> lock(table().mutex);
  return table().error;
}

void SetAudioClock(AudioClock) {}  // the page's audio context is the clock

void AudioShutdown() {
  web_audio_stop_all();
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.streams.clear();
  t.initialized = false;
  t.error = kAudioOk;
}

bool AudioFreeStream(uint32_t handle) {
  std::lock_guard<std::mutex> lock(table().mutex);
  return table().streams.erase(handle) > 0;
}

bool AudioIsSilent() { return false; }

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD, HWND) {
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (int problem = CheckInitArguments(t.initialized, device, &freq)) return t.Fail(problem);
  t.initialized = true;
  t.error = kAudioOk;
  return TRUE;
}

extern "C" HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD, DWORD length, DWORD flags) {
  StreamTable<Stream>& t = table();
  if (!t.CreateArgumentsUsable(mem, file, length)) return 0;
  // The page decodes files; music in memory is not used by the demo.
  if (mem) return t.FailLocked(kAudioErrorIllParam);
  auto st = std::make_unique<Stream>();
  st->name = static_cast<const char*>(file);
  if (FILE* f = std::fopen(st->name.c_str(), "rb")) {
    std::fclose(f);
  } else {
    OutputDebugStringA((st->name + ": cannot open the music file\n").c_str());
    return t.FailLocked(kAudioErrorFileOpen);
  }
  double frames = 0;
  int rate = 0;
  if (!web_audio_find(st->name.c_str(), &frames, &st->shape.channels, &rate) || frames <= 0) {
    OutputDebugStringA((st->name + ": not a playable music file\n").c_str());
    return t.FailLocked(kAudioErrorFileForm);
  }
  st->shape.rate = rate;
  st->shape.frames = static_cast<uint64_t>(frames);
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!t.initialized) return t.Fail(kAudioErrorInit), 0;
  return t.Add(std::move(st));
}

extern "C" BOOL WINAPI BASS_Start(void) {
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!t.initialized) return t.Fail(kAudioErrorInit);
  t.error = kAudioOk;
  return TRUE;
}

extern "C" BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL, DWORD flags) {
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Stream* st = t.Lookup(handle);
  if (st == nullptr) return FALSE;
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;
  st->playing = web_audio_play(st->name.c_str(), st->loop ? 1 : 0);
  st->heard = 0;
  return TRUE;
}

extern "C" DWORD WINAPI BASS_StreamGetLength(HSTREAM handle) {
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Stream* st = t.Lookup(handle);
  if (st == nullptr) return kAudioErrorValue;
  return StreamBytes(st->shape, st->shape.frames);  // never the error value
}

extern "C" DWORD WINAPI BASS_ChannelGetPosition(DWORD handle) {
  StreamTable<Stream>& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Stream* st = t.Lookup(handle);
  if (st == nullptr) return kAudioErrorValue;
  const int fixed = WebHook("time");
  if (fixed >= 0) return PositionForTime(fixed, StreamBytes(st->shape, st->shape.frames));
  const int benchFrame = WebBenchFrame();
  if (benchFrame >= 0) {
    // The benchmark's frame (bench/web_frames.cpp), at 25 frames a second.
    const uint64_t frames = static_cast<uint64_t>(benchFrame) * static_cast<uint64_t>(st->shape.rate) / 25;
    return StreamBytes(st->shape, std::min(frames, st->shape.frames));
  }
  if (st->playing < 0) return 0;
  // Heard at the buffer's own rate: the output runs at the stream's rate.
  const double seconds = web_audio_heard(st->playing);
  st->heard = std::max(st->heard, seconds > 0 ? static_cast<uint64_t>(seconds * st->shape.rate) : 0);
  return StreamPosition(st->shape, st->heard, 0, static_cast<int>(st->shape.rate), st->loop);
}
