// The executable must stay under 64 KiB. A function inlined into the run,
// whose frame holds large buffers, reaches each of its locals through a long
// offset: the larger functions that the run calls stay out of its body.
#pragma once

#define OUT_OF_LINE __attribute__((noinline))
