// A program that ends in each of the ways a test program can, for the checks of
// the test harness (endings.sh, and infra_wine_test's crash case). A case runs
// only when named: --gtest_also_run_disabled_tests --gtest_filter=Ends.DISABLED_...
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(Ends, DISABLED_WritingThroughNull)
{
    SetErrorMode(0);
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
}

TEST(Ends, DISABLED_Aborting)
{
    std::abort();
}

// Some crashes end the whole process at once with status 0 (seen with a stack
// overflow inside the system's code): the run as CTest starts it must fail.
TEST(Ends, DISABLED_VanishingWithStatus0)
{
    TerminateProcess(GetCurrentProcess(), 0);
}

// Out of a thread's function no handler of the test framework can catch it.
TEST(Ends, DISABLED_LettingAnExceptionOut)
{
    std::thread([] { throw std::runtime_error("no handler"); }).join();
}

// A program with a window is on the desktop, as device tests are.
TEST(Ends, DISABLED_PassingWithAWindow)
{
    HWND window = CreateWindowExA(0, "STATIC", "ending", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_TRUE(DestroyWindow(window));
}

std::FILE *unclosed = nullptr;

void WriteAtExit()
{
    std::fputs("written at exit\n", unclosed);
}

// Writes a line to the file KIV_UNCLOSED_FILE names and leaves the stream open,
// and an atexit function writes another: both must be in the file once the
// program has ended, the streams being flushed after the exit work.
TEST(Ends, DISABLED_PassingWithAnUnclosedStream)
{
    const char *name = std::getenv("KIV_UNCLOSED_FILE");
    ASSERT_NE(name, nullptr);
    unclosed = std::fopen(name, "w");
    ASSERT_NE(unclosed, nullptr);
    EXPECT_GT(std::fputs("written before the end\n", unclosed), -1);
    EXPECT_EQ(0, std::atexit(WriteAtExit));
}

// Runs past any time limit a test gives it.
TEST(Ends, DISABLED_Hanging)
{
    Sleep(INFINITE);
}

}  // namespace
