// bass_probe FILE: opens FILE through bass.dll as the demo does and prints
// "length=L position=P": the stream's length and its position right after
// BASS_StreamPlay, in bytes. The Wine tests compare them with the Linux
// library's figures for the same file and the same DEMO_CLOCK_MS.
#include <windows.h>

#include <cstdio>

#include "bass.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bass_probe FILE.mp3\n");
    return 2;
  }
  if (!BASS_Init(-1, 44100, 0, nullptr)) {
    std::fprintf(stderr, "bass_probe: BASS_Init failed\n");
    return 1;
  }
  HSTREAM stream = BASS_StreamCreateFile(FALSE, argv[1], 0, 0, 0);
  if (stream == 0) {
    std::fprintf(stderr, "bass_probe: %s: cannot open the stream\n", argv[1]);
    return 1;
  }
  BASS_Start();
  BASS_StreamPlay(stream, FALSE, BASS_SAMPLE_LOOP);
  std::printf("length=%lu position=%lu\n", static_cast<unsigned long>(BASS_StreamGetLength(stream)),
              static_cast<unsigned long>(BASS_ChannelGetPosition(stream)));
  return 0;
}
