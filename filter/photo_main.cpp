// vantora_rt50_photo: prints a photo (JPEG, PNG, ...) on the RT-50 filling
// the printable page, through imagetoraster and the raster filter.
#include "FilterJob.h"
#include "PhotoFill.h"

int main(int argc, char* argv[])
{
    KeepPageBlocksInHeap();
    return PhotoFilterMain(argc, argv);
}
