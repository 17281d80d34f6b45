// The music's length for --music, as libmpg123 decodes it (gapless).
#include <mpg123.h>

#include "Run.h"

namespace vefexport {

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

}  // namespace vefexport
