// Debugger-output messages of the engine, through a sink that tests may replace.
#pragma once

typedef void (*KivDebugSink)(const char *text);

// Formats without a length limit and hands the text to the sink
// (OutputDebugStringA unless replaced).
void KivDebugPrintf(const char *format, ...);
// Installs a sink (null: the debugger output again); returns the previous one.
KivDebugSink KivDebugSetSink(KivDebugSink sink);
