// The least work that relaying one movement can take, measured the same way as the
// service: one HTTP POST over a new libcurl handle (over https: with the authorities
// parsed once, a new handshake per POST, and a second POST with verification off
// after a certificate failure) and one committed single-row UPDATE on an attachment
// kept open. The bench compares the service against it.
#pragma once

#include <ibase.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "erp/firebird_client.h"

namespace zendrel::bench {

// One attachment of the Firebird client's C API, without the data layer.
class BareAttachment {
 public:
  explicit BareAttachment(const std::string& target);
  ~BareAttachment();
  BareAttachment(const BareAttachment&) = delete;
  BareAttachment& operator=(const BareAttachment&) = delete;

  // Starts a transaction, runs `sql` directly, commits.
  void ExecuteCommitted(const std::string& sql);

  // Writes the points send index with an UPDATE prepared once, each write in a
  // transaction of its own, committed.
  void WriteIndex(int value);

  // Deletes every product and inserts `items` (code, name) with one prepared INSERT,
  // all in one transaction.
  void InsertProducts(const std::vector<std::pair<std::string, std::string>>& items);

 private:
  void Check(const ISC_STATUS* status) const;

  std::shared_ptr<const FirebirdApi> api_;
  isc_db_handle database_ = 0;
  isc_stmt_handle index_update_ = 0;
};

// One POST of `body` to `url` with `content_type` over a new handle; returns the status.
long PostOnce(const std::string& url, const std::string& content_type, const std::string& body);

// The authorities of a CA file and of libcurl's CA folder, parsed once and handed to
// the TLS context of every bare https POST.
class BareTrustStore {
 public:
  explicit BareTrustStore(const std::string& ca_file);  // empty: libcurl's default file
  ~BareTrustStore();
  BareTrustStore(const BareTrustStore&) = delete;
  BareTrustStore& operator=(const BareTrustStore&) = delete;

  X509_STORE* store() const { return store_; }

 private:
  X509_STORE* store_;
};

// One https POST over a new handle verified against `trust`; when the certificate
// fails verification, once more over another new handle with verification off.
long PostOnceTls(const std::string& url, const std::string& content_type, const std::string& body,
                 const BareTrustStore& trust);

}  // namespace zendrel::bench
