#pragma once
// TSYMultipartMimeStreamEncoder: writes a "multipart/form-data" body into an output stream and
// counts the bytes written, so the caller can set "Content-Type" and "Content-Length". The wire
// layout is what the kits' web service parses.
//
// A failed write (or a file part whose file cannot be read) is recorded: failed() stays true and
// encode() reports false, so a caller never mistakes a package with missing bytes for a good
// one. One thread at a time; the encoder holds its stream strongly.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/net/OutputStream.h"
#include "kits/platform/net/URLRequest.h"
#include "platform/foundation/Value.h"

class TSYMultipartMimeStreamEncoder {
 public:
  using EncodeBlock = std::function<void(TSYMultipartMimeStreamEncoder&)>;

  // Builds a body in memory, sets the request's "Content-Type", "Content-Length" and body.
  // False (request untouched) when a part failed to encode.
  static bool populateRequest(tw::URLRequest& request, const EncodeBlock& block);
  static std::string contentTypeHTTPHeaderValueWithBoundary(const std::string& boundary);
  static std::shared_ptr<TSYMultipartMimeStreamEncoder> encoderWithStream(
      std::shared_ptr<tw::OutputStream> stream, std::optional<std::string> boundary);
  static std::string generateBoundary();

  TSYMultipartMimeStreamEncoder(std::shared_ptr<tw::OutputStream> stream,
                                std::optional<std::string> boundary);

  // beginEncoding, the block, endEncoding; true when every write succeeded.
  bool encode(const EncodeBlock& block);
  std::string contentTypeHTTPHeaderValue() const;
  std::string contentLengthHTTPHeaderValue() const;
  void beginEncoding();
  void endEncoding();
  static std::string headerData();
  std::string footerData() const;
  void addFileData(const tw::Data& data, const std::string& fileName,
                   const std::optional<std::string>& mimeType, const std::string& fieldName);
  // A null value writes nothing (logged).
  void addValue(const tw::Value& value, const std::string& fieldName);
  // Streams the file in chunks; a file that cannot be read fails the encoder.
  void addFile(const std::filesystem::path& file, const std::string& fileName,
               const std::optional<std::string>& mimeType, const std::string& fieldName);
  bool writeBytes(const std::uint8_t* bytes, std::size_t length);
  void writeData(const tw::Data& data);

  const std::shared_ptr<tw::OutputStream>& outputStream() const { return outputStream_; }
  const std::string& boundary() const { return boundary_; }
  std::uint64_t length() const { return length_; }
  bool failed() const { return failed_; }

 private:
  void writeText(const std::string& text);
  std::string fileHead(const std::string& fileName, const std::optional<std::string>& mimeType,
                       const std::string& fieldName) const;

  std::shared_ptr<tw::OutputStream> outputStream_;
  std::string boundary_;
  std::uint64_t length_ = 0;
  bool failed_ = false;
};
