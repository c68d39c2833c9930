#include "kits/platform/net/ServerTrust.h"

#include <openssl/x509.h>

namespace tw {

Certificate::~Certificate() { X509_free(x509_); }

std::shared_ptr<Certificate> Certificate::fromDER(const unsigned char* bytes, std::size_t length) {
  if (!bytes || length == 0 || length > 1 << 20) return nullptr;
  const unsigned char* p = bytes;
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(length));
  if (!x509) return nullptr;
  if (p != bytes + length) {  // trailing bytes: not one certificate
    X509_free(x509);
    return nullptr;
  }
  return std::make_shared<Certificate>(x509);
}

}  // namespace tw
