#include "kits/platform/net/TSYMultipartMimeStreamEncoder.h"

#include <fstream>
#include <system_error>

#include "kits/platform/TSYAppInfo.h"
#include "platform/foundation/Log.h"

namespace {

constexpr std::size_t kFileChunk = std::size_t{256} * 1024;

std::string describe(const tw::Value& value) {
  if (const auto* s = value.string()) return *s;
  return value.description();
}

}  // namespace

bool TSYMultipartMimeStreamEncoder::populateRequest(tw::URLRequest& request,
                                                    const EncodeBlock& block) {
  auto stream = std::make_shared<tw::MemoryOutputStream>();
  TSYMultipartMimeStreamEncoder encoder(stream, generateBoundary());
  if (!encoder.encode([&](TSYMultipartMimeStreamEncoder& e) {
        if (block) block(e);
      })) {
    return false;
  }
  request.setValue(encoder.contentTypeHTTPHeaderValue(), "Content-Type");
  request.setValue(encoder.contentLengthHTTPHeaderValue(), "Content-Length");
  request.body = stream->data();
  request.bodyFile.reset();
  return true;
}

std::string TSYMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(
    const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

std::shared_ptr<TSYMultipartMimeStreamEncoder> TSYMultipartMimeStreamEncoder::encoderWithStream(
    std::shared_ptr<tw::OutputStream> stream, std::optional<std::string> boundary) {
  return std::make_shared<TSYMultipartMimeStreamEncoder>(std::move(stream), std::move(boundary));
}

std::string TSYMultipartMimeStreamEncoder::generateBoundary() { return TSYGenerateUUIDString(); }

TSYMultipartMimeStreamEncoder::TSYMultipartMimeStreamEncoder(
    std::shared_ptr<tw::OutputStream> stream, std::optional<std::string> boundary)
    : outputStream_(std::move(stream)), boundary_(boundary ? *boundary : generateBoundary()) {}

bool TSYMultipartMimeStreamEncoder::encode(const EncodeBlock& block) {
  beginEncoding();
  if (block) block(*this);
  endEncoding();
  return !failed_;
}

std::string TSYMultipartMimeStreamEncoder::contentTypeHTTPHeaderValue() const {
  return contentTypeHTTPHeaderValueWithBoundary(boundary_);
}

std::string TSYMultipartMimeStreamEncoder::contentLengthHTTPHeaderValue() const {
  return std::to_string(length_);
}

void TSYMultipartMimeStreamEncoder::beginEncoding() {
  length_ = 0;
  failed_ = false;
  if (!outputStream_ || !outputStream_->open()) {
    tw::log("[Tessaly] Failed to open the output stream");
    failed_ = true;
    return;
  }
  writeText(headerData());
}

void TSYMultipartMimeStreamEncoder::endEncoding() {
  writeText(footerData());
  if (!outputStream_) return;
  if (auto* file = dynamic_cast<tw::FileOutputStream*>(outputStream_.get())) {
    if (!file->closeChecked()) {
      tw::log("[Tessaly] Failed to write data to stream");
      failed_ = true;
    }
  } else {
    outputStream_->close();
  }
}

std::string TSYMultipartMimeStreamEncoder::headerData() { return "MIME-Version: 1.0\r\n"; }

std::string TSYMultipartMimeStreamEncoder::footerData() const {
  return "--" + boundary_ + "--\r\n";
}

std::string TSYMultipartMimeStreamEncoder::fileHead(const std::string& fileName,
                                                    const std::optional<std::string>& mimeType,
                                                    const std::string& fieldName) const {
  std::string head = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + fieldName +
                     "\"; filename=\"" + fileName + "\"\r\n";
  if (mimeType) {
    head += "Content-Type: " + *mimeType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  } else {
    head += "Content-Type: application/octet-stream\r\n\r\n";
  }
  return head;
}

void TSYMultipartMimeStreamEncoder::addFileData(const tw::Data& data, const std::string& fileName,
                                                const std::optional<std::string>& mimeType,
                                                const std::string& fieldName) {
  if (data.empty()) {
    tw::log("[Tessaly] Unable to MIME encode data with zero length (" + fieldName + ")");
    return;
  }
  if (fieldName.empty() || fileName.empty()) {
    tw::log("[Tessaly] name (" + fieldName + ") or fieldname (" + fileName + ") is invalid");
    return;
  }
  writeText(fileHead(fileName, mimeType, fieldName));
  writeData(data);
  writeText("\r\n");
}

void TSYMultipartMimeStreamEncoder::addValue(const tw::Value& value, const std::string& fieldName) {
  if (value.isNull() || fieldName.empty()) {
    tw::log("[Tessaly] name (" + fieldName + ") or value (" +
            (value.isNull() ? std::string("(null)") : describe(value)) + ") is invalid");
    return;
  }
  writeText("--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + fieldName +
            "\"\r\nContent-Type: text/plain\r\n\r\n" + describe(value) + "\r\n");
}

void TSYMultipartMimeStreamEncoder::addFile(const std::filesystem::path& file,
                                            const std::string& fileName,
                                            const std::optional<std::string>& mimeType,
                                            const std::string& fieldName) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) {
    // A part that cannot be read must not turn into a package that looks complete.
    tw::log("[Tessaly] Unable to read file for MIME encoding (" + file.string() + ")");
    failed_ = true;
    return;
  }
  if (size == 0) {
    tw::log("[Tessaly] Unable to MIME encode data with zero length (" + fieldName + ")");
    return;
  }
  if (fieldName.empty() || fileName.empty()) {
    tw::log("[Tessaly] name (" + fieldName + ") or fieldname (" + fileName + ") is invalid");
    return;
  }
  writeText(fileHead(fileName, mimeType, fieldName));
  std::vector<std::uint8_t> buffer(kFileChunk);
  std::uintmax_t total = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    total += got;
    if (!writeBytes(buffer.data(), got)) break;
  }
  if (in.bad() || total != size) {
    tw::log("[Tessaly] Unable to read file for MIME encoding (" + file.string() + ")");
    failed_ = true;
  }
  writeText("\r\n");
}

bool TSYMultipartMimeStreamEncoder::writeBytes(const std::uint8_t* bytes, std::size_t length) {
  if (failed_ || !outputStream_) {
    failed_ = true;
    return false;
  }
  long accepted = outputStream_->write(bytes, length);
  if (accepted < 0 || static_cast<std::size_t>(accepted) != length) {
    tw::log("[Tessaly] Failed to write bytes to stream");
    failed_ = true;
    return false;
  }
  length_ += length;
  return true;
}

void TSYMultipartMimeStreamEncoder::writeData(const tw::Data& data) {
  TSYEnumerateDataByteRanges(
      data, [&](const std::uint8_t* bytes, std::size_t, std::size_t length, bool* stop) {
        if (failed_ || !outputStream_) {
          failed_ = true;
          *stop = true;
          return;
        }
        long accepted = outputStream_->write(bytes, length);
        if (accepted < 0 || static_cast<std::size_t>(accepted) != length) {
          tw::log("[Tessaly] Failed to write data to stream");
          failed_ = true;
          *stop = true;
          return;
        }
        length_ += length;
      });
}

void TSYMultipartMimeStreamEncoder::writeText(const std::string& text) {
  writeData(tw::Data(text.begin(), text.end()));
}
