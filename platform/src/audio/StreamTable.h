// The audio library's bookkeeping, the same in its Linux and Windows builds:
// one mutex, whether BASS_Init ran, the streams by handle and the last error
// (the codes of standin/audio.h). Every member is used under the mutex.
#ifndef STANDIN_STREAM_TABLE_H
#define STANDIN_STREAM_TABLE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "audio/StreamClock.h"
#include "standin/audio.h"

namespace standin {

template <class Stream>
struct StreamTable {
  static constexpr uint32_t kFirstHandle = 0x10001;

  std::mutex mutex;
  bool initialized = false;
  std::map<uint32_t, std::unique_ptr<Stream>> streams;
  uint32_t nextHandle = kFirstHandle;
  int error = kAudioOk;

  // Records `code` as the last error; false, for `return Fail(...)`.
  bool Fail(int code) {
    error = code;
    return false;
  }

  // Fail under the mutex; 0, the handle of no stream.
  uint32_t FailLocked(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    error = code;
    return 0;
  }

  // BASS_StreamCreateFile's arguments, under the mutex: false with the error
  // recorded before BASS_Init, for no file, or for memory of no length.
  bool CreateArgumentsUsable(bool mem, const void* file, unsigned long length) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!initialized) return Fail(kAudioErrorInit);
    if (file == nullptr || (mem && length == 0)) return Fail(kAudioErrorIllParam);
    return true;
  }

  // The stream of `handle`, the last error cleared; null with the error
  // recorded before BASS_Init or for a handle that names no stream.
  Stream* Lookup(uint32_t handle) {
    if (!initialized) return Fail(kAudioErrorInit), nullptr;
    auto it = streams.find(handle);
    if (it == streams.end()) return Fail(kAudioErrorHandle), nullptr;
    error = kAudioOk;
    return it->second.get();
  }

  // Keeps the stream and returns its new handle: never 0, never the error
  // value 0xFFFFFFFF.
  uint32_t Add(std::unique_ptr<Stream> stream) {
    const uint32_t handle = nextHandle++;
    if (nextHandle == 0 || nextHandle == kAudioErrorValue) nextHandle = kFirstHandle;
    streams.emplace(handle, std::move(stream));
    error = kAudioOk;
    return handle;
  }
};

// BASS_Init's arguments: kAudioOk, or the error code for a second call, a
// device below -2 or a rate outside 1000..192000 Hz (0 means 44100, written
// back to *freq).
template <class Rate>  // DWORD: 32 bits wide in both builds, but not always uint32_t
int CheckInitArguments(bool initialized, int device, Rate* freq) {
  if (initialized) return kAudioErrorAlready;
  if (device < -2) return kAudioErrorDevice;
  if (*freq == 0) *freq = 44100;
  if (*freq < 1000 || *freq > 192000) return kAudioErrorIllParam;
  return kAudioOk;
}

}  // namespace standin

#endif
