// Helpers shared by the fuzz targets.
#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <sanitizer/common_interface_defs.h>

namespace fuzz {

// A per-process scratch file for readers that take a path. The name is fixed
// per process, so a long run leaves one file, removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix) {
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir && dir[0] ? dir : "/tmp") + "/fuzz-" + std::to_string(getpid()) +
            suffix;
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  // Replaces the file's content with data[0 .. size-1]; aborts when the file
  // cannot be written (a broken run, not a finding about the input).
  const std::string& Write(const uint8_t* data, size_t size) {
    FILE* f = fopen(path_.c_str(), "wb");
    if (f == nullptr || (size > 0 && fwrite(data, 1, size, f) != size) || fclose(f) != 0) {
      perror(path_.c_str());
      abort();
    }
    return path_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Stops the run with a message: libFuzzer reports the abort as a crash and
// keeps the input. The message goes through the sanitizer's report channel,
// which stays open when the run closes the target's standard error.
[[noreturn]] inline void Fail(const char* what) {
  std::string message = std::string("fuzz check failed: ") + what;
  __sanitizer_report_error_summary(message.c_str());
  abort();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

}  // namespace fuzz

#endif
