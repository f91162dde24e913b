// The class keeper: a thread of the daemon that keeps one CUPS class per
// loaded media and stops and starts the class members as their printers
// fail and recover (ClassPlan.h). Each round, every classRound or sooner
// when a worker posts news, it reads the printers' facts (PrinterBoard.h),
// the failover marks and the backends' pause files, asks the scheduler for
// its queues and classes, and carries out the plan.
//
// A member is stopped by writing its failover mark first and then pausing
// the queue, and started by resuming the queue first and then removing the
// mark, so that a queue the keeper stopped always carries a mark. The
// keeper reports a refused request once until it succeeds again; a
// scheduler that does not answer is left to the queue registration to
// report.
#pragma once

namespace vantora_usbmon {

// Starts the keeper's thread when the settings keep classes. False when the
// thread could not be started.
bool StartClassKeeper();

// Stops the keeper's thread and waits for it. Harmless when not running.
void StopClassKeeper();

// Rounds done since the start, for tests.
long ClassKeeperRounds();

}  // namespace vantora_usbmon
