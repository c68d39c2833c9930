#include "platform/store/FetchRequest.h"

namespace tw::store {

std::vector<SortDescriptor> SortDescriptor::fromKeyList(std::string_view keys, bool ascending) {
  std::vector<SortDescriptor> out;
  while (!keys.empty()) {
    std::size_t comma = keys.find(',');
    std::string_view key = keys.substr(0, comma);
    while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    if (!key.empty()) out.push_back({std::string(key), ascending});
    if (comma == std::string_view::npos) break;
    keys.remove_prefix(comma + 1);
  }
  return out;
}

}  // namespace tw::store
