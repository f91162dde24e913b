// The testbed owner and its clients must run under umockdev's preload
// library: the clients so that their device access reaches the emulator, the
// owner so that hot-plug events reach the clients.
#pragma once

#include <string>

namespace rt50emu {

// True when the umockdev preload library is in this process's LD_PRELOAD.
bool RunningPreloaded();

// Re-executes the program under the preload library when it does not run
// under it yet (with the AddressSanitizer runtime first, if this program
// carries one). Returns only when already preloaded, or with false when the
// re-execution failed.
bool EnsurePreloaded(char** argv);

// LD_PRELOAD for a child program: the emulator's event socket library, the
// preload library and whatever the user had preloaded before the emulator
// added its own. The emulator also puts it into RT50_EMULATOR_PRELOAD for
// programs that scripts start otherwise.
std::string ChildPreload();

}  // namespace rt50emu
