// Windows and messages as the demo's window procedure sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "standin/desktop.h"
#include "standin/host.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;
std::string g_caption;

// Handles messages as the demo does: close and destroy end the message loop.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({message, wParam, lParam});
  switch (message) {
    case WM_CREATE:
      g_caption = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpszName;
      return 0;
    case WM_CLOSE:
      DefWindowProcA(window, message, wParam, lParam);
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK RefusingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({message, wParam, lParam});
  if (message == WM_CREATE) return -1;
  return DefWindowProcA(window, message, wParam, lParam);
}

void Register(const char* name, WNDPROC proc) {
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  c.lpfnWndProc = proc;
  c.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  c.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  c.lpszClassName = name;
  c.hIconSm = c.hIcon;
  ASSERT_NE(RegisterClassExA(&c), 0);
}

void DrainQueue() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_PAINT) {
  }
}

// The messages the demo's procedure acts on, in order.
std::vector<std::string> DemoRelevant() {
  std::vector<std::string> out;
  for (const Seen& s : g_seen) {
    int w = LOWORD(s.lParam), h = HIWORD(s.lParam);
    switch (s.message) {
      case WM_CREATE: out.push_back("CREATE"); break;
      case WM_SIZE:
        out.push_back("SIZE " + std::to_string(s.wParam) + " " + std::to_string(w) + "x" +
                      std::to_string(h));
        break;
      case WM_MOVE: out.push_back("MOVE " + std::to_string(w) + "," + std::to_string(h)); break;
      case WM_PAINT: out.push_back("PAINT"); break;
      case WM_CLOSE: out.push_back("CLOSE"); break;
      case WM_DESTROY: out.push_back("DESTROY"); break;
      case WM_ACTIVATE: out.push_back("ACTIVATE " + std::to_string(s.wParam)); break;
      default: break;
    }
  }
  return out;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    DrainQueue();
    standin::DefaultHeadlessHost().SetDisplayMode(0, 0, 0);
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    DrainQueue();
    standin::DefaultHeadlessHost().SetDisplayMode(0, 0, 0);
  }
  HWND window_ = nullptr;
};

TEST_F(WindowTest, FullscreenCreationAndShowingReachTheProcedureInWindowsOrder) {
  Register("OrderClass", RecordingProc);
  // The demo's sequence: create visible and maximised, show maximised, show
  // with the caller's command (which restores), maximise again, update.
  window_ = CreateWindowExA(WS_EX_TOPMOST, "orderclass", "Brisolo - Wir kommen!",
                            WS_VISIBLE | WS_MAXIMIZE, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                            nullptr);
  ASSERT_NE(window_, nullptr);
  EXPECT_EQ(g_seen.front().message, static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(g_caption, "Brisolo - Wir kommen!");
  EXPECT_EQ(GetForegroundWindow(), window_);
  ShowWindow(window_, SW_SHOWMAXIMIZED);
  ShowWindow(window_, SW_SHOWNORMAL);
  ShowWindow(window_, SW_SHOWMAXIMIZED);
  UpdateWindow(window_);
  const std::vector<std::string> expected = {
      "CREATE",     "SIZE 0 0x0",  "MOVE 0,0",   "SIZE 2 1024x768", "MOVE 0,0",
      "ACTIVATE 1", "SIZE 0 0x0",  "MOVE 0,0",   "SIZE 2 1024x768", "MOVE 0,0",
      "PAINT"};
  EXPECT_EQ(DemoRelevant(), expected);

  // Painting validated the window: nothing is left to peek.
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));

  // Once a display mode is set, the fullscreen client area is the virtual screen.
  standin::CurrentHost().SetDisplayMode(800, 600, 16);
  RECT r{};
  ASSERT_TRUE(GetClientRect(window_, &r));
  EXPECT_EQ(r.right, 800);
  EXPECT_EQ(r.bottom, 600);
  POINT p{5, 7};
  ASSERT_TRUE(ClientToScreen(window_, &p));
  EXPECT_EQ(p.x, 5);
  EXPECT_EQ(p.y, 7);
}

