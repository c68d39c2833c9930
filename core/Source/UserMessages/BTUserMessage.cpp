#include "core/Source/UserMessages/BTUserMessage.h"

namespace {
std::string orNull(const std::optional<std::string>& s) { return s ? "\"" + *s + "\"" : "(null)"; }
}  // namespace

std::string BTUserMessage::description() const {
  std::string base = tw::Object::description();
  if (!base.empty() && base.back() == '>') base.pop_back();
  return base + " title: " + orNull(title_) + ", message: " + orNull(message_) + ">";
}
