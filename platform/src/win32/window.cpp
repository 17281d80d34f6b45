// USER32 windows and messages.
//
// Windows live in a table keyed by handle; a handle is a number that is never
// dereferenced, so a stale or forged handle is simply not found. Messages that
// Windows sends call the window procedure at once; posted ones (PostMessageA,
// input, WM_QUIT) wait in the queue of the thread that owns the window, which
// only PeekMessageA reads. Handlers may create, destroy or post to windows
// while a message is being sent, so no table lock is held across a call into a
// window procedure, and a window is looked up again after every send.
//
// Geometry: the outer rectangle is the restored window in screen pixels. The
// frame and caption follow the classic Windows metrics: a sizing border of 4
// pixels (3 for a fixed caption frame) and a 19-pixel caption. A topmost
// maximised window is the fullscreen form: its client area is the virtual
// screen of the display mode (the desktop size while no mode is set), at (0, 0).
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/cp1252.h"
#include "standin/host.h"
#include "win32/desktop.h"

namespace standin {
namespace {

constexpr int kSizingBorder = 4;    // pixels, each side
constexpr int kFixedBorder = 3;     // pixels, each side
constexpr int kCaptionHeight = 19;  // pixels
constexpr int kHeadlessDesktopWidth = 1024;
constexpr int kHeadlessDesktopHeight = 768;
constexpr int kDefaultWidth = 640;   // CW_USEDEFAULT
constexpr int kDefaultHeight = 480;
// Windows refuses posts beyond 10000 waiting messages per queue
// (USERPostMessageLimit); a program that never reads its queue must not grow
// it without bound either.
constexpr size_t kQueueLimit = 10000;
constexpr uintptr_t kFirstHandle = 0x10010;

struct WindowClass {
  std::string name;  // as registered
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  UINT style = 0;
  HBRUSH background = nullptr;
};

struct Window {
  HWND handle = nullptr;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string caption;  // code page 1252
  RECT outer{};         // restored outer rectangle
  bool visible = false;
  bool maximized = false;
  bool minimized = false;
  bool needsPaint = false;
  bool destroying = false;
  std::thread::id owner;
};

struct Queue {
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
};

struct State {
  std::mutex mutex;  // guards the tables and queues, never held across a send
  std::map<std::string, WindowClass> classes;  // key: lower-case name
  std::map<HWND, std::unique_ptr<Window>> windows;
  std::map<std::thread::id, Queue> queues;
  uintptr_t nextHandle = kFirstHandle;
  HWND foreground = nullptr;
  DesktopBackend* backend = nullptr;
  bool pumping = false;
};

State& state() {
  static State s;
  return s;
}

std::string Lower(const char* text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

Window* Find(HWND handle) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.windows.find(handle);
  return it == s.windows.end() ? nullptr : it->second.get();
}

DWORD MessageTime() {
  using namespace std::chrono;
  return static_cast<DWORD>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool HasCaption(DWORD style) { return (style & WS_CAPTION) == WS_CAPTION; }

// Frame thickness around the client area: left, top, right, bottom.
RECT Insets(DWORD style) {
  RECT r{0, 0, 0, 0};
  int border = 0;
  if (style & WS_THICKFRAME) border = kSizingBorder;
  else if (style & WS_CAPTION) border = kFixedBorder;
  r.left = r.right = r.bottom = border;
  r.top = border + (HasCaption(style) ? kCaptionHeight : 0);
  return r;
}

bool FullscreenForm(const Window& w) { return w.maximized && (w.exStyle & WS_EX_TOPMOST); }

void DesktopSize(int* width, int* height) {
  DesktopBackend* backend = state().backend;
  if (backend == nullptr || !backend->DesktopSize(width, height)) {
    *width = kHeadlessDesktopWidth;
    *height = kHeadlessDesktopHeight;
  }
}

SIZE ClientSize(const Window& w) {
  if (w.minimized) return SIZE{0, 0};
  if (w.maximized) {
    int width = 0, height = 0, bits = 0;
    if (FullscreenForm(w)) {
      CurrentHost().GetDisplayMode(&width, &height, &bits);
      if (width > 0 && height > 0) return SIZE{width, height};
    }
    DesktopSize(&width, &height);
    // A maximised window's borders lie off the screen; only the caption remains.
    if (!FullscreenForm(w) && HasCaption(w.style)) height -= kCaptionHeight;
    return SIZE{std::max(width, 0), std::max(height, 0)};
  }
  RECT in = Insets(w.style);
  LONG width = w.outer.right - w.outer.left - in.left - in.right;
  LONG height = w.outer.bottom - w.outer.top - in.top - in.bottom;
  return SIZE{std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
}

POINT ClientOrigin(const Window& w) {
  if (w.minimized) return POINT{-32000, -32000};
  if (FullscreenForm(w)) return POINT{0, 0};
  if (w.maximized) return POINT{0, HasCaption(w.style) ? kCaptionHeight : 0};
  RECT in = Insets(w.style);
  return POINT{w.outer.left + in.left, w.outer.top + in.top};
}

LRESULT Send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = Find(handle);
  if (w == nullptr || w->proc == nullptr) return 0;
  return w->proc(handle, message, wParam, lParam);
}

void Notify(HWND handle) {
  if (state().backend != nullptr && Find(handle) != nullptr) state().backend->WindowChanged(handle);
}

void SendSizeAndMove(HWND handle) {
  Window* w = Find(handle);
  if (w == nullptr) return;
  SIZE size = ClientSize(*w);
  WPARAM kind = w->minimized ? SIZE_MINIMIZED : w->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
  Send(handle, WM_SIZE, kind, MAKELPARAM(size.cx, size.cy));
  w = Find(handle);
  if (w == nullptr) return;
  POINT origin = ClientOrigin(*w);
  Send(handle, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
}

void Deactivate(HWND handle) {
  State& s = state();
  if (s.foreground != handle) return;
  s.foreground = nullptr;
  Send(handle, WM_NCACTIVATE, FALSE, 0);
  Send(handle, WM_ACTIVATE, WA_INACTIVE, 0);
  Send(handle, WM_ACTIVATEAPP, FALSE, 0);
  Send(handle, WM_KILLFOCUS, 0, 0);
  InputForegroundChanged(nullptr);
}

void Activate(HWND handle) {
  State& s = state();
  if (s.foreground == handle) return;
  if (s.foreground != nullptr) Deactivate(s.foreground);
  s.foreground = handle;
  Send(handle, WM_ACTIVATEAPP, TRUE, 0);
  Send(handle, WM_NCACTIVATE, TRUE, 0);
  Send(handle, WM_ACTIVATE, WA_ACTIVE, 0);
  Send(handle, WM_SETFOCUS, 0, 0);
  InputForegroundChanged(s.foreground);
}

Queue& QueueOf(State& s, std::thread::id thread) { return s.queues[thread]; }

bool Matches(const MSG& m, HWND filter, UINT low, UINT high) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (m.hwnd != nullptr) return false;
  } else if (filter != nullptr && m.hwnd != filter) {
    return false;
  }
  if (low == 0 && high == 0) return true;
  return m.message >= low && m.message <= high;
}

bool Post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::thread::id owner = std::this_thread::get_id();
  if (handle != nullptr) {
    auto it = s.windows.find(handle);
    if (it == s.windows.end()) return false;
    owner = it->second->owner;
  }
  Queue& q = QueueOf(s, owner);
  if (q.posted.size() >= kQueueLimit) return false;
  MSG m{};
  m.hwnd = handle;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = MessageTime();
  q.posted.push_back(m);
  return true;
}

}  // namespace

