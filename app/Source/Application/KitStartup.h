#pragma once
// The one place where the application starts its crash-reporting kits at launch. Main thread.

namespace tw::app {

// Registers the default "NSApplicationCrashOnExceptions" = YES, then starts the kit registry
// with the crash kit (only the first call in the process does anything).
void setupReportingAndAnalytics();

}  // namespace tw::app
