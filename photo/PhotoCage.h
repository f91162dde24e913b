// Photos decoded in a cage: the program starts itself again as the photo
// decoder (Cage.h: an unprivileged user, bounded memory and CPU time,
// killed at a cancel), which locks itself away from files, sockets and
// other programs once libvips is loaded, renders the page with
// RenderPhoto and hands it back through a pipe. The page is taken only
// when it is exactly the page asked for. A decoder exploit then reaches
// neither the network, the spool nor the printers.
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

// True when the program was started as the photo decoder: main() then
// returns PhotoDecoderMain's status at once.
bool IsPhotoDecoderCall(int argc, char* argv[]);

// The photo decoder: the photo on standard input, the page on standard
// output. Returns the exit status (0 when it wrote a page or a refusal).
int PhotoDecoderMain(int argc, char* argv[]);

// The program started as the decoder: the running program itself
// (/proc/self/exe) unless set, as tests do.
void SetPhotoDecoderProgram(const std::string& path);

// RenderPhoto in the decoder: the same page, the same refusals; its CPU
// time is taken from `budget` (may be null). A decoder that crashes or
// goes past its limits refuses the photo with the reason.
RenderResult RenderPhotoCaged(int fd, const PageRequest& request, vantora_cage::CpuBudget* budget,
                              RenderedPage* page, std::string* reason);

}  // namespace vantora_photo
