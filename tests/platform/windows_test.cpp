#include <string>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local std::vector<Seen>* t_seen = nullptr;

LRESULT Recorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (t_seen) t_seen->push_back({hwnd, message, wParam, lParam});
    return 0;
}

HWND MakeWindow() {
    static const bool registered = [] {
        WNDCLASSA c{};
        c.lpfnWndProc = Recorder;
        c.lpszClassName = "MxTestRecorder";
        return RegisterClassA(&c) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowExA(0, "mxtestrecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

TEST(WindowsTest, MessagesPostedFromAnotherThreadReachTheOwnerInOrder) {
    std::vector<Seen> seen;
    t_seen = &seen;
    HWND w = MakeWindow();
    ASSERT_NE(nullptr, w);
    std::thread poster([w] {
        for (int i = 1; i <= 3; ++i) EXPECT_TRUE(PostMessageA(w, WM_USER + 3200, WPARAM(i), LPARAM(i * 10)));
        PostMessageA(w, WM_USER + 3201, 7, 0);
    });
    poster.join();
    MSG msg;
    while (seen.size() < 4 && GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    ASSERT_EQ(4u, seen.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(UINT(WM_USER + 3200), seen[size_t(i)].message);
        EXPECT_EQ(WPARAM(i + 1), seen[size_t(i)].wParam);
        EXPECT_EQ(LPARAM((i + 1) * 10), seen[size_t(i)].lParam);
    }
    EXPECT_EQ(w, seen[3].hwnd);
    EXPECT_TRUE(DestroyWindow(w));
    t_seen = nullptr;
}

TEST(WindowsTest, PostingToAnUnknownOrDestroyedWindowFails) {
    HWND w = MakeWindow();
    EXPECT_TRUE(IsWindow(w));
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(IsWindow(w));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x1234), WM_USER, 0, 0));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(nullptr, CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());
}

TEST(WindowsTest, PeekLeavesOrTakesAndQuitEndsTheLoop) {
    HWND w = MakeWindow();
    PostMessageA(w, WM_USER + 1, 1, 0);
    PostMessageA(w, WM_USER + 2, 2, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_NOREMOVE));
    EXPECT_EQ(WPARAM(2), msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(UINT(WM_USER + 1), msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    PostQuitMessage(5);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(UINT(WM_QUIT), msg.message);
    EXPECT_EQ(WPARAM(5), msg.wParam);
    DestroyWindow(w);
}

TEST(WindowsTest, EachThreadHasItsOwnMainWindow) {
    CWnd main;
    main.m_hWnd = MakeWindow();
    AfxGetThread()->m_pMainWnd = &main;
    CWnd* other = &main;
    std::thread([&other] { other = AfxGetThread()->m_pMainWnd; }).join();
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(&main, AfxGetThread()->m_pMainWnd);
    AfxGetThread()->m_pMainWnd = nullptr;
    DestroyWindow(main.m_hWnd);
}

}  // namespace
