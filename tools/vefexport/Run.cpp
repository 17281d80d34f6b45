#include "Run.h"

#include <mpg123.h>
#include <signal.h>

#include <cstdio>

namespace vefexport {

namespace {

volatile sig_atomic_t gInterrupted = 0;

void OnSignal(int) { gInterrupted = 1; }

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
    std::fputs(ListModel(model).c_str(), stdout);
    for (const std::string& w : model.warnings) std::printf("Warning: %s\n", w.c_str());
    return kExitOk;
  }
  ExportOptions e = o.exp;
  if (!o.music.empty()) {
    double s = 0;
    if (!MusicSeconds(o.music, &s, &error)) {
      std::fprintf(stderr, "vefexport: %s\n", error.c_str());
      return kExitUsage;
    }
    e.musicSeconds = s;
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
  std::fprintf(stderr, "vefexport: %s -> %s\n", o.model.c_str(), o.output.c_str());
  for (const std::string& s : r.converted) std::fprintf(stderr, "  converted: %s\n", s.c_str());
  for (const std::string& s : r.approximated) std::fprintf(stderr, "  approximated: %s\n", s.c_str());
  for (const std::string& s : r.dropped) std::fprintf(stderr, "  dropped: %s\n", s.c_str());
  std::fprintf(stderr, "  %u frames, %llu bytes\n", r.frames, static_cast<unsigned long long>(r.bytes));
  return kExitOk;
}

}  // namespace vefexport
