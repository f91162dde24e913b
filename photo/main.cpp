// vantora_rt50_photo: prints a photo (JPEG, PNG, TIFF, WebP, HEIF, GIF) on
// the RT-50: the photo front end renders the page in a caged child of this
// program and the raster filter's job driver prints it.
#include "FilterJob.h"
#include "PhotoCage.h"
#include "PhotoJob.h"

int main(int argc, char* argv[])
{
    if (vantora_photo::IsPhotoDecoderCall(argc, argv))
        return vantora_photo::PhotoDecoderMain(argc, argv);
    KeepPageBlocksInHeap();
    return vantora_photo::PhotoFilterMain(argc, argv);
}
