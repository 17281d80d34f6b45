#include "cDXObject.h"

void cDXObject::OnFailure(DWORD, int, const char*) {}
