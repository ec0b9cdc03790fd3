// pcl: packs a folder into a packed archive, lists an archive, extracts or compacts one.
#include "archive/tools/PclTool.h"

int main(int argc, char **argv)
{
    return PclMain(argc, argv);
}
