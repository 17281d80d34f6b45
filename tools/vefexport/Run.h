// vefexport's command line and the whole run: parse, load, list or convert,
// report. Exit codes: 0 done, 1 conversion failed, 2 bad command line or
// unreadable model, 130 interrupted (SIGINT/SIGTERM; nothing is left behind).
#ifndef VEFEXPORT_RUN_H
#define VEFEXPORT_RUN_H

#include <string>
#include <vector>

#include "Export.h"
#include "DemoTimeline.h"

namespace vefexport {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130 };

struct Options {
  std::string model;
  std::string timeline;     // --timeline: a JSON timeline instead of a model
  std::string output;
  std::string music;
  bool list = false, help = false, version = false;
  ExportOptions exp;
};

extern const char kUsage[];

// Reads argv[1..]; false with a message naming the bad argument.
bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error);

// Length of an MP3 file in seconds, as decoded (libmpg123). False with a
// message naming the file.
bool MusicSeconds(const std::string& path, double* seconds, std::string* error);

int Run(const Options& o);

}  // namespace vefexport

#endif
