// vantora_rt50_filter: CUPS raster to VANTORA RT-50 command stream.
#include "FilterJob.h"

int main(int argc, char* argv[])
{
    KeepPageBlocksInHeap();
    return FilterMain(argc, argv);
}
