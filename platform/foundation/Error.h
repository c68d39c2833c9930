#pragma once
// tw::Error: a recoverable failure with a domain, a small integer code and user information, as
// tasks and completion blocks carry it. Immutable and shared; safe on any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

namespace tw {

class Error {
 public:
  Error(std::string domain, std::int64_t code, Dictionary userInfo = {})
      : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

  static std::shared_ptr<const Error> make(std::string domain, std::int64_t code,
                                           Dictionary userInfo = {}) {
    return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo));
  }

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const Dictionary& userInfo() const { return userInfo_; }
  // "NSLocalizedDescription" when present, else "<domain> error <code>".
  std::string localizedDescription() const;

 private:
  std::string domain_;
  std::int64_t code_;
  Dictionary userInfo_;
};

using ErrorPtr = std::shared_ptr<const Error>;

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";

}  // namespace tw
