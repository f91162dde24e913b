// The emulated printer's model on its own: command stream, replies, jobs.
#include "PrinterModel.h"
#include "UsbTestClient.h"

#include <gtest/gtest.h>

namespace {
TEST(PrinterModel, Placeholder) { SUCCEED(); }
}  // namespace
