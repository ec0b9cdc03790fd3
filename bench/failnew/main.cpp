// What one allocation costs through the tests' allocation-failure seam, in each
// of its modes, beside a thrown exception and the engine's one-millisecond wait
// between tries: run it quiet and beside busy loops to see which of them grows
// with the machine's load.
//   failnew_bench [ROUNDS] [THREADS]   (THREADS run the same loops at once)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "support/failnew/fail_new.h"
#include "bench/benchmode.h"

namespace {

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

volatile long sink = 0;

void NewAndDelete()
{
    char *p = new char[24];
    sink += p[0] = 1;
    delete[] p;
}

void MallocAndFree()
{
    char *p = static_cast<char *>(std::malloc(24));
    sink += p[0] = 1;
    std::free(p);
}

void RefusedNew()
{
    FailNewAfter(0);
    try {
        NewAndDelete();
    } catch (const std::bad_alloc &) {
        sink += 1;
    }
    FailNewEnd();
}

void RefusedMalloc()
{
    FailNewAfter(0);
    sink += std::malloc(24) == nullptr;
    FailNewEnd();
}

void CountedNew()
{
    FailNewAfter(1 << 30);
    NewAndDelete();
    FailNewEnd();
}

void ThrownAlone()
{
    try {
        throw std::bad_alloc();
    } catch (const std::bad_alloc &) {
        sink += 1;
    }
}

void SleepOne()
{
    Sleep(1);
}

struct Case {
    const char *name;
    void (*run)();
    long rounds;   // for ROUNDS 1
};

const Case kCases[] = {
    {"new+delete", NewAndDelete, 200000},
    {"malloc+free", MallocAndFree, 200000},
    {"new+delete, counted by a sweep", CountedNew, 200000},
    {"new refused (bad_alloc caught)", RefusedNew, 20000},
    {"malloc refused (null)", RefusedMalloc, 200000},
    {"bad_alloc thrown and caught alone", ThrownAlone, 20000},
    {"Sleep(1)", SleepOne, 200},
};

struct Work {
    const Case *c;
    long rounds;
    double seconds;
};

DWORD WINAPI Runner(void *data)
{
    Work *w = static_cast<Work *>(data);
    const double start = Now();
    for (long i = 0; i < w->rounds; i++)
        w->c->run();
    w->seconds = Now() - start;
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    KivBenchSayDirect3DMode(false);
    const long scale = argc > 1 ? std::atol(argv[1]) : 1;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
    std::printf("%-36s %12s   (%d thread%s)\n", "per call", "microseconds", threads, threads == 1 ? "" : "s");
    for (const Case &c : kCases) {
        std::vector<Work> work(threads, Work{&c, c.rounds * (scale > 0 ? scale : 1), 0.0});
        std::vector<HANDLE> handles;
        for (Work &w : work)
            handles.push_back(CreateThread(nullptr, 0, Runner, &w, 0, nullptr));
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
        double worst = 0;
        for (size_t i = 0; i < handles.size(); i++) {
            CloseHandle(handles[i]);
            worst = work[i].seconds > worst ? work[i].seconds : worst;
        }
        std::printf("%-36s %12.3f\n", c.name, worst * 1e6 / static_cast<double>(work[0].rounds));
    }
    return 0;
}
