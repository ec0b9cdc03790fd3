// The packed tree's scripts: every .lua file of a folder also as the compiled .out chunk read from "data.pcl".
#pragma once

// Writes X.out beside every X.lua below the folder; false (with the reason on
// standard error) when a script does not compile or cannot be written.
bool KivViewerCompileScripts(const char *folder);