// ---- Back-end side ----------------------------------------------------------

void SetDesktopBackend(DesktopBackend* backend) { state().backend = backend; }

void PumpDesktopEvents() {
  State& s = state();
  if (s.backend == nullptr || s.pumping) return;
  s.pumping = true;
  s.backend->PumpEvents();
  s.pumping = false;
}

void SetMouseCaptured(HWND window, bool captured) {
  if (state().backend != nullptr) state().backend->SetMouseCaptured(window, captured);
}

bool GetWindowView(HWND handle, WindowView* view) {
  Window* w = Find(handle);
  if (w == nullptr || view == nullptr) return false;
  view->handle = handle;
  view->style = w->style;
  view->exStyle = w->exStyle;
  view->visible = w->visible;
  view->maximized = w->maximized;
  view->minimized = w->minimized;
  view->fullscreenForm = FullscreenForm(*w);
  view->captionUtf8 = Cp1252ToUtf8(w->caption.c_str());
  view->outer = w->outer;
  view->client = ClientSize(*w);
  view->clientOrigin = ClientOrigin(*w);
  return true;
}

std::vector<HWND> ListWindows() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<HWND> out;
  for (auto& entry : s.windows) out.push_back(entry.first);
  return out;
}

void DesktopMoved(HWND handle, int clientX, int clientY) {
  Window* w = Find(handle);
  if (w == nullptr || FullscreenForm(*w) || w->maximized || w->minimized) return;
  RECT in = Insets(w->style);
  LONG width = w->outer.right - w->outer.left, height = w->outer.bottom - w->outer.top;
  LONG left = clientX - in.left, top = clientY - in.top;
  if (left == w->outer.left && top == w->outer.top) return;
  w->outer = RECT{left, top, left + width, top + height};
  Send(handle, WM_MOVE, 0, MAKELPARAM(clientX, clientY));
}

