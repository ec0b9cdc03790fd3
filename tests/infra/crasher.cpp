// Dies of an access violation: the prefix must let such a program end at once
// instead of holding it in a crash dialog.
#include <windows.h>

int main()
{
    SetErrorMode(0);
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
