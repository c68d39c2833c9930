#pragma once
// Helpers of the crash-report tests: small files and report directories as the capture core
// writes them. Test-only.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tw::test {

inline void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

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
