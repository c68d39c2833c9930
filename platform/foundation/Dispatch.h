#pragma once
// Dispatch queues, the main run loop, delayed work, semaphores and groups: the dispatch layer,
// gathered under one header. Owned by platform/foundation; every type here may be used from any
// thread unless a member says otherwise. Each concept has a header of its own:
//   - platform/foundation/DispatchQueue.h: the main, serial and global queues;
//   - platform/foundation/DelayedWork.h: the handle on a block that runs later;
//   - platform/foundation/RunLoop.h: the main run loop and the driver that wakes it;
//   - platform/foundation/Semaphore.h, platform/foundation/DispatchGroup.h: waiting for work;
//   - platform/foundation/BlockingScope.h: a blocking wait the global pool must know of;
//   - platform/foundation/MainThread.h: the main thread and TW_MAIN_THREAD_ONLY;
//   - platform/foundation/DispatchThreadHooks.h: the crash kit's hooks on new threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/BlockingScope.h"
#include "platform/foundation/DelayedWork.h"
#include "platform/foundation/DispatchGroup.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/DispatchThreadHooks.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Semaphore.h"
