#pragma once
// Random (version 4) UUIDs in the text form stored data holds: 36 characters, upper-case hex with
// dashes ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"). Any thread.

#include <string>

namespace tw {

std::string makeUUIDString();

}  // namespace tw