void DesktopResized(HWND handle, int clientWidth, int clientHeight) {
  Window* w = Find(handle);
  // The fullscreen form's client area is the virtual screen, whatever the
  // size of the desktop window that shows it.
  if (w == nullptr || FullscreenForm(*w) || w->maximized || w->minimized) return;
  SIZE now = ClientSize(*w);
  if (now.cx == clientWidth && now.cy == clientHeight) return;
  RECT in = Insets(w->style);
  w->outer.right = w->outer.left + in.left + in.right + std::max(clientWidth, 0);
  w->outer.bottom = w->outer.top + in.top + in.bottom + std::max(clientHeight, 0);
  w->needsPaint = true;
  Send(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(clientWidth, clientHeight));
}

void DesktopExposed(HWND handle) {
  Window* w = Find(handle);
  if (w == nullptr || !w->visible) return;
  w->needsPaint = true;
  Send(handle, WM_PAINT, 0, 0);
}

void DesktopCloseRequested(HWND handle) {
  if (Find(handle) != nullptr) Send(handle, WM_CLOSE, 0, 0);
}

void DesktopFocusChanged(HWND handle, bool gained) {
  Window* w = Find(handle);
  if (w == nullptr) return;
  if (gained) {
    if (w->visible) Activate(handle);
  } else {
    Deactivate(handle);
  }
}

bool PostInputMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  return Post(handle, message, wParam, lParam);
}

}  // namespace standin

using namespace standin;

// ---- USER32 -----------------------------------------------------------------

extern "C" ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
  if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) ||
      windowClass->lpszClassName == nullptr || IS_INTRESOURCE(windowClass->lpszClassName) ||
      windowClass->lpfnWndProc == nullptr) {
    return 0;
  }
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::string key = Lower(windowClass->lpszClassName);
  if (key.empty() || s.classes.count(key) != 0) return 0;  // ERROR_CLASS_ALREADY_EXISTS
  WindowClass c;
  c.name = windowClass->lpszClassName;
  c.proc = windowClass->lpfnWndProc;
  c.instance = windowClass->hInstance;
  c.style = windowClass->style;
  c.background = windowClass->hbrBackground;
  s.classes.emplace(key, c);
  // Atoms of registered classes lie in 0xC000..0xFFFF.
  return static_cast<ATOM>(0xC000 + (s.classes.size() & 0x3FFF));
}

