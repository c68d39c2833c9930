#include "kits/crash/bridge/MVXEBVAnalytics.h"

#include <cmath>
#include <mutex>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXUserLogging.h"
#include "kits/platform/Emberlyn.h"
#include "kits/platform/Tessaly.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace {

struct PlatformClass {
  // Guards looked and cls.
  std::mutex mutex;
  bool looked = false;
  std::shared_ptr<tw::RuntimeClass> cls;
};

PlatformClass& platform() {
  static auto* shared = new PlatformClass;  // used from any thread up to the process's end
  return *shared;
}

bool debugMode() {
  auto sdk = Tessaly::sharedSDK();
  return sdk && sdk->debug();
}

// A message sent to a platform object, as a value; null when the object does not answer it.
tw::Value ask(const tw::Value& target, const char* selector) {
  auto object = target.objectAs<tw::RuntimeObject>();
  if (!object || !object->respondsToSelector(selector)) return tw::Value();
  return object->perform(selector);
}

}  // namespace

std::shared_ptr<tw::RuntimeClass> MVXEBVAnalytics::platformClass() {
  PlatformClass& p = platform();
  std::lock_guard lock(p.mutex);
  if (!p.looked) {
    p.looked = true;
    auto cls = tw::runtime::classNamed(tw::emberlyn::kAnalyticsClassName);
    if (cls && cls->respondsToSelector(tw::emberlyn::kLogInternalEvent) &&
        cls->respondsToSelector(tw::emberlyn::kAddLogEventListener)) {
      p.cls = std::move(cls);
    }
  }
  return p.cls;
}

bool MVXEBVAnalytics::emberlynMode() {
  auto sdk = Tessaly::sharedSDK();
  return sdk && sdk->emberlynMode() && platformClass() != nullptr;
}

tw::Dictionary MVXEBVAnalytics::buildLogParamsFromCrash(double timeStamp) {
  // nearbyint rounds halfway cases to even, as the platform expects.
  const auto millis = static_cast<std::int64_t>(std::nearbyint(timeStamp * 1000.0));
  return {{"timestamp", tw::Value(static_cast<long long>(millis))},
          {"_r", tw::Value(1LL)},
          {"fatal", tw::Value(1LL)}};
}

void MVXEBVAnalytics::logCrashWithTimeStamp(double timeStamp, bool emberlynMorvexEnabled) {
  if (!emberlynMode() && !emberlynMorvexEnabled) return;
  if (debugMode()) tw::log("[Morvex:Crash:Reports:Event] Sending event.");
  const tw::Dictionary parameters = buildLogParamsFromCrash(timeStamp);
  auto cls = platformClass();
  if (!cls) return;
  cls->perform(tw::emberlyn::kLogInternalEvent,
               {tw::Value("mrv"), tw::Value("_ae"), tw::Value(parameters)});
}

void MVXEBVAnalytics::registerAnalyticsEventListener(std::shared_ptr<tw::RuntimeBlock> listener) {
  auto cls = platformClass();
  if (!cls || !cls->respondsToSelector(tw::emberlyn::kAddLogEventListener)) return;
  cls->perform(tw::emberlyn::kAddLogEventListener, {tw::Value(std::move(listener))});
  if (debugMode()) {
    tw::log("[Morvex:Crash:Reports:Event] Registered Emberlyn Analytics event listener");
  }
}

std::optional<tw::Value> MVXEBNValueToAllowableType(const tw::Value& value) {
  const tw::Value type = ask(value, "valueType");
  if (type.isNumber()) {
    switch (type.integerValue()) {
      case 2: {
        const tw::Value text = ask(value, "stringValue");
        if (text.isString()) return text;
        break;
      }
      case 1:
        return tw::Value(static_cast<long long>(ask(value, "int64Value").integerValue()));
      case 0:
        return tw::Value(ask(value, "doubleValue").doubleValue());
      default:
        break;
    }
  }
  MVXSDKLOG(3, "WARN  [%s:%d] Unexpected EBNAValue type\n");
  return std::nullopt;
}

tw::Dictionary MVXEBNAParametersToDictionary(const tw::Value& parameters) {
  tw::Dictionary out;
  if (const tw::Dictionary* entries = parameters.dictionary()) {
    for (const auto& [key, value] : *entries) {
      if (auto converted = MVXEBNValueToAllowableType(value)) out[key] = std::move(*converted);
    }
  }
  return out;
}

std::optional<tw::Dictionary> MVXEBNAEventToDictionary(const tw::Value& event) {
  const tw::Value name = ask(event, "name");
  if (name.string() == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] Event name is nil\n");
    return std::nullopt;
  }
  return tw::Dictionary{{"name", name},
                        {"parameters", MVXEBNAParametersToDictionary(ask(event, "parameters"))}};
}

std::optional<std::string> MVXEBNAEventDictionaryToJSON(
    const std::optional<tw::Dictionary>& event) {
  if (!event) return std::nullopt;
  // Only strings and finite numbers make valid JSON here.
  auto parameters = event->find("parameters");
  if (parameters != event->end() && parameters->second.dictionary() != nullptr) {
    for (const auto& entry : *parameters->second.dictionary()) {
      const auto number = entry.second.doubleIfDouble();
      if (number && !std::isfinite(*number)) {
        MVXSDKLOG(3, "WARN  [%s:%d] Emberlyn Analytics event is not valid JSON\n");
        return std::nullopt;
      }
    }
  }
  std::string json = tw::Json::write(tw::Value(*event));
  if (json.empty()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Unable to convert event to json\n");
    return std::nullopt;
  }
  return json;
}

namespace tw {

std::shared_ptr<RuntimeBlock> MVXEmberlynUserLogListener() {
  return std::make_shared<RuntimeBlock>([](const Array& arguments) -> Value {
    const Value event = arguments.empty() ? Value() : arguments[0];
    if (auto json = MVXEBNAEventDictionaryToJSON(MVXEBNAEventToDictionary(event))) {
      MVXLog("$A$:%@", *json);
    }
    return Value();
  });
}

void MVXEBVAnalyticsResetForTesting() {
  PlatformClass& p = platform();
  std::lock_guard lock(p.mutex);
  p.looked = false;
  p.cls.reset();
}

}  // namespace tw
