// The audio library's version 1 calls as a Windows DLL, on the system's own
// parts: the Audio Compression Manager's MP3 codec decodes, waveOut plays.
//
// Units as in bass.h: lengths and positions are bytes of the stream's own
// 16-bit PCM. The clock arithmetic and the MP3 framing (gapless length and
// trimming) are shared with the Linux build, so both report the same length
// and the same position for the same music and the same time played.
//
// Decoding: the whole stream is decoded into memory when it is opened. The
// codec gets only the audio frames (no tags, no Xing/Info frame) and knows
// nothing of the encoder's delay, so its output is trimmed here.
//
// Output: waveOut at the stream's own rate and channel count (the wave mapper
// converts for the device), so the output frames played, waveOutGetPosition,
// are stream frames played. With no sound device, or device -2, the output is
// silent and its position advances with the performance counter.
//
// Test setting: the environment variable DEMO_CLOCK_MS=N (decimal
// milliseconds) holds every stream's position at N ms of its PCM,
// floor(N x rate / 1000) frames (modulo the length when it loops, else at most
// the length), whatever has been played. Screenshots of a chosen moment use it.
//
// Threads: waveOut plays on the system's threads; every call here takes one
// mutex.
#include <windows.h>
#include <mmreg.h>
#include <mmsystem.h>
#include <msacm.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/Mp3Frames.h"
#include "audio/StreamClock.h"
#include "audio/StreamTable.h"
#include "bass.h"
#include "standin/audio.h"

namespace {

using namespace standin;

constexpr DWORD kError = kAudioErrorValue;
constexpr size_t kDecodeChunkFrames = 64;  // MP3 frames handed to the codec per call

// Why a stream cannot be made goes to the debug channel; the program that
// asked reports the problem to the user in its own words.
void Problem(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  OutputDebugStringA(text);
}

int64_t Now() {  // monotonic nanoseconds
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<int64_t>(static_cast<unsigned __int128>(count.QuadPart) * 1000000000u /
                              static_cast<uint64_t>(frequency.QuadPart));
}

struct Stream {
  StreamShape shape;
  std::vector<int16_t> pcm;  // the whole stream, interleaved
  bool playing = false;
  bool loop = false;
  HWAVEOUT out = nullptr;  // while playing on a device
  WAVEHDR header{};
  int64_t silentStart = 0;  // clock at play, silent output
  uint64_t lastHeard = 0;   // keeps the position monotonic

