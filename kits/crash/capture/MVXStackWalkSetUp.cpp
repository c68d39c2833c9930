#include "kits/crash/capture/MVXStackWalk.h"

#include "kits/crash/capture/MVXSDKLog.h"

void MVXStackWalkRecordThreadStack() {
  if (!MVXUnwindRecordCurrentThreadStack()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to find this thread's stack\n");
  }
}
