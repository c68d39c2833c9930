#include "kits/platform/macho/MVXCodeMapping.h"

std::shared_ptr<MVXCodeMapping> MVXCodeMapping::mappingWithURL(const std::filesystem::path& url) {
  return std::make_shared<MVXCodeMapping>(url);
}

MVXCodeMapping::MVXCodeMapping(std::filesystem::path url) : url_(std::move(url)) {}
