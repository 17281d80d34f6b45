// The audio library's version 1 calls, on libmpg123 and SDL2 audio.
//
// Units: a frame is one sample per channel. Stream lengths and positions are
// bytes of the stream's own 16-bit PCM (frames x channels x 2). The output runs
// at the BASS_Init rate, 16-bit stereo.
//
// Output: an SDL audio device whose callback decodes and mixes the playing
// streams, or, with no sound device, a silent output that is only a clock.
// Either way the output counts device frames heard since BASS_Init:
//   SDL:    frames handed to the device at the last callback, less that
//           callback's buffer and a latency estimate, plus the time since that
//           callback; never more than was handed, never going back.
//   silent: elapsed clock time x rate.
// A stream started at device frame S has been heard for
//   floor((heard - S) x stream rate / output rate) of its frames,
// modulo its length when it loops, else at most its length.
//
// Threads: the SDL callback runs on SDL's audio thread; everything else on the
// caller's. One mutex guards the state shared between them.
#include <bass.h>
#include <windows.h>
#include <fcntl.h>
#include <mpg123.h>
#include <unistd.h>

#include <SDL.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/StreamClock.h"
#include "audio/StreamTable.h"
#include "standin/audio.h"

namespace standin {
namespace {

// Why a stream cannot be created goes to the debug channel: the audio library
// only returns an error code, and the program that asked reports the problem
// to the user in its own words.
void StreamProblem(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  OutputDebugStringA(text);
}

constexpr DWORD kError = kAudioErrorValue;
constexpr int kOutputChannels = 2;
constexpr Uint16 kCallbackFrames = 1024;  // device buffer asked for, frames
constexpr int kDecodeChunkFrames = 1152;  // one MPEG layer 3 frame

int64_t RealClock() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// Bytes of the file (or memory) that the decoder reads: [begin, begin + size).
struct Source {
  int fd = -1;
  const uint8_t* memory = nullptr;
  off_t begin = 0;
  off_t size = 0;
  off_t pos = 0;  // relative to begin
};

ssize_t SourceRead(void* handle, void* buffer, size_t bytes) {
  auto* s = static_cast<Source*>(handle);
  off_t left = s->size - s->pos;
  if (left <= 0) return 0;
  size_t n = std::min(bytes, static_cast<size_t>(left));
  if (s->memory != nullptr) {
    std::memcpy(buffer, s->memory + s->begin + s->pos, n);
  } else {
    ssize_t got;
    do {
      got = ::pread(s->fd, buffer, n, s->begin + s->pos);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    n = static_cast<size_t>(got);
  }
  s->pos += static_cast<off_t>(n);
  return static_cast<ssize_t>(n);
}

off_t SourceSeek(void* handle, off_t offset, int whence) {
  auto* s = static_cast<Source*>(handle);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->pos : s->size;
  off_t target = base + offset;
  if (target < 0 || target > s->size) return -1;
  s->pos = target;
  return target;
}

struct Stream {
  HSTREAM handle = 0;
  std::string name;  // file name, for messages
  mpg123_handle* decoder = nullptr;
  Source source;
  long rate = 0;       // frames per second
  int channels = 0;    // 1 or 2
  uint64_t frames = 0;  // decoded length
  // Playback; guarded by the state mutex.
  bool playing = false;
  bool loop = false;
  uint64_t startFrame = 0;  // device frame at which the stream began
  bool ended = false;       // decoder reached the end and does not loop
  bool reportedError = false;
  SDL_AudioStream* converter = nullptr;  // when the format differs from the device's
  std::vector<int16_t> decoded;          // scratch for one decode chunk

  StreamShape Shape() const { return {rate, channels, frames}; }

  ~Stream() {
    if (converter != nullptr) SDL_FreeAudioStream(converter);
    if (decoder != nullptr) mpg123_delete(decoder);
    if (source.fd >= 0) ::close(source.fd);
  }
};

struct State : StreamTable<Stream> {
  bool sdlAudio = false;  // SDL's audio subsystem is ours to quit
  SDL_AudioDeviceID device = 0;  // 0: silent output
  int rate = 44100;              // output frames per second
  AudioClock clock = RealClock;
  int64_t silentStart = 0;       // clock at BASS_Init, silent output
  uint64_t handed = 0;           // frames handed to the device
  int64_t lastCallback = 0;      // clock at the last callback
  uint64_t lastBuffer = 0;       // frames of the last callback
  uint64_t latency = 0;          // frames assumed queued beyond the callback buffer
  uint64_t lastHeard = 0;        // keeps the heard count monotonic
  std::vector<int32_t> mix;      // callback scratch, samples
  std::vector<int16_t> part;     // callback scratch, samples
};

State& state() {
  static State s;
  return s;
}

// Device frames heard so far. Caller holds the mutex.
uint64_t HeardFrames(State& s) {
  const int64_t now = s.clock();
  uint64_t heard;
  if (s.device == 0) {
    heard = SilentFrames(s.silentStart, now, s.rate);
  } else {
    if (s.handed == 0) return s.lastHeard;
    uint64_t ceiling = s.handed > s.latency ? s.handed - s.latency : 0;
    uint64_t base = s.handed > s.lastBuffer + s.latency ? s.handed - s.lastBuffer - s.latency : 0;
    int64_t since = std::max<int64_t>(now - s.lastCallback, 0);
    uint64_t advance = SilentFrames(0, since, s.rate);
    heard = std::min(base + advance, ceiling);
  }
  s.lastHeard = std::max(s.lastHeard, heard);
  return s.lastHeard;
}

// Reads up to `frames` frames of the stream's own PCM into `out`; at the end a
// looping stream starts over, any other stream ends. Returns frames read.
size_t Decode(Stream& st, int16_t* out, size_t frames) {
  const size_t frameBytes = static_cast<size_t>(st.channels) * 2;
  size_t got = 0;
  bool restarted = false;
  size_t gotAtRestart = 0;
  while (got < frames && !st.ended) {
    size_t done = 0;
    int rc = mpg123_read(st.decoder, reinterpret_cast<unsigned char*>(out) + got * frameBytes,
                         (frames - got) * frameBytes, &done);
    got += done / frameBytes;
    if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
      if (done == 0 && rc == MPG123_OK) rc = MPG123_DONE;  // no progress: treat as the end
      else continue;
    }
    if (rc != MPG123_DONE && !st.reportedError) {
      std::fprintf(stderr, "%s: decoding stopped: %s\n", st.name.c_str(),
                   mpg123_strerror(st.decoder));
      st.reportedError = true;
    }
    // Start over only when the last pass gave samples, so a stream that
    // yields none cannot spin here.
    if (st.loop && rc == MPG123_DONE && !(restarted && got == gotAtRestart) &&
        mpg123_seek(st.decoder, 0, SEEK_SET) >= 0) {
      restarted = true;
      gotAtRestart = got;
      continue;
    }
    st.ended = true;
  }
  return got;
}

// Adds `frames` device frames of the stream to the mix. Caller holds the mutex.
void MixStream(State& s, Stream& st, int32_t* mix, size_t frames) {
  std::vector<int16_t>& part = s.part;
  const size_t samples = frames * kOutputChannels;
  if (part.size() < samples) part.resize(samples);
  size_t got;
  if (st.converter == nullptr) {
    got = Decode(st, part.data(), frames);
  } else {
    const int wanted = static_cast<int>(samples * sizeof(int16_t));
    const size_t chunkSamples = static_cast<size_t>(kDecodeChunkFrames) * st.channels;
    if (st.decoded.size() < chunkSamples) st.decoded.resize(chunkSamples);
    while (SDL_AudioStreamAvailable(st.converter) < wanted && !st.ended) {
      size_t n = Decode(st, st.decoded.data(), kDecodeChunkFrames);
      if (n > 0) {
        SDL_AudioStreamPut(st.converter, st.decoded.data(),
                           static_cast<int>(n * st.channels * sizeof(int16_t)));
      }
      if (st.ended) SDL_AudioStreamFlush(st.converter);
    }
    int bytes = SDL_AudioStreamGet(st.converter, part.data(), wanted);
    got = bytes > 0 ? static_cast<size_t>(bytes) / (kOutputChannels * sizeof(int16_t)) : 0;
  }
  for (size_t i = 0; i < got * kOutputChannels; ++i) mix[i] += part[i];
}

void Callback(void*, Uint8* out, int length) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const size_t frames = static_cast<size_t>(length) / (kOutputChannels * sizeof(int16_t));
  if (s.mix.size() < frames * kOutputChannels) s.mix.resize(frames * kOutputChannels);
  std::fill(s.mix.begin(), s.mix.begin() + static_cast<ptrdiff_t>(frames * kOutputChannels), 0);
  for (auto& entry : s.streams) {
    Stream& st = *entry.second;
    bool pending = st.converter != nullptr && SDL_AudioStreamAvailable(st.converter) > 0;
    if (st.playing && (!st.ended || pending)) MixStream(s, st, s.mix.data(), frames);
  }
  auto* pcm = reinterpret_cast<int16_t*>(out);
  for (size_t i = 0; i < frames * kOutputChannels; ++i)
    pcm[i] = static_cast<int16_t>(std::clamp<int32_t>(s.mix[i], -32768, 32767));
  std::memset(out + frames * kOutputChannels * sizeof(int16_t), 0,
              static_cast<size_t>(length) - frames * kOutputChannels * sizeof(int16_t));
  s.handed += frames;
  s.lastBuffer = frames;
  s.lastCallback = s.clock();
}

// Opens the SDL device for `device` (-1 or 0 the default, n > 0 the n-th) at
// `rate`. Returns 0 when there is no usable device; *noSuchDevice tells a
// device index out of range apart. *latency: frames assumed queued beyond the
// callback's buffer. *sdlAudio: the audio subsystem was started.
SDL_AudioDeviceID OpenDevice(int device, int rate, bool* noSuchDevice, uint64_t* latency,
                             bool* sdlAudio) {
  *noSuchDevice = false;
  *sdlAudio = false;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
  *sdlAudio = true;
  const char* name = nullptr;
  if (device > 0) {
    if (device >= SDL_GetNumAudioDevices(0)) {
      *noSuchDevice = true;
      return 0;
    }
    name = SDL_GetAudioDeviceName(device, 0);
  }
  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = kOutputChannels;
  want.samples = kCallbackFrames;
  want.callback = Callback;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts to the hardware's format itself, so the
  // callback always produces the format above.
  SDL_AudioDeviceID id = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
  if (id == 0) return 0;
  const char* driver = SDL_GetCurrentAudioDriver();
  bool virtualDriver = driver != nullptr &&
                       (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
  // A real device has about one more buffer queued in the driver and hardware.
  *latency = virtualDriver ? 0 : have.samples;
  return id;
}

void ShutdownLocked(State& s, std::unique_lock<std::mutex>& lock) {
  SDL_AudioDeviceID device = s.device;
  bool sdlAudio = s.sdlAudio;
  s.device = 0;
  s.sdlAudio = false;
  lock.unlock();
  // Closing waits for a running callback, which takes the mutex.
  if (device != 0) SDL_CloseAudioDevice(device);
  if (sdlAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  lock.lock();
  s.streams.clear();
  s.initialized = false;
  s.handed = s.lastBuffer = s.latency = s.lastHeard = 0;
  s.lastCallback = s.silentStart = 0;
}

}  // namespace

int AudioLastError() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.error;
}

void SetAudioClock(AudioClock clock) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.clock = clock != nullptr ? clock : RealClock;
}

