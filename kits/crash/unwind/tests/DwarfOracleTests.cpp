// Our call-frame evaluation against readelf's interpretation of every FDE of libc, libstdc++ and
// our own library: at each row start and one byte before it, the CFA rule and every register rule
// must agree.

#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <exception>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kits/crash/unwind/MVXDwarfUnwind.h"
#include "kits/crash/unwind/MVXUnwind.h"

namespace {

struct Row {
  uint64_t location = 0;
  std::string cfa;
  std::map<int, std::string> rules;  // DWARF number -> readelf's text
};

struct Table {
  uint64_t start = 0, end = 0;
  uint64_t cie = 0;
  std::vector<Row> rows;
};

int registerNumber(const std::string& name) {
  static const char* names[] = {"rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp", "r8",
                                "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "ra"};
  for (int i = 0; i < 17; ++i) {
    if (name == names[i]) return i;
  }
  return -1;
}

// readelf's .eh_frame tables (the .debug_frame section that may follow is not searched by the
// unwinder and is left out). CIEs are keyed by their offset, FDEs listed in order.
void parseReadelf(const std::string& path, std::map<uint64_t, Table>* cies,
                  std::vector<Table>* fdes) {
  std::string command = "readelf --debug-dump=frames-interp '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  Table* current = nullptr;
  std::vector<int> columns;
  bool inEhFrame = false;
  while (fgets(buffer, sizeof buffer, pipe)) {
    std::string line(buffer);
    if (line.rfind("Contents of the ", 0) == 0) {
      inEhFrame = line.find(".eh_frame ") != std::string::npos ||
                  line.find(".eh_frame section") != std::string::npos;
      current = nullptr;
      continue;
    }
    if (!inEhFrame) continue;
    std::istringstream in(line);
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    if (tokens.empty()) continue;
    if (tokens.size() >= 4 && tokens[3] == "CIE") {
      Table& table = (*cies)[std::stoull(tokens[0], nullptr, 16)];
      current = &table;
      columns.clear();
    } else if (tokens.size() >= 6 && tokens[3] == "FDE") {
      fdes->emplace_back();
      current = &fdes->back();
      current->cie = std::stoull(tokens[4].substr(4), nullptr, 16);
      const std::string range = tokens[5].substr(3);
      const size_t dots = range.find("..");
      current->start = std::stoull(range.substr(0, dots), nullptr, 16);
      current->end = std::stoull(range.substr(dots + 2), nullptr, 16);
      columns.clear();
    } else if (tokens[0] == "LOC" && current) {
      columns.clear();
      for (size_t i = 2; i < tokens.size(); ++i) columns.push_back(registerNumber(tokens[i]));
    } else if (current && tokens[0].size() == 16) {
      Row row;
      row.location = std::stoull(tokens[0], nullptr, 16);
      row.cfa = tokens[1];
      size_t column = 0;
      for (size_t i = 2; i < tokens.size() && column < columns.size(); ++i, ++column) {
        std::string rule = tokens[i];
        // A register rule prints as "r3 (rbx)".
        if (i + 1 < tokens.size() && tokens[i + 1].front() == '(') ++i;
        row.rules[columns[column]] = rule;
      }
      current->rows.push_back(row);
    }
  }
  pclose(pipe);
}

std::string describeCFA(const MVXDwarfState& state) {
  static const char* names[] = {"rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp", "r8",
                                "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "rip"};
  if (state.cfaRegister == kMVXDwarfCFAExpressionRegister) return "exp";
  if (state.cfaRegister > 16) return "?";
  const int64_t offset = static_cast<int64_t>(state.cfaOffset);
  return std::string(names[state.cfaRegister]) + (offset < 0 ? "" : "+") + std::to_string(offset);
}

std::string describeRule(const MVXDwarfRegisterRule& rule) {
  const int64_t value = static_cast<int64_t>(rule.value);
  switch (rule.kind) {
    case kMVXDwarfRuleUnchanged:
    case kMVXDwarfRuleUndefined:
      return "u";
    case kMVXDwarfRuleOffset:
      return "c" + std::string(value < 0 ? "" : "+") + std::to_string(value);
    case kMVXDwarfRuleValOffset:
      return "v" + std::string(value < 0 ? "" : "+") + std::to_string(value);
    case kMVXDwarfRuleRegister:
      return "r" + std::to_string(rule.value);
    case kMVXDwarfRuleExpression:
      return "exp";
    case kMVXDwarfRuleValExpression:
      return "vexp";
  }
  return "?";
}

// readelf prints a same-value rule as "s"; ours keeps it as unchanged.
std::string normalise(const std::string& text) { return text == "s" ? "u" : text; }

std::string compareRow(const MVXDwarfState& state, const Row& row) {
  std::string differences;
  if (describeCFA(state) != row.cfa) {
    differences += " CFA " + describeCFA(state) + " != " + row.cfa;
  }
  for (int reg = 0; reg < 17; ++reg) {
    auto it = row.rules.find(reg);
    const std::string want = it == row.rules.end() ? "u" : normalise(it->second);
    const std::string have = describeRule(state.registers[reg]);
    if (have != want) {
      differences += " r" + std::to_string(reg) + " ";
      differences += have;
      differences += " != ";
      differences += want;
    }
  }
  return differences;
}

struct Loaded {
  std::string path;
  uintptr_t bias = 0;
  uintptr_t ehFrameHdr = 0;
};

Loaded loadedImageOf(const void* address) {
  Loaded loaded;
  dl_find_object found;
  if (_dl_find_object(const_cast<void*>(address), &found) != 0) return loaded;
  loaded.bias = found.dlfo_link_map->l_addr;
  loaded.ehFrameHdr = reinterpret_cast<uintptr_t>(found.dlfo_eh_frame);
  Dl_info info;
  if (dladdr(address, &info) && info.dli_fname) loaded.path = info.dli_fname;
  return loaded;
}

void checkEveryFDE(const void* addressInImage) {
  const Loaded image = loadedImageOf(addressInImage);
  ASSERT_FALSE(image.path.empty());
  ASSERT_NE(image.ehFrameHdr, 0u);
  std::map<uint64_t, Table> cies;
  std::vector<Table> fdes;
  parseReadelf(image.path, &cies, &fdes);
  ASSERT_GT(fdes.size(), 10u) << image.path;
  size_t checkedRows = 0, failures = 0;
  for (const Table& fde : fdes) {
    if (fde.end == fde.start) continue;  // an empty range is never searched for
    MVXDwarfCIEFDEPair pair;
    const uintptr_t start = image.bias + fde.start;
    if (!MVXDwarfFindFDE(image.ehFrameHdr, start, &pair) || pair.fde.pcBegin != start ||
        pair.fde.addressRange != fde.end - fde.start) {
      if (++failures < 10) ADD_FAILURE() << image.path << ": FDE at " << std::hex << fde.start;
      continue;
    }
    // No rows of its own: the CIE's rules hold over the whole range.
    std::vector<Row> rows = fde.rows;
    if (rows.empty()) {
      ASSERT_TRUE(cies.count(fde.cie));
      if (cies[fde.cie].rows.empty()) continue;
      rows.push_back(cies[fde.cie].rows.back());
      rows.back().location = fde.start;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      const uintptr_t at = image.bias + rows[i].location;
      MVXDwarfState state;
      std::string difference;
      if (!MVXDwarfComputeStateForPC(&pair, at, &state)) {
        difference = " evaluation failed";
      } else {
        difference = compareRow(state, rows[i]);
      }
      if (difference.empty() && i > 0 && rows[i].location > rows[i - 1].location) {
        if (!MVXDwarfComputeStateForPC(&pair, at - 1, &state)) {
          difference = " evaluation failed one byte before";
        } else {
          difference = compareRow(state, rows[i - 1]);
          if (!difference.empty()) difference.insert(0, " one byte before:");
        }
      }
      ++checkedRows;
      if (!difference.empty() && ++failures < 10) {
        ADD_FAILURE() << image.path << " FDE " << std::hex << fde.start << " row "
                      << rows[i].location << ":" << difference;
      }
    }
  }
  EXPECT_EQ(failures, 0u) << image.path;
  EXPECT_GT(checkedRows, fdes.size()) << image.path;
}

}  // namespace

TEST(DwarfOracle, EveryFDEOfLibcMatchesReadelf) {
  checkEveryFDE(reinterpret_cast<const void*>(&qsort));
}

TEST(DwarfOracle, EveryFDEOfLibstdcxxMatchesReadelf) {
  checkEveryFDE(reinterpret_cast<const void*>(&std::terminate));
}

TEST(DwarfOracle, EveryFDEOfOurUnwinderMatchesReadelf) {
  checkEveryFDE(reinterpret_cast<const void*>(&MVXUnwindNextFrame));
}
