// The music path through the audio calls: a stream opened from memory and from
// a file, its length, playback and position, and a short decode on SDL's disk
// output (written to /dev/null, a device buffer every millisecond). The output
// stays open for the whole run (closing it waits two buffers); each input's
// streams are freed after it. Streams at other rates or in mono go through the
// rate converter.
//
// Input: one flags byte (bit 2: play looping), then the MP3 bytes.
#include <bass.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "FuzzSupport.h"
#include "standin/audio.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);
  if (!BASS_Init(-1, 44100, 0, 0)) fuzz::Fail("BASS_Init failed on the disk output");
  BASS_Start();
  // The output's thread must stop before the audio state's static destructor.
  atexit(standin::AudioShutdown);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool loop = (data[0] & 4) != 0;
  const uint8_t* mp3 = data + 1;
  const DWORD bytes = static_cast<DWORD>(size - 1);
  static fuzz::ScratchFile file(".mp3");
  file.Write(mp3, bytes);

  // The file path reads through the descriptor; it must agree with memory.
  const HSTREAM fromFile = BASS_StreamCreateFile(FALSE, file.path().c_str(), 0, 0, 0);
  const HSTREAM stream = BASS_StreamCreateFile(TRUE, mp3, 0, bytes, loop ? BASS_SAMPLE_LOOP : 0);
  fuzz::Check((fromFile == 0) == (stream == 0), "file and memory disagree on whether the MP3 opens");
  if (stream != 0) {
    const DWORD length = BASS_StreamGetLength(stream);
    fuzz::Check(length != 0xFFFFFFFFu && length > 0, "an open stream has no length");
    fuzz::Check(BASS_StreamGetLength(fromFile) == length, "file and memory disagree on the length");
    fuzz::Check(BASS_ChannelGetPosition(stream) == 0, "position before playing is not 0");
    fuzz::Check(BASS_StreamPlay(stream, FALSE, loop ? BASS_SAMPLE_LOOP : 0), "BASS_StreamPlay failed");
    // A short decode: a few device buffers, 20 ms at most.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    DWORD position = 0;
    while (std::chrono::steady_clock::now() < until) {
      position = BASS_ChannelGetPosition(stream);
      fuzz::Check(position != 0xFFFFFFFFu, "position of a playing stream is the error value");
      fuzz::Check(position <= length, "position beyond the length");
      if (position >= 8192 || position == length) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  fuzz::Check(standin::AudioFreeStream(stream) == (stream != 0), "stream could not be freed");
  fuzz::Check(standin::AudioFreeStream(fromFile) == (fromFile != 0), "stream could not be freed");
  fuzz::Check(BASS_StreamGetLength(stream) == 0xFFFFFFFFu, "a freed stream still answers");
  return 0;
}
