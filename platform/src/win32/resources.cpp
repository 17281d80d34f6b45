// System icons, cursors and GDI stock objects. The program only passes these
// handles on (to its window class), so a handle is a distinct, never
// dereferenced value per object.
#include <windows.h>

namespace {

constexpr ULONG_PTR kIconBase = 0x10000;    // handle = base + resource id
constexpr ULONG_PTR kCursorBase = 0x20000;
constexpr ULONG_PTR kStockBase = 0x30000;   // handle = base + 1 + object index
constexpr int kLastStockObject = 19;        // DC_PEN

bool IsSystemIcon(ULONG_PTR id) { return id >= 32512 && id <= 32518; }  // APPLICATION..SHIELD

bool IsSystemCursor(ULONG_PTR id) {
  return (id >= 32512 && id <= 32516) ||  // ARROW, IBEAM, WAIT, CROSS, UPARROW
         (id >= 32640 && id <= 32651);    // SIZE*, NO, HAND, APPSTARTING, HELP
}

}  // namespace

// Only the system resources exist: the program has no resource section, so a
// non-null instance or a named resource finds nothing (ERROR_RESOURCE_NAME_NOT_FOUND).
extern "C" HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (instance != nullptr || !IS_INTRESOURCE(name)) return nullptr;
  ULONG_PTR id = reinterpret_cast<ULONG_PTR>(name);
  return IsSystemIcon(id) ? reinterpret_cast<HICON>(kIconBase + id) : nullptr;
}

extern "C" HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance != nullptr || !IS_INTRESOURCE(name)) return nullptr;
  ULONG_PTR id = reinterpret_cast<ULONG_PTR>(name);
  return IsSystemCursor(id) ? reinterpret_cast<HCURSOR>(kCursorBase + id) : nullptr;
}

extern "C" HGDIOBJ WINAPI GetStockObject(int object) {
  // 9 is not a stock object on Windows.
  if (object < 0 || object > kLastStockObject || object == 9) return nullptr;
  return reinterpret_cast<HGDIOBJ>(kStockBase + 1 + static_cast<ULONG_PTR>(object));
}
