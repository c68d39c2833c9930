#pragma once
// Sample time objects for the screen renderer, the end-to-end test and the start-up benchmark.
// Needs an activated assembly (the default factory) and an open store; main thread only.
// Test-only.

#include <string>
#include <vector>

namespace tw::app::sample {

struct Entry {
  std::string title;
  int kind;     // 0 alarm, 1 timer, 2 stopwatch
  int minutes;  // a timer's duration, an alarm's minute past 7:00
  bool running;
};

// Inserts the objects in order, starts the running ones through their controls, and saves.
void insert(const std::vector<Entry>& entries);
// A few of each kind, some running.
void insertShowcase();
// A few actions on the showcase's timer "Tea" (one switched off, one a link to "Pasta"), saved.
void insertSampleActions();
// `count` timers, the first `running` of them running.
void insertTimers(int count, int running);

}  // namespace tw::app::sample