TEST_F(WindowTest, OverlappedWindowHasTheGivenOuterSizeAndAFramedClientArea) {
  Register("FramedClass", RecordingProc);
  window_ = CreateWindowExA(0, "FramedClass", "x", WS_OVERLAPPEDWINDOW, 10, 20, 640, 480, nullptr,
                            nullptr, nullptr, nullptr);
  ASSERT_NE(window_, nullptr);
  EXPECT_NE(GetForegroundWindow(), window_);  // not shown yet
  ShowWindow(window_, SW_SHOWNORMAL);
  EXPECT_EQ(GetForegroundWindow(), window_);
  RECT r{};
  ASSERT_TRUE(GetClientRect(window_, &r));
  // Sizing border 4 on each side, caption 19.
  EXPECT_EQ(r.right, 640 - 8);
  EXPECT_EQ(r.bottom, 480 - 8 - 19);
  POINT p{0, 0};
  ASSERT_TRUE(ClientToScreen(window_, &p));
  EXPECT_EQ(p.x, 14);
  EXPECT_EQ(p.y, 43);
  // Losing the foreground deactivates it.
  g_seen.clear();
  standin::SimulateFocusChange(window_, false);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_EQ(DemoRelevant(), std::vector<std::string>{"ACTIVATE 0"});
}

TEST_F(WindowTest, CloseRequestDestroysTheWindowAndQueuesQuit) {
  Register("CloseClass", RecordingProc);
  window_ = CreateWindowExA(WS_EX_TOPMOST, "CloseClass", "c", WS_VISIBLE | WS_MAXIMIZE, 0, 0, 0,
                            0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window_, nullptr);
  UpdateWindow(window_);
  ASSERT_TRUE(PostMessageA(window_, WM_USER, 1, 2));
  g_seen.clear();
  standin::SimulateCloseRequest(window_);
  EXPECT_EQ(DemoRelevant(), (std::vector<std::string>{"CLOSE", "ACTIVATE 0", "DESTROY"}));
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  // The window's own posted message went with it; the quit message remains.
  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  // A dead handle is refused everywhere.
  RECT r{};
  EXPECT_FALSE(GetClientRect(window_, &r));
  EXPECT_FALSE(PostMessageA(window_, WM_USER, 0, 0));
  EXPECT_FALSE(DestroyWindow(window_));
}

TEST_F(WindowTest, PostedMessagesWaitInTheQueueUntilPeekedWithRemove) {
  Register("QueueClass", RecordingProc);
  window_ = CreateWindowExA(0, "QueueClass", "q", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                            200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window_, nullptr);
  UpdateWindow(window_);
  g_seen.clear();
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 1, 7, 9));
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 2, 8, 10));
  EXPECT_TRUE(g_seen.empty());  // posted messages never reach the procedure by themselves

  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
  // A range filter skips the first.
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 2));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(m.lParam, 9);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));

  // Posted messages come before a pending quit; a full queue refuses more.
  PostQuitMessage(3);
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 3, 0, 0));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 3));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  int accepted = 0;
  while (PostMessageA(window_, WM_USER, 0, 0) && accepted < 20000) ++accepted;
  EXPECT_EQ(accepted, 10000);
}

TEST_F(WindowTest, RefusedCreationDestroysTheHalfMadeWindow) {
  Register("RefuseClass", RefusingProc);
  EXPECT_EQ(CreateWindowExA(0, "RefuseClass", "r", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);
  ASSERT_GE(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[1].message, static_cast<UINT>(WM_CREATE));
  EXPECT_EQ(g_seen[2].message, static_cast<UINT>(WM_DESTROY));
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "r", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                            nullptr),
            nullptr);
  // The same class cannot be registered twice.
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = RefusingProc;
  c.lpszClassName = "REFUSECLASS";
  EXPECT_EQ(RegisterClassExA(&c), 0);
}

TEST(Resources, SystemIconsCursorsAndStockObjectsExistAndOthersDoNot) {
  EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_NE(static_cast<void*>(LoadIconA(nullptr, IDI_APPLICATION)),
            static_cast<void*>(LoadCursorA(nullptr, IDC_ARROW)));
  EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(LoadIconA(reinterpret_cast<HINSTANCE>(0x400000), IDI_APPLICATION), nullptr);
  EXPECT_NE(GetStockObject(NULL_BRUSH), nullptr);
  EXPECT_NE(GetStockObject(NULL_BRUSH), GetStockObject(BLACK_BRUSH));
  EXPECT_EQ(GetStockObject(-1), nullptr);
  EXPECT_EQ(GetStockObject(9), nullptr);
}

}  // namespace
