// main() for GoogleTest programs that use the emulator (link
// vantora_rt50_emulator_gtest_main instead of GTest::gtest_main): the tests'
// own libusb calls must go through the umockdev preload library, so the
// program first re-executes itself under it.
#include "Preload.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (!rt50emu::EnsurePreloaded(argv)) {
        std::fprintf(stderr, "cannot run under libumockdev-preload.so.0\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
