// Where OutputDebugStringA writes. On Windows the debug channel goes to an
// attached debugger and is otherwise unseen; the stand-in writes it to standard
// error, UTF-8. Tools that drive the demo and keep the terminal for their own
// output send it elsewhere.
//
// Not part of the Windows API: only the stand-in, tests and tools include this.
#ifndef STANDIN_DEBUGLOG_H
#define STANDIN_DEBUGLOG_H

namespace standin {

// The file descriptor OutputDebugStringA writes to from now on (not owned);
// a negative one discards the text. The default is standard error.
void SetDebugOutput(int fd);

}  // namespace standin

#endif
