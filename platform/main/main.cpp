// The process entry for programs written with a WinMain: reads the host's
// command line, installs the SDL host (window, input and presentation), calls
// WinMain as Windows would, then stops the audio output and closes the display
// before the process ends.
//
// The options belong to the host, not to the program: WinMain sees none of
// them. A program that reads its own command line (the host check) gets the
// words after the content folder and "--"; the demo reads none.
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "standin/audio.h"
#include "standin/cli.h"
#include "standin/debuglog.h"
#include "standin/desktop.h"
#include "standin/graphics.h"
#include "standin/resolution.h"

namespace {

// The module base of a Windows executable; only passed around as a handle.
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));

// Exit code of a content folder that cannot be entered: the same as missing
// content. A wrong command line exits with standin::kExitUsage (2).
constexpr int kExitNoContent = 2;

struct Options {
  std::string folder;            // the content folder; empty: the working directory
  std::string commandLine;       // WinMain's: the words after the folder and "--"
  standin::SdlHostOptions host;
  standin::RenderSize render;     // --render and --ssaa
  std::string logFile;            // the debug log goes here when set
  bool text = true;               // false: the demo's own text is not drawn
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
      "  --scale MODE      how the picture fills the screen or window:\n"
      "                    fit (largest size with the aspect kept, the default),\n"
      "                    integer (largest whole multiple that fits), stretch\n"
      "  --render SIZE     draw the picture at SIZE while the demo keeps its 800 x\n"
      "                    600 mode: native (the size the screen or window shows\n"
      "                    it at) or WxH, e.g. 1600x1200 (default: 800x600)\n"
      "  --ssaa N          supersampling, 1 to 4 (default 1): draw N x N times\n"
      "                    the pixels and average each N x N block in linear light\n"
      "  --no-text         hide the text the demo draws (its time counter and\n"
      "                    captions)\n"
      "  --log FILE        write the demo's debug log to FILE\n"
      "  --verbose         show the debug log and the messages of SDL and ALSA\n"
      "                    on standard error\n"
      "  --help            show this text and exit\n"
      "  --version         show the version and the commit, and exit\n"
      "Each option's value may also follow an '=' (--scale=integer).\n"
      "\n"
      "Keys:\n"
      "  Escape            end the demo\n"
      "  Alt+Enter         switch between fullscreen and a window\n"
      "  F12               save the picture as a PNG in the pictures folder, at\n"
      "                    the size it is drawn at (--render)\n"
      "                    (XDG_PICTURES_DIR, else the working directory)\n"
      "\n"
      "Exit status: 0 when the demo ran to its end or was ended; 2 for a wrong\n"
      "command line or when the scene or the music cannot be used.\n",
      program);
}

// "WIDTHxHEIGHT", each a whole number from 1 to kMaxDrawnSide.
bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  auto number = [](const std::string& digits, int* out) {
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    *out = std::stoi(digits);
    return *out >= 1 && *out <= standin::kMaxDrawnSide;
  };
  return number(text.substr(0, x), width) && number(text.substr(x + 1), height);
}

// Parses argv into `options`. On a wrong command line returns the problem in
// `problem` and false.
bool Parse(int argc, char** argv, Options* options, std::string* problem) {
  standin::CommandLine args(argc, argv);
  bool haveFolder = false;
  while (args.Next()) {
    if (!args.IsOption()) {
      if (!haveFolder) {
        options->folder = args.Word();
        haveFolder = true;
      } else if (args.AfterOptions()) {
        if (!options->commandLine.empty()) options->commandLine += ' ';
        options->commandLine += args.Word();
      } else {
        args.Fail("one content folder at most: '" + options->folder + "' and '" + args.Word() + "'");
      }
      continue;
    }
    std::string value;
    if (args.Is("--window") && args.NoValue()) {
      options->host.form = standin::PresentationForm::Window;
    } else if (args.Is("--fullscreen") && args.NoValue()) {
      options->host.form = standin::PresentationForm::Fullscreen;
    } else if (args.Is("--scale") && args.Value(&value)) {
      if (value == "fit") {
        options->host.scaling = standin::Scaling::Fit;
      } else if (value == "integer") {
        options->host.scaling = standin::Scaling::Integer;
      } else if (value == "stretch") {
        options->host.scaling = standin::Scaling::Stretch;
      } else {
        args.Fail("--scale takes fit, integer or stretch, not '" + value + "'");
      }
    } else if (args.Is("--render") && args.Value(&value)) {
      if (value == "native") {
        options->render.native = true;
      } else if (!ParseSize(value, &options->render.width, &options->render.height)) {
        args.Fail("--render takes native or WIDTHxHEIGHT (1 to " + std::to_string(standin::kMaxDrawnSide) +
                  " each), not '" + value + "'");
      }
    } else if (args.Is("--ssaa") && args.Value(&value)) {
      if (value.size() != 1 || value[0] < '1' || value[0] > '4') {
        args.Fail("--ssaa takes a number from 1 to 4, not '" + value + "'");
      } else {
        options->render.ssaa = value[0] - '0';
      }
    } else if (args.Is("--log") && args.Value(&value)) {
      if (value.empty()) args.Fail("--log needs a file name");
      options->logFile = value;
    } else if (args.Is("--no-text") && args.NoValue()) {
      options->text = false;
    } else if (args.Is("--verbose") && args.NoValue()) {
      options->verbose = true;
    } else if ((args.Is("--help") || args.Is("-h")) && args.NoValue()) {
      options->help = true;
    } else if (args.Is("--version") && args.NoValue()) {
      options->version = true;
    } else if (!args.Failed()) {
      args.Unknown();
    }
  }
  const standin::RenderSize& r = options->render;
  if (!args.Failed() && !r.native &&
      (std::max(r.width, 800) * r.ssaa > standin::kMaxDrawnSide || std::max(r.height, 600) * r.ssaa > standin::kMaxDrawnSide)) {
    args.Fail("--render with --ssaa " + std::to_string(r.ssaa) + " draws more than " +
              std::to_string(standin::kMaxDrawnSide) + " pixels a side");
  }
  *problem = args.Problem();
  return !args.Failed();
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = standin::ProgramName(argv[0]);
  Options options;
  std::string problem;
  if (!Parse(argc, argv, &options, &problem)) return standin::UsageError(program, problem);
  if (options.help) {
    PrintHelp(program);
    return 0;
  }
  if (options.version) {
    standin::PrintVersion(program);
    return 0;
  }

  // The demo reads its content by relative names, as from the folder it was
  // started in on Windows.
  if (!options.folder.empty() && chdir(options.folder.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot enter the folder: %s\n", options.folder.c_str(),
                 std::strerror(errno));
    return kExitNoContent;
  }

  // On Windows the debug log goes to a debugger and no user sees it.
  int logFd = -1;
  if (!options.logFile.empty()) {
    logFd = open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
      std::fprintf(stderr, "%s: cannot write the log: %s\n", options.logFile.c_str(),
                   std::strerror(errno));
      return standin::kExitUsage;
    }
  }
  standin::SetDebugOutput(logFd >= 0 ? logFd : options.verbose ? STDERR_FILENO : -1);
  standin::ShowLibraryMessages(options.verbose);

  standin::SetTextShown(options.text);
  standin::SetRenderSize(options.render);

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
