// The command-line convention that every program of the project follows:
//   - options are long (--name) with a few short aliases (-h, -o); a value
//     follows as the next word or after '=' (--fps 30, --fps=30);
//   - "--" ends the options, every later word is an operand;
//   - a usage error is one line naming the problem, then "Try 'PROGRAM
//     --help'." on standard error, and exit code 2;
//   - --version prints the program, the version and the commit.
//
// Not part of the Windows API: only the host's main() and the tools use it.
#ifndef STANDIN_CLI_H
#define STANDIN_CLI_H

#include <string>
#include <vector>

namespace standin {

// The exit code of a wrong command line, the same in every program.
constexpr int kExitUsage = 2;

// Walks a command line word by word. Typical use:
//   CommandLine args(argc, argv);
//   while (args.Next()) {
//     if (!args.IsOption()) { operands.push_back(args.Word()); continue; }
//     if (args.Is("--fps")) { std::string v; if (!args.Value(&v)) ...; }
//     else if (args.Is("--loop")) { if (!args.NoValue()) ...; }
//     else args.Unknown();
//   }
//   if (args.Failed()) return UsageError(program, args.Problem());
class CommandLine {
 public:
  CommandLine(int argc, char** argv);                   // argv[0] is skipped
  explicit CommandLine(std::vector<std::string> words);  // the words after the program

  // Moves to the next word; false at the end or after a problem was recorded.
  bool Next();
  // The current word is an option: it starts with '-', is not "-" alone and
  // does not follow "--" ("--" itself is consumed by Next()).
  bool IsOption() const { return isOption_; }
  // The current word as given; for an option, its name without "=value".
  const std::string& Word() const { return name_; }
  bool Is(const char* name) const { return isOption_ && name_ == name; }
  // "--" has been passed: every word from here on is an operand.
  bool AfterOptions() const { return endOfOptions_; }

  // The current option's value: after its '=', else the next word. Without
  // one, records "OPTION needs a value" and returns false.
  bool Value(std::string* value);
  // The current option takes no value: with "=value" records "OPTION takes
  // no value" and returns false.
  bool NoValue();
  // Records "unknown option 'OPTION'".
  void Unknown();
  // Records any other problem; the first one recorded is kept.
  void Fail(const std::string& problem);

  bool Failed() const { return !problem_.empty(); }
  const std::string& Problem() const { return problem_; }

 private:
  std::vector<std::string> words_;
  size_t next_ = 0;
  bool endOfOptions_ = false;
  bool isOption_ = false;
  bool hasInlineValue_ = false;
  std::string name_, inlineValue_, problem_;
};

// Prints "PROGRAM: PROBLEM" and "Try 'PROGRAM --help'." on standard error
// and returns kExitUsage.
int UsageError(const char* program, const std::string& problem);

// Prints "PROGRAM VERSION (commit HASH)" on standard output: the project's
// version and the commit it was built from ("unknown" outside a checkout).
void PrintVersion(const char* program);

// The file name of a path, for messages: "build/src/demo" -> "demo".
const char* ProgramName(const char* argv0);

}  // namespace standin

#endif
