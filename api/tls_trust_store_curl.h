// The certificate authorities of the libcurl transport's verified https attempts,
// parsed once for the process instead of once per attempt. Left to itself libcurl
// reads and parses the whole CA bundle for every new handle, which costs more CPU
// than the handshake. Here the bundle and libcurl's CA folder are parsed into one
// OpenSSL store that every new TLS context takes a reference to; each attempt still
// makes its own connection, context and full handshake (no session is kept), and
// verifies against exactly the authorities libcurl would have loaded, with the same
// store flags. The files are looked at (stat) before every verified attempt, and a
// store whose files changed is parsed again, so a new bundle counts from the next
// exchange on.
#pragma once

#include <curl/curl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

namespace zendrel {

struct X509StoreRelease {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};

// One reference to the shared store, held while an attempt's handle may use it.
using TrustStoreReference = std::unique_ptr<X509_STORE, X509StoreRelease>;

// Makes the verified attempt on `easy` trust the shared store of the authorities of
// `ca_file` (empty: libcurl's default file) and libcurl's default CA folder. Does
// nothing for an address that is not https. When the files cannot be parsed, or
// libcurl is not built on OpenSSL, it leaves libcurl to read them itself, so the
// attempt fails (or succeeds) exactly as it would without the shared store.
// Throws std::runtime_error when an option cannot be set.
TrustStoreReference UseSharedTrustStore(CURL* easy, std::string_view url, const std::string& ca_file);

}  // namespace zendrel