void AudioShutdown() {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  ShutdownLocked(s, lock);
  s.error = kAudioOk;
}

bool AudioFreeStream(uint32_t handle) {
  State& s = state();
  // The callback mixes under the same lock, so the stream is never freed under it.
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.streams.erase(handle) > 0;
}

bool AudioIsSilent() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.initialized && s.device == 0;
}

}  // namespace standin

using namespace standin;

extern "C" BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD, HWND) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (int problem = CheckInitArguments(s.initialized, device, &freq)) return s.Fail(problem);
  s.rate = static_cast<int>(freq);
  s.handed = s.lastBuffer = s.latency = s.lastHeard = 0;
  s.silentStart = s.clock();
  s.lastCallback = s.silentStart;
  if (device != -2) {
    // Devices open paused: no callback runs before the state below is set.
    bool noSuchDevice = false, sdlAudio = false;
    uint64_t latency = 0;
    SDL_AudioDeviceID id = OpenDevice(device, s.rate, &noSuchDevice, &latency, &sdlAudio);
    if (noSuchDevice) {
      if (sdlAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return s.Fail(kAudioErrorDevice);
    }
    s.sdlAudio = sdlAudio;
    s.latency = latency;
    s.device = id;
    if (id == 0) {
      std::fprintf(stderr, "audio: no sound device (%s); the music plays silently\n",
                   SDL_GetError());
    }
  }
  s.initialized = true;
  // The device is still paused, so no callback holds its lock now.
  if (s.device != 0) SDL_PauseAudioDevice(s.device, 0);
  s.error = kAudioOk;
  return TRUE;
}

