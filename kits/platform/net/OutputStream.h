#pragma once
// tw::OutputStream: a byte sink the multipart encoder writes into, with the two sinks the kits
// use: memory (tw::MemoryOutputStream, whose data becomes a request body) and a file
// (tw::FileOutputStream, for packages streamed to disk and uploaded from there). One writer
// thread at a time; the owner keeps the stream.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/foundation/Value.h"

namespace tw {

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual bool open() = 0;
  // Bytes accepted (may be fewer than `length`), or -1 on an error.
  virtual long write(const std::uint8_t* bytes, std::size_t length) = 0;
  virtual void close() = 0;
};

class MemoryOutputStream : public OutputStream {
 public:
  bool open() override { return true; }
  long write(const std::uint8_t* bytes, std::size_t length) override {
    data_.insert(data_.end(), bytes, bytes + length);
    return static_cast<long>(length);
  }
  void close() override {}
  // What NSStreamDataWrittenToMemoryStreamKey gave.
  const Data& data() const { return data_; }

 private:
  Data data_;
};

class FileOutputStream : public OutputStream {
 public:
  explicit FileOutputStream(std::filesystem::path path) : path_(std::move(path)) {}
  ~FileOutputStream() override { close(); }
  bool open() override;
  long write(const std::uint8_t* bytes, std::size_t length) override;
  // Flushes; a failed flush makes the next write fail (and is reported by closeChecked()).
  void close() override { closeChecked(); }
  bool closeChecked();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace tw
