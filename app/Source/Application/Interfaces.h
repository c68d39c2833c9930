#pragma once
// The application's interfaces by name, registered with the core's loaders: "Main" (initial
// controller "rootWindowController": the main window with its split view) and the timing
// display interfaces the split view loads per selection. Main thread.

namespace tw::app {

// Idempotent; called once by main before the application starts.
void registerInterfaces();

}  // namespace tw::app
