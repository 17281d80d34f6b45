#include "Run.h"

#include <mpg123.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>

namespace vefexport {

namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnSignal(int) { gInterrupted = 1; }

// True when `a` and `b` name one existing file (also through links).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string Seconds(double s) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f s", s);
  return b;
}

}  // namespace

bool MusicSeconds(const std::string& path, double* seconds, std::string* error) {
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  if (!h) {
    *error = path + ": cannot start the MP3 decoder";
    return false;
  }
  // The decoder's own remarks on damaged frames are not for the terminal.
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  bool ok = mpg123_open(h, path.c_str()) == MPG123_OK;
  long rate = 0;
  int channels = 0, enc = 0;
  off_t samples = 0;
  if (ok) ok = mpg123_getformat(h, &rate, &channels, &enc) == MPG123_OK && rate > 0;
  if (ok) ok = mpg123_scan(h) == MPG123_OK;
  if (ok) samples = mpg123_length(h);
  ok = ok && samples > 0;
  if (!ok) *error = path + ": not a readable MP3 file" + (mpg123_strerror(h) ? std::string(": ") + mpg123_strerror(h) : "");
  else *seconds = double(samples) / double(rate);
  mpg123_close(h);
  mpg123_delete(h);
  return ok;
}

int Run(const Options& o) {
  if (o.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  Model model;
  std::string error;
  if (!LoadModelFile(o.model, &model, &error)) {
    std::fprintf(stderr, "vefexport: %s\n", error.c_str());
    return kExitUsage;
  }
  if (o.list) {
    std::fputs(ListModel(model, o.exp).c_str(), stdout);
    for (const std::string& w : model.warnings) std::printf("Warning: %s\n", w.c_str());
    return kExitOk;
  }
  if (SameFile(o.model, o.output)) {
    std::fprintf(stderr, "vefexport: %s: is the model being converted (%s); choose another output file\n",
                 o.output.c_str(), o.model.c_str());
    return kExitUsage;
  }
  ExportOptions e = o.exp;
  std::vector<std::string> notes, warnings;
  // The music that will play the scene: --music, else the Sound.mp3 beside the
  // output. The player spreads the scene over the whole of it.
  std::string music = o.music;
  if (music.empty()) {
    const size_t slash = o.output.find_last_of('/');
    const std::string beside = (slash == std::string::npos ? std::string() : o.output.substr(0, slash + 1)) + "Sound.mp3";
    struct stat st;
    if (stat(beside.c_str(), &st) == 0) music = beside;
  }
  double musicSeconds = 0;
  if (!music.empty()) {
    if (!MusicSeconds(music, &musicSeconds, &error)) {
      if (!o.music.empty()) {
        std::fprintf(stderr, "vefexport: %s\n", error.c_str());
        return kExitUsage;
      }
      warnings.push_back(error + ": its length is unknown, the scene keeps its own");
      music.clear();
    } else if (!o.music.empty() || !e.seconds) {
      e.musicSeconds = musicSeconds;
      if (o.music.empty())
        notes.push_back("length " + Seconds(musicSeconds) + " from " + music +
                        " beside the output (--seconds or --music to choose another)");
    }
  }
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  ExportResult r;
  ExportFailure failure;
  const bool ok = ExportScene(model, e, o.output, &gInterrupted, &r, &error, &failure);
  if (!ok) {
    std::fprintf(stderr, "vefexport: %s\n", error.c_str());
    return failure == ExportFailure::kBadOptions ? kExitUsage
           : failure == ExportFailure::kInterrupted ? kExitInterrupted : kExitFailure;
  }
  if (music.empty()) {
    warnings.push_back("no music beside " + o.output + ": the player spreads the scene's " + Seconds(r.seconds) +
                       " over whatever Sound.mp3 plays it (--music to fit the scene to one)");
  } else if (!e.musicSeconds && std::fabs(r.seconds - musicSeconds) > 1 / e.fps) {
    warnings.push_back("the scene spans " + Seconds(r.seconds) + " of animation but " + music + " plays " +
                       Seconds(musicSeconds) + ": the player spreads the scene over the whole music, so it runs " +
                       (r.seconds > musicSeconds ? "faster" : "slower") + " than the model's own time");
  }
  notes.insert(notes.end(), r.notes.begin(), r.notes.end());
  warnings.insert(warnings.begin(), r.warnings.begin(), r.warnings.end());
  std::fprintf(stderr, "vefexport: %s -> %s\n", o.model.c_str(), o.output.c_str());
  for (const std::string& s : r.converted) std::fprintf(stderr, "  converted: %s\n", s.c_str());
  for (const std::string& s : r.approximated) std::fprintf(stderr, "  approximated: %s\n", s.c_str());
  for (const std::string& s : r.dropped) std::fprintf(stderr, "  dropped: %s\n", s.c_str());
  for (const std::string& s : notes) std::fprintf(stderr, "  note: %s\n", s.c_str());
  for (const std::string& s : warnings) std::fprintf(stderr, "  warning: %s\n", s.c_str());
  std::fprintf(stderr, "  %u frames, %llu bytes\n", r.frames, static_cast<unsigned long long>(r.bytes));
  return kExitOk;
}

}  // namespace vefexport
