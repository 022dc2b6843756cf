// The desktop's clipboard: text, file lists and images. With a display the
// system clipboard is reached through its command-line tools (wl-copy and
// wl-paste under Wayland, else xclip or xsel under X); with no display, or no
// tool, a clipboard of this process keeps what was written.
#pragma once

#include "runtime/cell.h"

namespace vyx::clipboard {

// The clipboard's contents pushed as a string!, a block of file! values (the
// files' absolute paths) or an image!; the shared none when the clipboard
// holds nothing it can give, the shared false when a tool failed or did not
// answer in time. Text is preferred, then files, then images.
const Cell* read();

// Puts a string!, a block of file! and string! paths, an image! or none (the
// clipboard emptied) on the clipboard; whether it worked. Any other value,
// or a block holding another value, raises invalid-arg before the clipboard
// is touched.
bool write(const Cell* value);

}  // namespace vyx::clipboard
