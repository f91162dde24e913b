// Photos decoded in a cage. A decoder service, started once per process
// (Cage.h: an unprivileged user, bounded memory), starts libvips and then
// locks itself away from files, sockets and other programs; for each photo
// it forks a decoder (with the job's CPU time) that renders the page with
// RenderPhoto and hands it back through a socket, under a supervisor that
// kills it when the job cancels. The page is taken only when it is
// exactly the page asked for. A decoder exploit then reaches neither the
// network, the spool nor the printers, and the photo costs a fork, not a
// program's start.
#pragma once

#include "Cage.h"
#include "PhotoRender.h"

#include <string>

namespace vantora_photo {

// The argument that makes a program the photo decoder.
inline constexpr char kPhotoDecoderArgument[] = "--vantora-photo-decoder";

// Memory and CPU time of one photo's decoding.
inline constexpr rlim_t kDecoderMemory = rlim_t{1} << 30;
inline constexpr int kDecoderCpuSeconds = 30;

// True when the program was started as the photo decoder service: main()
// then returns PhotoDecoderMain's status at once.
bool IsPhotoDecoderCall(int argc, char* argv[]);

// The photo decoder service, its requests on standard input. Returns the
// exit status once the caller's side closes.
int PhotoDecoderMain(int argc, char* argv[]);

// Starts this process's decoder service as a fork of this process rather
// than the program started again: cheaper for a program that decodes one
// photo. Only while the process has a single thread. False when it could
// not start (RenderPhotoCaged then starts the program).
bool StartPhotoDecoderHere();

// The program started as the decoder service: the running program itself
// (/proc/self/exe) unless set, as tests do. Ends a running service.
void SetPhotoDecoderProgram(const std::string& path);

// RenderPhoto in the decoder: the same page, the same refusals; its CPU
// time is taken from `budget` (may be null). A decoder that crashes or
// goes past its limits refuses the photo with the reason.
RenderResult RenderPhotoCaged(int fd, const PageRequest& request, vantora_cage::CpuBudget* budget,
                              RenderedPage* page, std::string* reason);

}  // namespace vantora_photo
