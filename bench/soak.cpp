// Soak: the demo played start to end many times in one process, headless, on a
// fast clock, with the resources the process holds measured after each play.
// Resident memory, open descriptors and threads must stay flat from the second
// play on (the first one starts SDL's subsystems and fills the allocators).
//
//   demo_soak [--plays N] [--frames F]    defaults: 20 plays of 250 frames
//
// Each play is what main() does: install the SDL host, start-up, the frame
// loop, tear-down, stop the audio output, uninstall the host; then the window
// is destroyed and the scene released, as the end of the process would. The
// demo keeps its scene until the process ends on purpose; here it is released
// between plays so that what is measured is everything else.
// Exit code 0 when flat, 1 when a figure grew, 2 on a failed play.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <bass.h>

#include <chrono>
#include <string>
#include <vector>

#include "3d/Scene.h"
#include "Demo.h"
#include "DemoContent.h"
#include "standin/audio.h"
#include "standin/desktop.h"

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));

int framesPerPlay = 250;
int clockReads = 0;
// The music clock, fast: each frame moves the position on by 1/framesPerPlay
// of the stream, so a play ends after about framesPerPlay frames.
DWORD FastClock(DWORD stream) {
  ++clockReads;
  const double length = static_cast<double>(BASS_StreamGetLength(stream));
  return static_cast<DWORD>(length * clockReads / framesPerPlay);
}

struct Figures {
  long rssKb = 0;  // resident set, kB
  int fds = 0;     // open file descriptors
  int threads = 0;
};

Figures Measure() {
  Figures f;
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  while (status != nullptr && fgets(line, sizeof line, status) != nullptr) {
    if (strncmp(line, "VmRSS:", 6) == 0) f.rssKb = atol(line + 6);
    if (strncmp(line, "Threads:", 8) == 0) f.threads = atoi(line + 8);
  }
  if (status != nullptr) fclose(status);
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) f.fds += e->d_name[0] != '.';
    closedir(d);
    f.fds -= 1;  // the directory's own descriptor
  }
  return f;
}

void ReleaseScene() {
  delete LoadedScene;
  LoadedScene = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int plays = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--plays") == 0) plays = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--frames") == 0) framesPerPlay = atoi(argv[i + 1]);
  }
  if (plays < 2 || framesPerPlay < 1) {
    fprintf(stderr, "usage: demo_soak [--plays N>=2] [--frames F>=1]\n");
    return 2;
  }
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  const std::string folder = devtest::MakeContentFolder(true, true);
  if (folder.empty() || chdir(folder.c_str()) != 0) {
    fprintf(stderr, "demo_soak: cannot make the content folder\n");
    return 2;
  }
  // The demo's own log goes to standard error; the table to standard output.
  printf("play  exit  frames  seconds  rss_kB  fds  threads\n");
  std::vector<Figures> figures;
  int failed = 0;
  for (int play = 1; play <= plays; ++play) {
    const auto start = std::chrono::steady_clock::now();
    standin::InstallSdlHost();
    DemoRun run(kInstance, SW_SHOWNORMAL);
    clockReads = 0;
    if (DemoStartUp(run)) {
      run.PositionSource = FastClock;
      DemoLoop(run);
    }
    const int code = DemoTearDown(run);
    if (run.Window && IsWindow(run.Window)) DestroyWindow(run.Window);
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
    standin::AudioShutdown();
    standin::UninstallSdlHost();
    ReleaseScene();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Figures f = Measure();
    figures.push_back(f);
    printf("%4d  %4d  %6d  %7.2f  %6ld  %3d  %7d\n", play, code, clockReads, seconds, f.rssKb, f.fds,
           f.threads);
    fflush(stdout);
    if (code != 0 || clockReads < framesPerPlay / 2) failed = 1;
  }
  if (chdir("/") == 0) devtest::RemoveFolder(folder);

  // Flat: descriptors and threads exactly as after the second play; resident
  // memory within 2 MB of it (allocator slack, not growth per play).
  const Figures& base = figures[1];
  long maxRss = base.rssKb;
  bool flat = true;
  for (size_t i = 1; i < figures.size(); ++i) {
    maxRss = std::max(maxRss, figures[i].rssKb);
    flat = flat && figures[i].fds == base.fds && figures[i].threads == base.threads;
  }
  flat = flat && maxRss - base.rssKb <= 2048;
  printf("from play 2 on: rss %ld..%ld kB (+%ld), fds %d, threads %d: %s\n", base.rssKb, maxRss,
         maxRss - base.rssKb, base.fds, base.threads, flat ? "flat" : "NOT FLAT");
  if (failed) {
    fprintf(stderr, "demo_soak: a play did not end normally\n");
    return 2;
  }
  return flat ? 0 : 1;
}
