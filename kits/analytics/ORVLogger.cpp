#include "kits/analytics/ORVLogger.h"

#include "platform/foundation/Log.h"

ORVLogger& ORVLogger::sharedLogger() {
  static ORVLogger logger;
  return logger;
}

void ORVLogger::internalLog(const std::string& text) {
  if (debugMode()) tw::log(text);
}
