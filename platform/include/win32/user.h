// USER32: window classes, windows, messages.
//
// Sent messages (creation, show, move, size, paint, close) reach the window
// procedure directly; posted messages (key presses, PostMessageA, WM_QUIT) go to
// the per-thread queue, which only PeekMessageA reads.
#ifndef STANDIN_WIN32_USER_H
#define STANDIN_WIN32_USER_H

#include "types.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
} WNDCLASSEXA;

// What CreateWindowExA passes with WM_NCCREATE and WM_CREATE (lParam).
typedef struct tagCREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;  // outer height, pixels
  int cx;  // outer width, pixels
  int y;   // outer top, screen pixels
  int x;   // outer left, screen pixels
  LONG style;
  LPCSTR lpszName;   // caption, code page 1252
  LPCSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

// Class styles.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_VISIBLE 0x10000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
  (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_EX_TOPMOST 0x00000008L

#define CW_USEDEFAULT ((int)0x80000000)

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOW 5
#define SW_SHOWNOACTIVATE 4
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCACTIVATE 0x0086
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define WM_XBUTTONDOWN 0x020B
#define WM_XBUTTONUP 0x020C
#define WM_USER 0x0400

// WM_SIZE wParam.
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// WM_ACTIVATE wParam.
#define WA_INACTIVE 0
#define WA_ACTIVE 1

// PeekMessage flags.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

// Virtual keys. Letters and digits are their upper-case ASCII codes.
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_MBUTTON 0x04
#define VK_XBUTTON1 0x05
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_SNAPSHOT 0x2C
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_NUMPAD0 0x60
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F4 0x73
#define VK_F24 0x87
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE
#define VK_OEM_102 0xE2

// System icons and cursors (MAKEINTRESOURCE ids for a null instance).

#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

#ifdef __cplusplus
extern "C" {
#endif

// Registers a window class; class names compare case-insensitively. 0 when the
// name is taken, missing, or the procedure is null.
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass);
// Creates a top-level window. Sends WM_NCCREATE and WM_CREATE (a 0 or -1 result
// destroys the window and returns null), then WM_SIZE and WM_MOVE; with
// WS_MAXIMIZE it is maximised (WM_SIZE SIZE_MAXIMIZED, WM_MOVE); with WS_VISIBLE
// it is shown and activated as by ShowWindow(SW_SHOW). `width` x `height` is
// the outer size; CW_USEDEFAULT gives 640 x 480 at (0, 0).
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
// Shows, hides, maximises, minimises or restores. Sends WM_SHOWWINDOW when the
// visibility changes, activation messages (WM_ACTIVATEAPP, WM_NCACTIVATE,
// WM_ACTIVATE, WM_SETFOCUS) when it takes the foreground, and WM_SIZE and
// WM_MOVE when its state changes. Returns whether it was visible before.
BOOL WINAPI ShowWindow(HWND window, int command);
// Sends WM_PAINT if the window is visible and needs painting.
BOOL WINAPI UpdateWindow(HWND window);
// Deactivates the window, sends WM_DESTROY and WM_NCDESTROY, and drops its
// posted messages. FALSE for a window that does not exist.
BOOL WINAPI DestroyWindow(HWND window);
// The system icons and cursors (null instance, IDI_/IDC_ ids); null otherwise.
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
// Default handling: WM_NCCREATE TRUE; WM_CLOSE destroys the window; WM_PAINT
// validates it; Alt+F4 (WM_SYSKEYDOWN) sends WM_CLOSE; everything else 0.
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Appends to the queue of the window's thread (null window: the calling
// thread). FALSE for a window that does not exist or a full queue (10000).
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Marks the calling thread's queue to return WM_QUIT (wParam `exitCode`) once
// the posted messages before it have been read.
void WINAPI PostQuitMessage(int exitCode);
// Delivers pending desktop events, then looks at the calling thread's queue:
// posted messages in order, then WM_QUIT, then WM_PAINT for a window needing
// paint (never removed: it lasts until the window is validated). `window`
// null: any; (HWND)-1: thread messages only. Filter 0, 0: every message.
BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove);
// The window that has the keyboard focus and activation, or null.
HWND WINAPI GetForegroundWindow(void);
// The client rectangle: (0, 0, width, height). A topmost maximised window's
// client area is the virtual screen of the display mode (the desktop size
// until a mode is set); others have their frame and caption taken off.
BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
// Adds the client area's screen origin to `point`.
BOOL WINAPI ClientToScreen(HWND window, LPPOINT point);
BOOL WINAPI IsWindow(HWND window);

#ifdef __cplusplus
}
#endif

// The program's entry, written by the demo; the stand-in's main() calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

#endif
