// Fault injection and call counting for the platform stand-in.
//
// Every stand-in entry point that can fail on Windows asks TakeFault with its
// operation name ("DirectDrawCreateEx", "IDirectDrawSurface7::Flip",
// "IDirect3DDevice7::DrawPrimitive", "IDirectInputDevice7::GetDeviceState",
// ...) before doing any work. Tests arm a fault with InjectFault: the n-th call
// of that operation from now on returns the chosen code and does nothing else,
// as a failing call does on Windows (out-parameters untouched).
//
// Not part of the Windows API: only tests and tools include this header.
#ifndef STANDIN_FAULTS_H
#define STANDIN_FAULTS_H

#include <string>
#include <string_view>
#include <vector>

#include "../win32/types.h"

namespace standin {

// The nth (1-based) call of `operation` made after this one returns `code`.
// Several faults may be armed for one operation.
void InjectFault(std::string_view operation, int nth, HRESULT code);

// Disarms every fault and resets every call count.
void ResetFaults();

// Number of calls of `operation` since the last ResetFaults (faulted ones included).
int CallCount(std::string_view operation);

// While on, every call of an operation is recorded, in order, faulted ones
// included: a clean run's list is the set of calls a fault sweep fails one by
// one. ResetFaults empties the list but leaves recording on or off.
void RecordCalls(bool on);
std::vector<std::string> RecordedCalls();

// While recording, what calls handed back to the program (surface
// descriptions and locks without their memory address, the viewport, the
// display mode), one line each in call order: "OPERATION: fields". A forced
// resolution must leave these exactly as they are without it. ResetFaults
// empties the list.
std::vector<std::string> RecordedResults();
// For the stand-in: whether calls are being recorded, and adds one result.
bool RecordingCalls();
void RecordResult(std::string_view operation, const std::string& fields);

// For the stand-in's entry points: counts the call; returns true and sets *code
// when an armed fault fires for it.
bool TakeFault(std::string_view operation, HRESULT* code);

}  // namespace standin

// Entry-point helper: `STANDIN_FAULT("IDirectDraw7::CreateSurface");` returns
// the injected code from the enclosing HRESULT function when a fault fires.
#define STANDIN_FAULT(operation)                          \
  do {                                                    \
    HRESULT standin_fault_code_;                          \
    if (::standin::TakeFault((operation), &standin_fault_code_)) \
      return standin_fault_code_;                         \
  } while (0)

#endif
