// Live blocks of the C++ heap, counted by this program's own operator new and
// delete (heap_count.cpp, listed in the sources of the programs that count).
#pragma once

long KivLiveHeapBlocks();
