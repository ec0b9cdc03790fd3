// pcl as it ships, with the calling thread's allocations refused from the
// n-th on from the very start (KIV_PCL_FAIL_AFTER=n): a process that runs
// out of memory before its first command has done anything.
#include <windows.h>

#include <cstdlib>

#include "archive/tools/PclTool.h"
#include "support/failnew/fail_new.h"

int main(int argc, char **argv)
{
    char after[16];
    const DWORD n = GetEnvironmentVariableA("KIV_PCL_FAIL_AFTER", after, sizeof after);
    if (n && n < sizeof after)
        FailNewAfter(atol(after));
    return PclMain(argc, argv);
}
