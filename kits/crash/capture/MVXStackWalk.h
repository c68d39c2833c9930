#pragma once
// Connects the crash kit to the stack unwinder: the unwinder reads memory through the
// kernel-checked MVXReadMemory, finds images in the kit's lock-free binary-image table and writes
// its messages to the kit log. The walk itself reads the images' unwind tables frame by frame and
// takes the frame-pointer chain only where an image has none for a frame.
//
// MVXStackWalkConnect runs once at set-up, before the handlers are installed;
// MVXStackWalkRecordThreadStack on each thread that may walk, outside signal handlers. Walks are
// async-signal-safe; the caller owns the MVXUnwindContext (one per walk, on the signal stack).

#include <ucontext.h>

#include <cstddef>

#include "kits/crash/unwind/MVXUnwind.h"

void MVXStackWalkConnect();
// Lets walks on the calling thread read its own stacks with plain loads.
void MVXStackWalkRecordThreadStack();
// Starts a walk from a thread's registers; the first MVXUnwindNextFrame yields their pc.
bool MVXStackWalkInit(MVXUnwindContext* walk, const mcontext_t* context);
// The kit log level of an unwinder line, read from the level word that leads its format: its
// per-frame traces are debug lines, off while a crash is walked.
int MVXStackWalkLogLevel(const char* format);
// Formats an unwinder message as the kit log writes it; for tests.
std::size_t MVXStackWalkFormatLog(char* out, std::size_t size, const char* format, ...);
