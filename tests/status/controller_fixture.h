// Shared state of the controller tests: the private scheduler and its queues.
#pragma once

#include "private_cupsd.h"

#include <QString>

namespace status_test {

extern vantora_test::PrivateCupsd *gCupsd;
// Private HOME of the test process (for saved instances).
extern QString gHome;

}  // namespace status_test
