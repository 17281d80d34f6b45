// Where OutputDebugStringA writes. On Windows the debug channel goes to an
// attached debugger and is otherwise unseen; the stand-in writes it to standard
// error, UTF-8, unless told otherwise: the demo's main() hides it (or writes
// it to a file) as Windows does, tools that drive the demo send it elsewhere.
//
// Not part of the Windows API: only the stand-in, tests and tools include this.
#ifndef STANDIN_DEBUGLOG_H
#define STANDIN_DEBUGLOG_H

namespace standin {

// The file descriptor OutputDebugStringA writes to from now on (not owned);
// a negative one discards the text. The default is standard error.
void SetDebugOutput(int fd);

// Whether the libraries under the stand-in may print their own diagnostics
// on standard error: SDL's log and the ALSA sound library's error messages
// (a missing card reads as a dozen "ALSA lib ..." lines). Shown by default;
// the program's own messages about a missing display or sound device are
// printed either way. Call before the first window or sound output.
void ShowLibraryMessages(bool shown);

}  // namespace standin

#endif
