// What the web host's parts share.
#ifndef STANDIN_WEBHOST_WEB_H
#define STANDIN_WEBHOST_WEB_H

namespace standin {

// A number the page was opened with (page.js's hooks: "time", "bench",
// "keep"); -1 when it was not given.
int WebHook(const char* name);

// In a benchmark run, the number of pictures presented so far; -1 otherwise.
int WebBenchFrame();

}  // namespace standin

#endif
