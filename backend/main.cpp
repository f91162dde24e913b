// vantora-zpxbackend: the CUPS backend of the RT-50's queues. Without
// arguments it lists the attached RT-50s; with the backend arguments it
// carries a job to the printer whose serial number the device URI names.
#include "BackendMain.h"

#include <cstdio>

int main(int argc, char** argv)
{
    return vantora_backend::RunBackend(argc, argv, stderr, stdout);
}
