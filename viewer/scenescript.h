// The sample's scene script: run once on the current world, then called every frame and before the world goes.
#pragma once

class SceneScript
{
public:
    // Runs the file through the engine's script binder; false when it did not
    // run (a load or run error is in "Lua.log").
    bool Run(const char *file);
    // The script's SampleFrame(seconds); after a failure it is not called again.
    void Frame(float seconds);
    // The script's SampleEnd(): it lets go of what it made (called also after a failed run).
    void End();

private:
    // A missing function is an error only when it must exist.
    bool Call(const char *function, int arguments, float seconds, bool mustExist);

    bool m_ran = false;
    bool m_frameFailed = false;
};
