#pragma once
// Frames for the symbolication tests: C++ functions of several kinds (namespaced, member,
// template, internal) and two hand-written ones that fault on their first instruction or return
// onto the start of the next function. Linked by the crashing child and by the tests, so both
// processes hold the same image. Any thread.

extern "C" {
// mode 0: a write through null inside an internal function; mode 1: a fault on the first
// instruction of symbols_child_fault_at_entry, called last by symbols_child_calls_noreturn.
int symbols_child_run(int mode);
// Parks the calling thread for good a few named frames deep; increments *ready first.
void symbols_child_park(volatile int* ready);
void symbols_child_fault_at_entry();
void symbols_child_before_entry();
void symbols_child_calls_noreturn();
void symbols_child_after_noreturn();
}

namespace symbols_child {
// Not exported through a header of the library's users; named only by its symbol table.
int exportedLeaf(int value);
}  // namespace symbols_child