extern "C" HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName,
                                       DWORD style, int x, int y, int width, int height,
                                       HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  State& s = state();
  if (className == nullptr || IS_INTRESOURCE(className)) return nullptr;
  auto window = std::make_unique<Window>();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.classes.find(Lower(className));
    if (it == s.classes.end()) return nullptr;  // ERROR_CANNOT_FIND_WND_CLASS
    window->proc = it->second.proc;
  }
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = kDefaultWidth;
    height = kDefaultHeight;
  }
  window->style = style & ~(WS_VISIBLE | WS_MAXIMIZE);
  window->exStyle = exStyle;
  window->caption = windowName != nullptr ? windowName : "";
  window->outer = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  window->owner = std::this_thread::get_id();

  HWND handle;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    handle = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    window->handle = handle;
    s.windows.emplace(handle, std::move(window));
  }

  CREATESTRUCTA create{};
  create.lpCreateParams = param;
  create.hInstance = instance;
  create.hMenu = menu;
  create.hwndParent = parent;
  create.cx = width;
  create.cy = height;
  create.x = x;
  create.y = y;
  create.style = static_cast<LONG>(style);
  create.lpszName = windowName;
  create.lpszClass = className;
  create.dwExStyle = exStyle;
  LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  if (Send(handle, WM_NCCREATE, 0, createParam) == 0 ||
      Send(handle, WM_CREATE, 0, createParam) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  if (Find(handle) == nullptr) return nullptr;  // destroyed by its own handler
  SendSizeAndMove(handle);
  if (style & WS_MAXIMIZE) {
    Window* w = Find(handle);
    if (w == nullptr) return nullptr;
    w->maximized = true;
    w->style |= WS_MAXIMIZE;
    SendSizeAndMove(handle);
  }
  if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
  Notify(handle);
  return Find(handle) != nullptr ? handle : nullptr;
}

extern "C" BOOL WINAPI ShowWindow(HWND handle, int command) {
  Window* w = Find(handle);
  if (w == nullptr) return FALSE;
  const BOOL wasVisible = w->visible ? TRUE : FALSE;

  if (command == SW_HIDE) {
    if (w->visible) {
      Send(handle, WM_SHOWWINDOW, FALSE, 0);
      if ((w = Find(handle)) == nullptr) return wasVisible;
      w->visible = false;
      w->style &= ~WS_VISIBLE;
      Deactivate(handle);
      Notify(handle);
    }
    return wasVisible;
  }

  enum class Target { Keep, Maximized, Minimized, Restored } target = Target::Keep;
  bool activate = true;
  switch (command) {
    case SW_SHOWMAXIMIZED: target = Target::Maximized; break;
    case SW_SHOWMINIMIZED: target = Target::Minimized; break;
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: target = Target::Minimized; activate = false; break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT: target = Target::Restored; break;
    case SW_SHOWNOACTIVATE: target = Target::Restored; activate = false; break;
    case SW_SHOWNA: activate = false; break;
    case SW_SHOW: break;
    default: return wasVisible;  // unknown command: ERROR_INVALID_PARAMETER
  }
  if (!w->visible) {
    Send(handle, WM_SHOWWINDOW, TRUE, 0);
    if ((w = Find(handle)) == nullptr) return wasVisible;
    w->visible = true;
    w->style |= WS_VISIBLE;
    w->needsPaint = true;
  }
  if (activate && target != Target::Minimized) Activate(handle);
  if ((w = Find(handle)) == nullptr) return wasVisible;
  bool changed = false;
  switch (target) {
    case Target::Maximized: changed = !w->maximized || w->minimized; break;
    case Target::Minimized: changed = !w->minimized; break;
    case Target::Restored: changed = w->maximized || w->minimized; break;
    case Target::Keep: break;
  }
  if (changed) {
    w->maximized = target == Target::Maximized;
    w->minimized = target == Target::Minimized;
    w->style = (w->style & ~WS_MAXIMIZE) | (w->maximized ? WS_MAXIMIZE : 0);
    w->needsPaint = !w->minimized;
    SendSizeAndMove(handle);
  }
  Notify(handle);
  return wasVisible;
}

extern "C" BOOL WINAPI UpdateWindow(HWND handle) {
  Window* w = Find(handle);
  if (w == nullptr) return FALSE;
  if (w->visible && w->needsPaint) Send(handle, WM_PAINT, 0, 0);
  return TRUE;
}

