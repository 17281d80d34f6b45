// Keeps the diagnostics of SDL and ALSA off the terminal when asked to.
//
// SDL prints through its log output function, which can be replaced. ALSA's
// library prints through its own error handler; SDL loads that library at run
// time, so it is loaded here first (the same handle SDL gets later) and its
// handler set through dlsym. Without the ALSA library nothing is to be done.
#include <SDL_log.h>
#include <dlfcn.h>

#include "standin/debuglog.h"

namespace {

// ALSA's snd_lib_error_handler_t; declared here so that no ALSA headers are
// needed to build.
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err,
                                  const char* fmt, ...);
using AlsaSetHandler = int (*)(AlsaErrorHandler handler);

void DiscardAlsa(const char*, int, const char*, int, const char*, ...) {}
void DiscardSdl(void*, int, SDL_LogPriority, const char*) {}

SDL_LogOutputFunction g_sdlDefault = nullptr;
void* g_sdlDefaultData = nullptr;
bool g_sdlSaved = false;

}  // namespace

void standin::ShowLibraryMessages(bool shown) {
  if (!g_sdlSaved) {
    SDL_LogGetOutputFunction(&g_sdlDefault, &g_sdlDefaultData);
    g_sdlSaved = true;
  }
  if (shown) {
    SDL_LogSetOutputFunction(g_sdlDefault, g_sdlDefaultData);
  } else {
    SDL_LogSetOutputFunction(DiscardSdl, nullptr);
  }

  // Kept loaded for the life of the process: the handler lives in it.
  static void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
  if (alsa == nullptr) return;
  auto set = reinterpret_cast<AlsaSetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
  // A null handler is ALSA's default: print to standard error.
  if (set != nullptr) set(shown ? nullptr : DiscardAlsa);
}
