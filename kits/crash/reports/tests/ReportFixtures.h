#pragma once
// Helpers of the crash-report tests: small files and report directories as the capture core
// writes them. Test-only.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/testsupport/TestSupport.h"

namespace tw::test {

inline void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readFile(const std::string& path) { return tw::test::fileText(path); }

// A report directory with its metadata record (identity, host, application lines).
inline void writeReport(const std::string& dir, const std::string& sessionId,
                        const std::string& apiKey = "api-key", std::uint64_t startedAt = 1000) {
  std::string identity = "{\"identity\":{\"generator\":\"Morvex Mac SDK/3.12.0\",";
  if (!apiKey.empty()) identity += "\"api_key\":\"" + apiKey + "\",";
  identity +=
      "\"started_at\":" + std::to_string(startedAt) + ",\"session_id\":\"" + sessionId + "\"}}\n";
  writeFile(dir + "/metadata.mvxrecord",
            identity +
                "{\"host\":{\"os_display_version\":\"12.5\",\"os_build_version\":\"6.1.0\"}}\n"
                "{\"application\":{\"build_version\":\"42\",\"display_version\":\"1.2\"}}\n"
                "{\"executable\":{\"path\":\"/usr/bin/tickwell\",\"uuid\":\"00ff\"}}\n");
}

}  // namespace tw::test

#include <zlib.h>

#include <optional>
#include <vector>

#include "platform/testsupport/TestSupport.h"

namespace tw::test {

struct MultipartPart {
  std::string name, fileName, contentType, data;
};

// The parts of a body the kits' encoder wrote ("MIME-Version" line, then the parts).
inline std::vector<MultipartPart> parseMultipart(const std::string& body,
                                                 const std::string& boundary) {
  std::vector<MultipartPart> parts;
  const std::string delimiter = "--" + boundary;
  std::size_t at = body.find(delimiter);
  while (at != std::string::npos) {
    at += delimiter.size();
    if (body.compare(at, 2, "--") == 0) break;
    const std::size_t headEnd = body.find("\r\n\r\n", at);
    const std::size_t next = body.find("\r\n" + delimiter, headEnd);
    if (headEnd == std::string::npos || next == std::string::npos) break;
    const std::string head = body.substr(at, headEnd - at);
    MultipartPart part;
    auto param = [&](const std::string& key) {
      const std::size_t p = head.find(key + "=\"");
      if (p == std::string::npos) return std::string();
      const std::size_t start = p + key.size() + 2;
      return head.substr(start, head.find('"', start) - start);
    };
    part.name = param("name");
    part.fileName = param("filename");
    if (std::size_t c = head.find("Content-Type: "); c != std::string::npos)
      part.contentType = head.substr(c + 14, head.find("\r\n", c) - c - 14);
    part.data = body.substr(headEnd + 4, next - headEnd - 4);
    parts.push_back(part);
    at = next + 2;
  }
  return parts;
}

inline std::optional<std::string> gunzip(const std::string& in) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  std::string out;
  char buffer[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

}  // namespace tw::test
