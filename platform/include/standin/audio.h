// Controls of the audio-library stand-in for tests, tools and main().
//
// Not part of the Windows API: only the stand-in, tests and tools include this.
#ifndef STANDIN_AUDIO_H
#define STANDIN_AUDIO_H

#include <cstdint>

namespace standin {

// The library's error codes, as its error query would report them.
enum AudioError : int {
  kAudioOk = 0,
  kAudioErrorMem = 1,        // out of memory
  kAudioErrorFileOpen = 2,   // the file could not be opened
  kAudioErrorDriver = 3,     // no usable output driver
  kAudioErrorHandle = 5,     // not a stream handle
  kAudioErrorFormat = 6,     // unsupported output format
  kAudioErrorInit = 8,       // BASS_Init has not been called
  kAudioErrorAlready = 14,   // BASS_Init was called already
  kAudioErrorIllParam = 20,  // an illegal parameter
  kAudioErrorDevice = 23,    // no such device
  kAudioErrorFileForm = 41,  // the file is not a playable MP3
};

// Error of the last audio call (kAudioOk after a successful one).
int AudioLastError();

// The clock that times the silent output and the position between device
// callbacks: monotonic nanoseconds. Null restores the real clock. Set it before
// BASS_Init.
using AudioClock = int64_t (*)();
void SetAudioClock(AudioClock clock);

// Stops the output and frees every stream, as the library's free call does;
// BASS_Init may be called again afterwards. main() calls it before returning.
void AudioShutdown();

// Stops and frees one stream, as the library's stream free call does; false
// for a handle that names no stream. For programs that open many streams in
// one output's lifetime (the fuzz target); the demo never frees its stream.
bool AudioFreeStream(uint32_t handle);

// True when the output is the silent clock (device -2, or no sound device).
bool AudioIsSilent();

}  // namespace standin

#endif
