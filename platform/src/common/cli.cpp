#include "standin/cli.h"

#include <cstdio>
#include <cstring>

#include "demo_version.h"

namespace standin {

CommandLine::CommandLine(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) words_.emplace_back(argv[i]);
}

CommandLine::CommandLine(std::vector<std::string> words) : words_(std::move(words)) {}

bool CommandLine::Next() {
  if (Failed()) return false;
  for (;;) {
    if (next_ >= words_.size()) return false;
    const std::string& word = words_[next_++];
    isOption_ = !endOfOptions_ && word.size() > 1 && word[0] == '-';
    hasInlineValue_ = false;
    inlineValue_.clear();
    name_ = word;
    if (!isOption_) return true;
    if (word == "--") {
      endOfOptions_ = true;
      continue;
    }
    const size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name_ = word.substr(0, equals);
      inlineValue_ = word.substr(equals + 1);
      hasInlineValue_ = true;
    }
    return true;
  }
}

bool CommandLine::Value(std::string* value) {
  if (hasInlineValue_) {
    *value = inlineValue_;
    return true;
  }
  if (next_ >= words_.size()) {
    Fail(name_ + " needs a value");
    return false;
  }
  *value = words_[next_++];
  return true;
}

bool CommandLine::NoValue() {
  if (!hasInlineValue_) return true;
  Fail(name_ + " takes no value");
  return false;
}

void CommandLine::Unknown() { Fail("unknown option '" + name_ + "'"); }

void CommandLine::Fail(const std::string& problem) {
  if (problem_.empty()) problem_ = problem.empty() ? "wrong command line" : problem;
}

int UsageError(const char* program, const std::string& problem) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, problem.c_str(), program);
  return kExitUsage;
}

void PrintVersion(const char* program) {
  std::printf("%s %s (commit %s)\n", program, DEMO_VERSION_TEXT, DEMO_COMMIT_TEXT);
}

const char* ProgramName(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

}  // namespace standin