extern "C" BOOL WINAPI DestroyWindow(HWND handle) {
  Window* w = Find(handle);
  if (w == nullptr || w->destroying) return FALSE;
  w->destroying = true;
  if (w->visible) {
    w->visible = false;
    w->style &= ~WS_VISIBLE;
  }
  Deactivate(handle);
  Send(handle, WM_DESTROY, 0, 0);
  Send(handle, WM_NCDESTROY, 0, 0);
  if (state().backend != nullptr) state().backend->WindowDestroyed(handle);
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  // Posted messages for a destroyed window are dropped with it.
  for (auto& entry : s.queues) {
    auto& posted = entry.second.posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [handle](const MSG& m) { return m.hwnd == handle; }),
                 posted.end());
  }
  s.windows.erase(handle);
  return TRUE;
}

extern "C" BOOL WINAPI IsWindow(HWND handle) { return Find(handle) != nullptr ? TRUE : FALSE; }

extern "C" LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT: {
      // BeginPaint/EndPaint: the update region is validated.
      Window* w = Find(handle);
      if (w != nullptr) w->needsPaint = false;
      return 0;
    }
    case WM_ERASEBKGND:
      return 0;  // the null brush erases nothing
    case WM_NCACTIVATE:
      return TRUE;
    case WM_SYSKEYDOWN:
      // Alt+F4 asks the window to close (through WM_SYSCOMMAND SC_CLOSE on Windows).
      if (wParam == VK_F4 && (lParam & (1 << 29))) Send(handle, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

extern "C" BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  return Post(handle, message, wParam, lParam) ? TRUE : FALSE;
}

extern "C" void WINAPI PostQuitMessage(int exitCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Queue& q = QueueOf(s, std::this_thread::get_id());
  q.quit = true;
  q.quitCode = exitCode;
}

extern "C" BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax,
                                    UINT remove) {
  if (message == nullptr) return FALSE;
  PumpDesktopEvents();
  State& s = state();
  HWND paint = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    Queue& q = QueueOf(s, std::this_thread::get_id());
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
      if (!Matches(*it, window, filterMin, filterMax)) continue;
      *message = *it;
      if (remove & PM_REMOVE) q.posted.erase(it);
      return TRUE;
    }
    if (q.quit && ((filterMin == 0 && filterMax == 0) ||
                   (filterMin <= WM_QUIT && WM_QUIT <= filterMax))) {
      MSG m{};
      m.message = WM_QUIT;
      m.wParam = static_cast<WPARAM>(q.quitCode);
      m.time = MessageTime();
      *message = m;
      if (remove & PM_REMOVE) q.quit = false;
      return TRUE;
    }
    // WM_PAINT is not queued: it is made up while a window needs painting and
    // stays until the window is validated.
    if ((filterMin == 0 && filterMax == 0) || (filterMin <= WM_PAINT && WM_PAINT <= filterMax)) {
      for (auto& entry : s.windows) {
        Window& w = *entry.second;
        if (w.visible && w.needsPaint && w.owner == std::this_thread::get_id() &&
            (window == nullptr || window == w.handle)) {
          paint = w.handle;
          break;
        }
      }
    }
  }
  if (paint != nullptr) {
    MSG m{};
    m.hwnd = paint;
    m.message = WM_PAINT;
    m.time = MessageTime();
    *message = m;
    return TRUE;
  }
  return FALSE;
}

extern "C" HWND WINAPI GetForegroundWindow(void) { return state().foreground; }

extern "C" BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
  Window* w = Find(handle);
  if (w == nullptr || rect == nullptr) return FALSE;
  SIZE size = ClientSize(*w);
  *rect = RECT{0, 0, size.cx, size.cy};
  return TRUE;
}

extern "C" BOOL WINAPI ClientToScreen(HWND handle, LPPOINT point) {
  Window* w = Find(handle);
  if (w == nullptr || point == nullptr) return FALSE;
  POINT origin = ClientOrigin(*w);
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}