extern "C" HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset,
                                                DWORD length, DWORD flags) {
  State& s = state();
  if (!s.CreateArgumentsUsable(mem, file, length)) return 0;
  auto fail = [&](int code) -> HSTREAM { return s.FailLocked(code); };
  auto st = std::make_unique<Stream>();
  st->name = mem ? "music in memory" : static_cast<const char*>(file);

  if (mem) {
    st->source.memory = static_cast<const uint8_t*>(file);
    st->source.begin = offset;
    st->source.size = length;
  } else {
    st->source.fd = ::open(st->name.c_str(), O_RDONLY | O_CLOEXEC);
    if (st->source.fd < 0) {
      StreamProblem("%s: cannot open the music file: %s\n", st->name.c_str(),
                   std::strerror(errno));
      return fail(kAudioErrorFileOpen);
    }
    off_t size = ::lseek(st->source.fd, 0, SEEK_END);
    if (size < 0 || static_cast<off_t>(offset) > size) {
      StreamProblem("%s: cannot read the music file from byte %u\n", st->name.c_str(),
                   static_cast<unsigned>(offset));
      return fail(kAudioErrorFileOpen);
    }
    st->source.begin = offset;
    st->source.size = size - static_cast<off_t>(offset);
    if (length != 0) st->source.size = std::min<off_t>(st->source.size, length);
  }

  int err = MPG123_OK;
  st->decoder = mpg123_new(nullptr, &err);
  if (st->decoder == nullptr) return fail(kAudioErrorMem);
  mpg123_param(st->decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  // 16-bit output at the file's own rate and channel count.
  mpg123_format_none(st->decoder);
  const long* rates = nullptr;
  size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (size_t i = 0; i < rateCount; ++i)
    mpg123_format(st->decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  int encoding = 0;
  off_t frames = 0;
  bool ok = mpg123_replace_reader_handle(st->decoder, SourceRead, SourceSeek, nullptr) ==
                MPG123_OK &&
            mpg123_open_handle(st->decoder, &st->source) == MPG123_OK &&
            mpg123_getformat(st->decoder, &st->rate, &st->channels, &encoding) == MPG123_OK &&
            encoding == MPG123_ENC_SIGNED_16 && (st->channels == 1 || st->channels == 2) &&
            mpg123_scan(st->decoder) == MPG123_OK &&
            (frames = mpg123_length(st->decoder)) > 0;
  if (!ok) {
    StreamProblem("%s: not a playable MP3 file (%s)\n", st->name.c_str(),
                 mpg123_strerror(st->decoder));
    return fail(kAudioErrorFileForm);
  }
  st->frames = static_cast<uint64_t>(frames);
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;

  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.initialized) return s.Fail(kAudioErrorInit), 0;
  if (st->rate != s.rate || st->channels != kOutputChannels) {
    st->converter = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(st->channels),
                                       static_cast<int>(st->rate), AUDIO_S16SYS, kOutputChannels,
                                       s.rate);
    if (st->converter == nullptr) return s.Fail(kAudioErrorFormat), 0;
  }
  Stream* stream = st.get();
  stream->handle = s.Add(std::move(st));
  return stream->handle;
}

