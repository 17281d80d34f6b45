// Base of every DirectX wrapper: the failure record and the failure hook.
//
// Failure convention, followed at every tested DirectDraw, Direct3D and
// DirectInput call: a result code other than 0 is stored in LastResult,
// TraceFailure runs, and OnFailure is called with FailureDetail, the source
// line of the call and its source file. Then the caller goes on with its next
// step: no early return, no retry, nothing shown. The only exception is a step
// that would call through an interface a failed creation left null: such a
// step is skipped.
//
// Each call site's line number is a named constant of its file (the numbers
// are the wrapper's published call-site identifiers, not __LINE__).
#ifndef CDXOBJECT_H
#define CDXOBJECT_H

#include <windows.h>

class cDXObject {
 public:
  HRESULT LastResult;     // code of the most recent failed tested call; never cleared
  DWORD FailureDetail;    // passed unchanged as OnFailure's first argument

  // Both members start at 0, so a hook never sees an unset value.
  cDXObject() : LastResult(0), FailureDetail(0) {}
  // Not virtual: each derived class has its own destructor, called directly.
  ~cDXObject() {}

  // Slot 0 of the one-slot table. The base version does nothing but hand the
  // call to Observer when one is installed.
  virtual void OnFailure(DWORD detail, int line, const char* file);

  // Sees every call of the base hook, also those made while a wrapper is being
  // constructed (when an override in a derived class cannot run yet). Null in
  // the demo; tests and tools install one.
  typedef void (*FailureObserver)(const cDXObject* object, DWORD detail, int line,
                                  const char* file);
  static FailureObserver Observer;

  // The step between recording and reporting; does nothing.
  void TraceFailure() {}

  // The convention for one tested call: returns true when `result` is 0;
  // otherwise records, traces, reports with (line, file) and returns false.
  bool Check(HRESULT result, int line, const char* file) {
    if (result == 0) return true;
    LastResult = result;
    TraceFailure();
    OnFailure(FailureDetail, line, file);
    return false;
  }
};

#endif
