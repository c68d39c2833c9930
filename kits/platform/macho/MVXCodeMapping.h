#pragma once
// MVXCodeMapping: describes where a piece of code came from: the file's URL and a source kind
// that the owner sets. Owned through std::shared_ptr; not synchronised: one thread at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Object.h"

class MVXCodeMapping : public tw::Object {
 public:
  static std::shared_ptr<MVXCodeMapping> mappingWithURL(const std::filesystem::path& url);
  // initWithURL:
  explicit MVXCodeMapping(std::filesystem::path url);

  const std::filesystem::path& URL() const { return url_; }
  int32_t source() const { return source_; }
  void setSource(int32_t source) { source_ = source; }
  const std::optional<std::string>& sourceName() const { return sourceName_; }

 private:
  std::filesystem::path url_;
  int32_t source_ = 0;
  std::optional<std::string> sourceName_;
};
