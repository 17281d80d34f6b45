// The process entry for programs written with a WinMain: reads the host's
// command line, installs the SDL host (window, input and presentation), calls
// WinMain as Windows would, then stops the audio output and closes the display
// before the process ends.
//
// The options belong to the host, not to the program: WinMain sees none of
// them. A program that reads its own command line gets the words after the
// content folder.
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "standin/audio.h"
#include "standin/debuglog.h"
#include "standin/desktop.h"

#ifndef DEMO_VERSION
#define DEMO_VERSION "unknown"
#endif

namespace {

// The module base of a Windows executable; only passed around as a handle.
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));

// Exit codes of the host itself: a wrong command line, or a content folder
// that cannot be entered (the same code as missing content).
constexpr int kExitUsage = 2;
constexpr int kExitNoContent = 2;

struct Options {
  const char* folder = nullptr;  // the content folder; null: the working directory
  std::string commandLine;       // WinMain's: the words after the folder
  standin::SdlHostOptions host;
  const char* logFile = nullptr;  // the debug log goes here when set
  bool verbose = false;           // debug log and library messages on stderr
  bool help = false, version = false;
};

void PrintHelp(const char* program) {
  std::printf(
      "Usage: %s [OPTION]... [DIR]\n"
      "Plays the demo: the scene scene.2vef in step with the music Sound.mp3, both read\n"
      "from DIR (default: the working directory). It ends by itself with the music, or\n"
      "on Escape.\n"
      "\n"
      "Options:\n"
      "  --window          show the picture in a window\n"
      "  --fullscreen      show the picture on the whole screen\n"
      "                    (default: as the demo asks, fullscreen)\n"
      "  --scale MODE      how the 800 x 600 picture fills the screen or window:\n"
      "                    fit (largest size with the aspect kept, the default),\n"
      "                    integer (largest whole multiple that fits), stretch\n"
      "  --log FILE        write the demo's debug log to FILE\n"
      "  --verbose         show the debug log and the messages of SDL and ALSA\n"
      "                    on standard error\n"
      "  --help            show this text and exit\n"
      "  --version         show the version and exit\n"
      "\n"
      "Keys:\n"
      "  Escape            end the demo\n"
      "  Alt+Enter         switch between fullscreen and a window\n"
      "  F12               save the picture as a PNG in the pictures folder\n"
      "                    (XDG_PICTURES_DIR, else the working directory)\n"
      "\n"
      "Exit status: 0 when the demo ran to its end or was ended; 2 for a wrong\n"
      "command line or when the scene or the music cannot be used.\n",
      program);
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// Parses argv into `options`. On a wrong command line prints one line to
// stderr and returns false.
bool Parse(int argc, char** argv, Options* options) {
  const char* program = BaseName(argv[0]);
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!endOfOptions && arg[0] == '-' && arg[1] != '\0') {
      std::string name = arg, value;
      const bool inlineValue = name.compare(0, 2, "--") == 0 && name.find('=') != std::string::npos;
      if (inlineValue) {
        value = name.substr(name.find('=') + 1);
        name = name.substr(0, name.find('='));
      }
      const bool takesValue = name == "--scale" || name == "--log";
      if (takesValue && !inlineValue) {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "%s: option '%s' needs a value; see '%s --help'\n", program,
                       name.c_str(), program);
          return false;
        }
        value = argv[++i];
      } else if (!takesValue && inlineValue) {
        std::fprintf(stderr, "%s: option '%s' takes no value; see '%s --help'\n", program,
                     name.c_str(), program);
        return false;
      }
      if (name == "--") {
        endOfOptions = true;
      } else if (name == "--window") {
        options->host.form = standin::PresentationForm::Window;
      } else if (name == "--fullscreen") {
        options->host.form = standin::PresentationForm::Fullscreen;
      } else if (name == "--scale") {
        if (value == "fit") {
          options->host.scaling = standin::Scaling::Fit;
        } else if (value == "integer") {
          options->host.scaling = standin::Scaling::Integer;
        } else if (value == "stretch") {
          options->host.scaling = standin::Scaling::Stretch;
        } else {
          std::fprintf(stderr, "%s: --scale takes fit, integer or stretch, not '%s'\n", program,
                       value.c_str());
          return false;
        }
      } else if (name == "--log") {
        // argv outlives the run; `value` does not.
        options->logFile = inlineValue ? arg + std::strlen("--log=") : argv[i];
      } else if (name == "--verbose") {
        options->verbose = true;
      } else if (name == "--help" || name == "-h") {
        options->help = true;
      } else if (name == "--version") {
        options->version = true;
      } else {
        std::fprintf(stderr, "%s: unknown option '%s'; see '%s --help'\n", program, name.c_str(),
                     program);
        return false;
      }
      continue;
    }
    if (options->folder == nullptr) {
      options->folder = arg;
    } else {
      if (!options->commandLine.empty()) options->commandLine += ' ';
      options->commandLine += arg;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) return kExitUsage;
  const char* program = BaseName(argv[0]);
  if (options.help) {
    PrintHelp(program);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", program, DEMO_VERSION);
    return 0;
  }

  // The demo reads its content by relative names, as from the folder it was
  // started in on Windows.
  if (options.folder != nullptr && chdir(options.folder) != 0) {
    std::fprintf(stderr, "%s: cannot enter the folder: %s\n", options.folder, std::strerror(errno));
    return kExitNoContent;
  }

  // On Windows the debug log goes to a debugger and no user sees it.
  int logFd = -1;
  if (options.logFile != nullptr) {
    logFd = open(options.logFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
      std::fprintf(stderr, "%s: cannot write the log: %s\n", options.logFile, std::strerror(errno));
      return kExitUsage;
    }
  }
  standin::SetDebugOutput(logFd >= 0 ? logFd : options.verbose ? STDERR_FILENO : -1);
  standin::ShowLibraryMessages(options.verbose);

  standin::InstallSdlHost(options.host);
  int code = WinMain(kInstance, nullptr, &options.commandLine[0], SW_SHOWNORMAL);
  // The audio thread must stop before static objects go away.
  standin::AudioShutdown();
  standin::UninstallSdlHost();
  if (logFd >= 0) {
    standin::SetDebugOutput(-1);
    close(logFd);
  }
  return code;
}