extern "C" BOOL WINAPI BASS_Start(void) {
  State& s = state();
  SDL_AudioDeviceID device;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.initialized) return s.Fail(kAudioErrorInit);
    s.error = kAudioOk;
    device = s.device;
  }
  // Not under the mutex: SDL takes the device lock, which a running callback
  // holds while it waits for the mutex.
  if (device != 0) SDL_PauseAudioDevice(device, 0);
  return TRUE;
}

extern "C" BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL, DWORD flags) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return FALSE;
  if (st->playing && mpg123_seek(st->decoder, 0, SEEK_SET) < 0) return s.Fail(kAudioErrorFileForm);
  if (st->converter != nullptr) SDL_AudioStreamClear(st->converter);
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;
  st->ended = false;
  st->playing = true;
  // The SDL device plays the stream from the next frame it is handed; the
  // silent output from now.
  st->startFrame = s.device != 0 ? s.handed : HeardFrames(s);
  s.error = kAudioOk;
  return TRUE;
}

extern "C" DWORD WINAPI BASS_StreamGetLength(HSTREAM handle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return kError;
  return StreamBytes(st->Shape(), st->frames);  // never the error value
}

extern "C" DWORD WINAPI BASS_ChannelGetPosition(DWORD handle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return kError;
  if (!st->playing) return 0;
  return StreamPosition(st->Shape(), HeardFrames(s), st->startFrame, s.rate, st->loop);
}
