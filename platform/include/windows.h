// windows.h - the subset of the Win32 API that the demo uses, for Linux.
//
// Types are sized as on Windows whatever the Linux ABI: DWORD, LONG, ULONG and
// HRESULT are 32 bits, WPARAM/LPARAM/LRESULT are pointer-sized. Strings are
// code page 1252 ("ANSI"), as on a Western European Windows.
//
// Only what the demo and its stand-in need is declared. The functions are
// implemented by the platform library (platform/src).
#ifndef STANDIN_WINDOWS_H
#define STANDIN_WINDOWS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "win32/types.h"
#include "win32/kernel.h"
#include "win32/user.h"
#include "win32/gdi.h"

#endif
