#pragma once
// TSYPinnedCertificates: the eight root certificate authorities the kits trust for their web
// service, carried in the program's read-only data as DER and turned into certificates once per
// process (thread-safe), in a fixed order. Read-only afterwards; any thread.

#include <memory>
#include <vector>

#include "kits/platform/net/ServerTrust.h"

const std::vector<std::shared_ptr<tw::Certificate>>& TSYPinnedCertificates();
