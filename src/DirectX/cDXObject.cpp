#include "cDXObject.h"

cDXObject::FailureObserver cDXObject::Observer = 0;

void cDXObject::OnFailure(DWORD detail, int line, const char* file) {
  if (Observer) Observer(this, detail, line, file);
}
