// A library the crash child opens at run time; its one function writes through a null pointer.
extern "C" __attribute__((noinline)) void tw_plugin_write_null(volatile int* target) {
  *target = 42;
  asm volatile("" ::: "memory");
}