  void Stop() {
    if (out == nullptr) return;
    waveOutReset(out);
    waveOutUnprepareHeader(out, &header, sizeof header);
    waveOutClose(out);
    out = nullptr;
  }
  ~Stream() { Stop(); }
};

struct State : StreamTable<Stream> {
  bool silent = false;
  UINT device = WAVE_MAPPER;
  bool held = false;  // DEMO_CLOCK_MS is set
  uint64_t heldMs = 0;
};

State& state() {
  static State s;
  return s;
}

// DEMO_CLOCK_MS: up to 10 decimal digits; anything else is ignored (with a
// message), so a typo cannot silently stop the clock at 0.
void ReadHeldClock(State& s) {
  s.held = false;
  const char* text = std::getenv("DEMO_CLOCK_MS");
  if (text == nullptr) return;
  size_t n = std::strlen(text);
  if (n == 0 || n > 10 || std::strspn(text, "0123456789") != n) {
    Problem("audio: DEMO_CLOCK_MS=%s is not a number of milliseconds; the clock runs\n", text);
    return;
  }
  s.held = true;
  s.heldMs = std::strtoull(text, nullptr, 10);
}

// Decodes the audio frames of `data` with the system's MP3 codec and keeps
// the stream's trimmed PCM. False with *why set when the codec refuses.
bool Decode(const uint8_t* data, const Mp3Layout& layout, Stream* st, std::string* why) {
  MPEGLAYER3WAVEFORMAT mp3{};
  mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3.wfx.nChannels = static_cast<WORD>(layout.channels);
  mp3.wfx.nSamplesPerSec = static_cast<DWORD>(layout.rate);
  mp3.wfx.nAvgBytesPerSec = static_cast<DWORD>(layout.bitrate / 8);
  mp3.wfx.nBlockAlign = 1;
  mp3.wfx.wBitsPerSample = 0;
  mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  mp3.wID = MPEGLAYER3_ID_MPEG;
  mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  mp3.nBlockSize = static_cast<WORD>(layout.frames[0].size);
  mp3.nFramesPerBlock = 1;
  mp3.nCodecDelay = 0;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<WORD>(layout.channels);
  pcm.nSamplesPerSec = static_cast<DWORD>(layout.rate);
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(layout.channels * 2);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;

  HACMSTREAM codec = nullptr;
  MMRESULT rc = acmStreamOpen(&codec, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, 0);
  if (rc != MMSYSERR_NOERROR) {
    *why = "the system has no MP3 decoder (acmStreamOpen: " + std::to_string(rc) + ")";
    return false;
  }
  // The audio frames, back to back: what the codec is fed.
  std::vector<uint8_t> input;
  for (const Mp3Frame& f : layout.frames)
    input.insert(input.end(), data + f.offset, data + f.offset + f.size);

  const size_t frameBytes = static_cast<size_t>(layout.channels) * 2;
  std::vector<uint8_t> output;
  output.reserve((layout.frames.size() * layout.samplesPerFrame + 4096) * frameBytes);
  std::vector<uint8_t> source, target;
  size_t fed = 0;
  bool ok = true;
  // Each pass hands the codec at most kDecodeChunkFrames frames' worth of
  // bytes; every pass consumes input or ends, so the loop is bounded.
  const size_t chunkBytes = kDecodeChunkFrames * layout.frames[0].size * 2;
  for (bool first = true;; first = false) {
    const size_t take = std::min(chunkBytes, input.size() - fed);
    const bool last = fed + take == input.size();
    source.assign(input.begin() + static_cast<ptrdiff_t>(fed),
                  input.begin() + static_cast<ptrdiff_t>(fed + take));
    if (source.empty()) source.push_back(0);  // a header needs a buffer
    DWORD targetBytes = 0;
    if (acmStreamSize(codec, static_cast<DWORD>(source.size()), &targetBytes,
                      ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
      targetBytes = 0;
    targetBytes = std::max<DWORD>(targetBytes,
                                  static_cast<DWORD>((kDecodeChunkFrames + 2) * 1152 * frameBytes));
    target.resize(targetBytes);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = source.data();
    h.cbSrcLength = static_cast<DWORD>(take);
    h.pbDst = target.data();
    h.cbDstLength = targetBytes;
    if (acmStreamPrepareHeader(codec, &h, 0) != MMSYSERR_NOERROR) {
      ok = false;
      break;
    }
    DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (first ? ACM_STREAMCONVERTF_START : 0) |
                  (last ? ACM_STREAMCONVERTF_END : 0);
    rc = acmStreamConvert(codec, &h, flags);
    const DWORD used = h.cbSrcLengthUsed, made = h.cbDstLengthUsed;
    h.cbSrcLength = static_cast<DWORD>(source.size());
    acmStreamUnprepareHeader(codec, &h, 0);
    if (rc != MMSYSERR_NOERROR) {
      ok = false;
      break;
    }
    output.insert(output.end(), target.begin(), target.begin() + made);
    fed += std::min<size_t>(used, take);
    if (last && made == 0) break;    // drained
    if (!last && used == 0 && made == 0) break;  // the codec takes nothing more
  }
  acmStreamClose(codec, 0);
  if (!ok) {
    *why = "the MP3 decoder failed (" + std::to_string(rc) + ")";
    return false;
  }

  // Keep frames [skip, skip + length) of the decoder's output; what the codec
  // did not produce stays silent.
  st->shape.rate = layout.rate;
  st->shape.channels = layout.channels;
  st->shape.frames = layout.length;
  st->pcm.assign(static_cast<size_t>(layout.length) * layout.channels, 0);
  const size_t decodedFrames = output.size() / frameBytes;
  if (decodedFrames > layout.skip) {
    const size_t n = std::min<size_t>(decodedFrames - layout.skip, layout.length);
    std::memcpy(st->pcm.data(), output.data() + layout.skip * frameBytes, n * frameBytes);
  }
  return true;
}

// Starts waveOut playback of the stream; false when no device takes it.
bool PlayOnDevice(State& s, Stream& st) {
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<WORD>(st.shape.channels);
  pcm.nSamplesPerSec = static_cast<DWORD>(st.shape.rate);
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(st.shape.channels * 2);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  if (waveOutOpen(&st.out, s.device, &pcm, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    st.out = nullptr;
    return false;
  }
  st.header = WAVEHDR{};
  st.header.lpData = reinterpret_cast<LPSTR>(st.pcm.data());
  st.header.dwBufferLength = static_cast<DWORD>(st.pcm.size() * sizeof(int16_t));
  if (st.loop) {
    st.header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    st.header.dwLoops = 0xFFFFFFFFu;
  }
  if (waveOutPrepareHeader(st.out, &st.header, sizeof st.header) != MMSYSERR_NOERROR ||
      waveOutWrite(st.out, &st.header, sizeof st.header) != MMSYSERR_NOERROR) {
    waveOutClose(st.out);
    st.out = nullptr;
    return false;
  }
  return true;
}

// Stream frames played so far, never going back.
uint64_t HeardFrames(Stream& st) {
  uint64_t heard = 0;
  if (st.out != nullptr) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(st.out, &time, sizeof time) == MMSYSERR_NOERROR) {
      if (time.wType == TIME_SAMPLES) heard = time.u.sample;
      else if (time.wType == TIME_BYTES) heard = time.u.cb / (st.shape.channels * 2u);
    }
  } else {
    heard = SilentFrames(st.silentStart, Now(), static_cast<int>(st.shape.rate));
  }
  st.lastHeard = std::max(st.lastHeard, heard);
  return st.lastHeard;
}

bool ReadFileBytes(const char* name, DWORD offset, DWORD length, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) {
    Problem("%s: cannot open the music file: %s\n", name, std::strerror(errno));
    return false;
  }
  bool ok = _fseeki64(f, 0, SEEK_END) == 0;
  const int64_t size = ok ? _ftelli64(f) : -1;
  if (size < 0 || static_cast<int64_t>(offset) > size || _fseeki64(f, offset, SEEK_SET) != 0) {
    Problem("%s: cannot read the music file from byte %u\n", name, static_cast<unsigned>(offset));
    std::fclose(f);
    return false;
  }
  int64_t want = size - offset;
  if (length != 0) want = std::min<int64_t>(want, length);
  bytes->resize(static_cast<size_t>(want));
  ok = std::fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
  std::fclose(f);
  if (!ok) Problem("%s: cannot read the music file\n", name);
  return ok;
}

}  // namespace

