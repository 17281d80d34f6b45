#include "standin/faults.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

namespace {

struct Operation {
  int calls = 0;                // calls since the last reset
  std::vector<std::pair<int, HRESULT>> armed;  // (call number that fails, code)
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, Operation, std::less<>> operations;
  bool recording = false;
  std::vector<std::string> recorded;  // operation of every call while recording
  std::vector<std::string> results;   // what calls returned while recording
};

Registry& registry() {
  static Registry r;
  return r;
}

Operation& find(Registry& r, std::string_view name) {
  auto it = r.operations.find(name);
  if (it == r.operations.end()) it = r.operations.emplace(std::string(name), Operation{}).first;
  return it->second;
}

}  // namespace

void InjectFault(std::string_view operation, int nth, HRESULT code) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  Operation& op = find(r, operation);
  op.armed.emplace_back(op.calls + (nth < 1 ? 1 : nth), code);
}

void ResetFaults() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& entry : r.operations) entry.second = Operation{};
  r.recorded.clear();
  r.results.clear();
}

void RecordCalls(bool on) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.recording = on;
}

std::vector<std::string> RecordedCalls() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.recorded;
}

std::vector<std::string> RecordedResults() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.results;
}

bool RecordingCalls() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.recording;
}

void RecordResult(std::string_view operation, const std::string& fields) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.recording) r.results.push_back(std::string(operation) + ": " + fields);
}

int CallCount(std::string_view operation) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.operations.find(operation);
  return it == r.operations.end() ? 0 : it->second.calls;
}

bool TakeFault(std::string_view operation, HRESULT* code) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  Operation& op = find(r, operation);
  ++op.calls;
  if (r.recording) r.recorded.emplace_back(operation);
  for (auto it = op.armed.begin(); it != op.armed.end(); ++it) {
    if (it->first == op.calls) {
      if (code != nullptr) *code = it->second;
      op.armed.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace standin
