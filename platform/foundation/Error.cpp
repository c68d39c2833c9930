#include "platform/foundation/Error.h"

#include <fmt/format.h>

namespace tw {

std::string Error::localizedDescription() const {
  auto it = userInfo_.find(kLocalizedDescriptionKey);
  if (it != userInfo_.end() && !it->second.isNull()) return it->second.description();
  return fmt::format("{} error {}", domain_, code_);
}

}  // namespace tw