extern "C" BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD, HWND) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (int problem = CheckInitArguments(s.initialized, device, &freq)) return s.Fail(problem);
  const UINT devices = waveOutGetNumDevs();
  if (device > 0 && static_cast<UINT>(device) >= devices) return s.Fail(kAudioErrorDevice);
  s.device = device > 0 ? static_cast<UINT>(device) : WAVE_MAPPER;
  s.silent = device == -2 || devices == 0;
  if (device != -2 && devices == 0)
    std::fprintf(stderr, "audio: no sound device; the music plays silently\n");
  ReadHeldClock(s);
  s.initialized = true;
  s.error = kAudioOk;
  return TRUE;
}

extern "C" HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset,
                                                DWORD length, DWORD flags) {
  State& s = state();
  if (!s.CreateArgumentsUsable(mem, file, length)) return 0;
  auto fail = [&](int code) -> HSTREAM { return s.FailLocked(code); };
  const std::string name = mem ? "music in memory" : static_cast<const char*>(file);
  std::vector<uint8_t> fileBytes;
  const uint8_t* data;
  size_t size;
  if (mem) {
    data = static_cast<const uint8_t*>(file) + offset;
    size = length;
  } else {
    if (!ReadFileBytes(name.c_str(), offset, length, &fileBytes)) return fail(kAudioErrorFileOpen);
    data = fileBytes.data();
    size = fileBytes.size();
  }
  Mp3Layout layout;
  std::string why;
  auto st = std::make_unique<Stream>();
  if (!ScanMp3(data, size, &layout, &why) || layout.length == 0 ||
      !Decode(data, layout, st.get(), &why)) {
    Problem("%s: not a playable MP3 file (%s)\n", name.c_str(), why.c_str());
    return fail(kAudioErrorFileForm);
  }
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;

  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.initialized) return s.Fail(kAudioErrorInit), 0;
  return s.Add(std::move(st));
}

extern "C" BOOL WINAPI BASS_Start(void) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.initialized) return s.Fail(kAudioErrorInit);
  s.error = kAudioOk;
  return TRUE;
}

extern "C" BOOL WINAPI BASS_StreamPlay(HSTREAM handle, BOOL, DWORD flags) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return FALSE;
  st->Stop();
  st->loop = (flags & BASS_SAMPLE_LOOP) != 0;
  st->lastHeard = 0;
  st->playing = true;
  st->silentStart = Now();
  if (!s.silent && !PlayOnDevice(s, *st)) {
    std::fprintf(stderr, "audio: the sound device does not play; the music plays silently\n");
  }
  s.error = kAudioOk;
  return TRUE;
}

extern "C" DWORD WINAPI BASS_StreamGetLength(HSTREAM handle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return kError;
  return StreamBytes(st->shape, st->shape.frames);
}

extern "C" DWORD WINAPI BASS_ChannelGetPosition(DWORD handle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Stream* st = s.Lookup(handle);
  if (st == nullptr) return kError;
  // Held: N ms is N frames of a 1000 Hz output.
  if (s.held) return StreamPosition(st->shape, s.heldMs, 0, 1000, st->loop);
  if (!st->playing) return 0;
  return StreamPosition(st->shape, HeardFrames(*st), 0, static_cast<int>(st->shape.rate),
                        st->loop);
}
