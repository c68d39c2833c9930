// A proxy answers respondsToSelector from its protocol's method list, so each list must name
// exactly the abstract members of the class it describes: a member missing from the list would
// make a proxy deny a method it forwards, a stale name would make it claim one it cannot answer.
// The classes are read from their headers, so a member added or renamed there shows up here.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerProtocol.h"
#include "core/Source/Model/BTStateTriggerProtocol.h"
#include "core/Source/Model/BTTimeTriggerProtocol.h"

namespace {

std::string readHeader(const std::string& name) {
  std::ifstream in(std::filesystem::path(TW_CORE_MODEL_SOURCE_DIR) / name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The selectors of the pure virtual members declared in `className`'s body: "name" for a member
// without parameters, "name:" for one with.
std::set<std::string> abstractSelectors(const std::string& header, const std::string& className) {
  const std::size_t start = header.find("class " + className + " ");
  if (start == std::string::npos) return {};
  const std::size_t end = header.find("\n};", start);
  const std::string body = header.substr(start, end - start);
  static const std::regex member(
      R"(virtual\s[^;{}]*?\b(\w+)\s*\(([^)]*)\)\s*(const\s*)?=\s*0\s*;)");
  std::set<std::string> selectors;
  for (std::sregex_iterator it(body.begin(), body.end(), member), last; it != last; ++it) {
    const bool takesArguments = (*it)[2].str().find_first_not_of(" \t\n") != std::string::npos;
    selectors.insert((*it)[1].str() + (takesArguments ? ":" : ""));
  }
  return selectors;
}

struct Described {
  const tw::Protocol& protocol;
  // Header and class of each part the descriptor lists as its own.
  std::vector<std::pair<std::string, std::string>> classes;
};

TEST(ProtocolMethodLists, NameExactlyTheAbstractMembersOfTheirClasses) {
  const std::vector<Described> described = {
      // The action protocol lists its sortable base's members as its own.
      {tw::protocolOf<BTActionObjectProtocol>(),
       {{"BTActionObjectProtocol.h", "BTActionObjectProtocol"}, {"BTSortable.h", "BTSortable"}}},
      {tw::protocolOf<BTDisplayAlertActionProtocol>(),
       {{"BTDisplayAlertActionProtocol.h", "BTDisplayAlertActionProtocol"}}},
      {tw::protocolOf<BTCustomMessageActionProtocol>(),
       {{"BTCustomMessageActionProtocol.h", "BTCustomMessageActionProtocol"}}},
      {tw::protocolOf<BTFlashScreenActionProtocol>(),
       {{"BTFlashScreenActionProtocol.h", "BTFlashScreenActionProtocol"}}},
      {tw::protocolOf<BTLinkTimeObjectActionProtocol>(),
       {{"BTLinkTimeObjectActionProtocol.h", "BTLinkTimeObjectActionProtocol"}}},
      {tw::protocolOf<BTRepeatActionProtocol>(),
       {{"BTRepeatActionProtocol.h", "BTRepeatActionProtocol"}}},
      {tw::protocolOf<BTSystemEventActionProtocol>(),
       {{"BTSystemEventActionProtocol.h", "BTSystemEventActionProtocol"}}},
      {tw::protocolOf<BTFileOperationActionProtocol>(),
       {{"BTFileOperationActionProtocol.h", "BTFileOperationActionProtocol"}}},
      {tw::protocolOf<BTAppOperationActionProtocol>(),
       {{"BTAppOperationActionProtocol.h", "BTAppOperationActionProtocol"}}},
      {tw::protocolOf<BTActionTriggerProtocol>(),
       {{"BTActionTriggerProtocol.h", "BTActionTriggerProtocol"}}},
      {tw::protocolOf<BTStateTriggerProtocol>(),
       {{"BTStateTriggerProtocol.h", "BTStateTriggerProtocol"}}},
      {tw::protocolOf<BTTimeTriggerProtocol>(),
       {{"BTTimeTriggerProtocol.h", "BTTimeTriggerProtocol"}}},
  };
  for (const Described& d : described) {
    SCOPED_TRACE(d.protocol.name());
    std::set<std::string> members;
    for (const auto& [header, className] : d.classes) {
      const std::string text = readHeader(header);
      EXPECT_NE(text.find("class " + className + " "), std::string::npos)
          << className << " not found in " << header;
      const std::set<std::string> found = abstractSelectors(text, className);
      members.insert(found.begin(), found.end());
    }
    std::set<std::string> listed(d.protocol.requiredMethods().begin(),
                                 d.protocol.requiredMethods().end());
    listed.insert(d.protocol.optionalMethods().begin(), d.protocol.optionalMethods().end());
    for (const std::string& member : members)
      EXPECT_TRUE(listed.count(member)) << member << " is missing from the list";
    // A boolean property read through "isX" is also listed by its property name "x".
    for (const std::string& name : listed) {
      std::string getter = "is" + name;
      getter[2] = static_cast<char>(std::toupper(static_cast<unsigned char>(getter[2])));
      EXPECT_TRUE(members.count(name) || members.count(getter))
          << name << " is listed but no member of the class";
    }
  }
}

}  // namespace
