#include "Run.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vefexport {

namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnSignal(int) { gInterrupted = 1; }

// True when `a` and `b` name one existing file (also through links).
bool SameFile(const std::string& a, const std::string& b) {
#ifdef _WIN32
  // Windows' stat has no inode numbers: the full paths are compared instead.
  char fullA[_MAX_PATH], fullB[_MAX_PATH];
  struct stat st;
  return stat(a.c_str(), &st) == 0 && _fullpath(fullA, a.c_str(), sizeof fullA) &&
         _fullpath(fullB, b.c_str(), sizeof fullB) && _stricmp(fullA, fullB) == 0;
#else
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

std::string Seconds(double s) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f s", s);
  return b;
}

}  // namespace

namespace {

// The music that will play the scene: --music, else the Sound.mp3 beside the
// output (the player spreads the scene over the whole of it). `path` stays
// empty when there is none; an unreadable --music is an error.
bool FindMusic(const Options& o, std::string* path, double* seconds, std::vector<std::string>* warnings,
               std::string* error) {
  *path = o.music;
  if (path->empty()) {
    const size_t slash = o.output.find_last_of('/');
    const std::string beside = (slash == std::string::npos ? std::string() : o.output.substr(0, slash + 1)) + "Sound.mp3";
    struct stat st;
    if (stat(beside.c_str(), &st) == 0) *path = beside;
  }
  if (path->empty() || MusicSeconds(*path, seconds, error)) return true;
  if (!o.music.empty()) return false;
  warnings->push_back(*error + ": its length is unknown");
  path->clear();
  return true;
}

void CatchSignals() {
#ifdef _WIN32
  signal(SIGINT, OnSignal);  // Ctrl+C; Windows has no sigaction
  signal(SIGTERM, OnSignal);
#else
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

int Failed(const std::string& error, ExportFailure failure) {
  std::fprintf(stderr, "vefexport: %s\n", error.c_str());
  return failure == ExportFailure::kBadOptions ? kExitUsage
         : failure == ExportFailure::kInterrupted ? kExitInterrupted : kExitFailure;
}

void PrintSummary(const std::string& from, const std::string& to, const ExportResult& r,
                  const std::vector<std::string>& notes, const std::vector<std::string>& warnings) {
  std::fprintf(stderr, "vefexport: %s -> %s\n", from.c_str(), to.c_str());
  for (const std::string& s : r.converted) std::fprintf(stderr, "  converted: %s\n", s.c_str());
  for (const std::string& s : r.approximated) std::fprintf(stderr, "  approximated: %s\n", s.c_str());
  for (const std::string& s : r.dropped) std::fprintf(stderr, "  dropped: %s\n", s.c_str());
  for (const std::string& s : notes) std::fprintf(stderr, "  note: %s\n", s.c_str());
  for (const std::string& s : warnings) std::fprintf(stderr, "  warning: %s\n", s.c_str());
  std::fprintf(stderr, "  %u frames, %llu bytes\n", r.frames, static_cast<unsigned long long>(r.bytes));
}

int RunTimeline(const Options& o) {
  std::string error, music;
  if (SameFile(o.timeline, o.output)) {
    std::fprintf(stderr, "vefexport: %s: is the timeline (%s); choose another output file\n", o.output.c_str(),
                 o.timeline.c_str());
    return kExitUsage;
  }
  std::ifstream in(o.timeline, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "vefexport: %s: cannot open: %s\n", o.timeline.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t slash = o.timeline.find_last_of('/');
  Timeline timeline;
  if (!ParseTimeline(text, o.timeline, slash == std::string::npos ? "." : o.timeline.substr(0, slash), &timeline, &error)) {
    std::fprintf(stderr, "vefexport: %s\n", error.c_str());
    return kExitUsage;
  }
  double seconds = 0;
  std::vector<std::string> notes, warnings;
  if (!FindMusic(o, &music, &seconds, &warnings, &error)) return Failed(error, ExportFailure::kBadOptions);
  if (music.empty())
    return Failed(o.timeline + ": a timeline is cut to its music: give --music FILE.mp3 or put Sound.mp3 beside " +
                  o.output, ExportFailure::kBadOptions);
  notes.push_back("shots cut to " + music + " (" + Seconds(seconds) + ")");
  CatchSignals();
  ExportResult r;
  ExportFailure failure;
  if (!ExportTimeline(timeline, seconds, o.output, o.exp.maxSize, &gInterrupted, &r, &error, &failure))
    return Failed(error, failure);
  warnings.insert(warnings.begin(), r.warnings.begin(), r.warnings.end());
  PrintSummary(o.timeline, o.output, r, notes, warnings);
  return kExitOk;
}

}  // namespace

int Run(const Options& o) {
  if (o.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (!o.timeline.empty()) return RunTimeline(o);
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
  std::string music;
  double musicSeconds = 0;
  if (!FindMusic(o, &music, &musicSeconds, &warnings, &error)) return Failed(error, ExportFailure::kBadOptions);
  if (!music.empty() && (!o.music.empty() || !e.seconds)) {
    e.musicSeconds = musicSeconds;
    if (o.music.empty())
      notes.push_back("length " + Seconds(musicSeconds) + " from " + music +
                      " beside the output (--seconds or --music to choose another)");
  }
  CatchSignals();
  ExportResult r;
  ExportFailure failure;
  if (!ExportScene(model, e, o.output, &gInterrupted, &r, &error, &failure)) return Failed(error, failure);
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
  PrintSummary(o.model, o.output, r, notes, warnings);
  return kExitOk;
}

}  // namespace vefexport
