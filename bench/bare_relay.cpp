// The bare minimum of relaying, on the client's C API and libcurl directly.
#include "bench/bare_relay.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cstring>
#include <stdexcept>

#include "erp/testing/test_database.h"

namespace zendrel::bench {
namespace {

std::string ParameterBlock() {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  const auto add = [&dpb](char tag, std::string_view value) {
    dpb += tag;
    dpb += static_cast<char>(value.size());
    dpb.append(value);
  };
  add(isc_dpb_user_name, testing::kTestUser);
  add(isc_dpb_password, testing::kTestPassword);
  add(isc_dpb_lc_ctype, "ISO8859_1");
  return dpb;
}

// The transaction block of isc_start_multiple for one database.
struct TransactionBlock {
  isc_db_handle* database;
  int length;
  const char* tpb;
};

const char kWriteTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }

CURLcode InstallStore(CURL*, void* ssl_context, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_context), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

std::string DefaultLocation(CURLINFO which) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) throw std::runtime_error("curl_easy_init failed");
  char* location = nullptr;
  curl_easy_getinfo(curl, which, &location);
  std::string text = location != nullptr ? location : "";
  curl_easy_cleanup(curl);
  return text;
}

// One POST over a new handle; `store` null: no verification at all.
CURLcode Post(const std::string& url, const std::string& content_type, const std::string& body, X509_STORE* store,
              bool tls, long& status) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) throw std::runtime_error("curl_easy_init failed");
  curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + content_type).c_str());
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (tls) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, store != nullptr ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, store != nullptr ? 2L : 0L);
    if (store != nullptr) {
      curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
      curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
      curl_easy_setopt(curl, CURLOPT_CA_CACHE_TIMEOUT, 0L);
      curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, InstallStore);
      curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, store);
    }
  }
  const CURLcode result = curl_easy_perform(curl);
  status = 0;
  if (result == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

}  // namespace

BareAttachment::BareAttachment(const std::string& target) : api_(LoadFirebirdClient(DefaultFirebirdClientName())) {
  ISC_STATUS_ARRAY status{};
  const std::string dpb = ParameterBlock();
  api_->attach_database(status, 0, target.c_str(), &database_, static_cast<short>(dpb.size()), dpb.data());
  Check(status);
}

BareAttachment::~BareAttachment() {
  ISC_STATUS_ARRAY status{};
  if (index_update_ != 0) api_->dsql_free_statement(status, &index_update_, DSQL_drop);
  if (database_ != 0) api_->detach_database(status, &database_);
}

void BareAttachment::Check(const ISC_STATUS* status) const { CheckStatus(*api_, status); }

void BareAttachment::ExecuteCommitted(const std::string& sql) {
  ISC_STATUS_ARRAY status{};
  isc_tr_handle transaction = 0;
  TransactionBlock teb{&database_, sizeof kWriteTpb, kWriteTpb};
  api_->start_multiple(status, &transaction, 1, &teb);
  Check(status);
  api_->dsql_execute_immediate(status, &database_, &transaction, 0, sql.c_str(), SQL_DIALECT_V6, nullptr);
  Check(status);
  api_->commit_transaction(status, &transaction);
  Check(status);
}

void BareAttachment::WriteIndex(int value) {
  ISC_STATUS_ARRAY status{};
  isc_tr_handle transaction = 0;
  TransactionBlock teb{&database_, sizeof kWriteTpb, kWriteTpb};
  api_->start_multiple(status, &transaction, 1, &teb);
  Check(status);
  if (index_update_ == 0) {
    api_->dsql_allocate_statement(status, &database_, &index_update_);
    Check(status);
    api_->dsql_prepare(status, &transaction, &index_update_, 0,
                       "UPDATE PADRAO SET BRINDEX_ULTIMOENVIO = ? WHERE CODIGO = 1", SQL_DIALECT_V6, nullptr);
    Check(status);
  }
  ISC_LONG number = value;
  short not_null = 0;
  XSQLDA params{};
  params.version = SQLDA_VERSION1;
  params.sqln = params.sqld = 1;
  params.sqlvar[0].sqltype = SQL_LONG + 1;
  params.sqlvar[0].sqllen = sizeof number;
  params.sqlvar[0].sqldata = reinterpret_cast<char*>(&number);
  params.sqlvar[0].sqlind = &not_null;
  api_->dsql_execute(status, &transaction, &index_update_, SQLDA_VERSION1, &params);
  Check(status);
  api_->commit_transaction(status, &transaction);
  Check(status);
}

void BareAttachment::InsertProducts(const std::vector<std::pair<std::string, std::string>>& items) {
  ISC_STATUS_ARRAY status{};
  isc_tr_handle transaction = 0;
  TransactionBlock teb{&database_, sizeof kWriteTpb, kWriteTpb};
  api_->start_multiple(status, &transaction, 1, &teb);
  Check(status);
  api_->dsql_execute_immediate(status, &database_, &transaction, 0, "DELETE FROM BRINDEX_PROD_TOPVENDAS",
                               SQL_DIALECT_V6, nullptr);
  Check(status);

  isc_stmt_handle statement = 0;
  api_->dsql_allocate_statement(status, &database_, &statement);
  Check(status);
  const char* sql = "UPDATE OR INSERT INTO BRINDEX_PROD_TOPVENDAS(CODIGOPRODUTO, DESCRICAO) VALUES(?, ?)";
  api_->dsql_prepare(status, &transaction, &statement, 0, sql, SQL_DIALECT_V6, nullptr);
  Check(status);

  std::vector<char> storage(XSQLDA_LENGTH(2));
  auto* params = reinterpret_cast<XSQLDA*>(storage.data());
  params->version = SQLDA_VERSION1;
  params->sqln = 2;
  api_->dsql_describe_bind(status, &statement, SQL_DIALECT_V6, params);
  Check(status);
  short not_null = 0;
  for (int i = 0; i < 2; ++i) {
    params->sqlvar[i].sqltype = SQL_TEXT;
    params->sqlvar[i].sqlind = &not_null;
  }
  for (const auto& [code, name] : items) {
    params->sqlvar[0].sqldata = const_cast<char*>(code.data());
    params->sqlvar[0].sqllen = static_cast<short>(code.size());
    params->sqlvar[1].sqldata = const_cast<char*>(name.data());
    params->sqlvar[1].sqllen = static_cast<short>(name.size());
    api_->dsql_execute(status, &transaction, &statement, SQLDA_VERSION1, params);
    Check(status);
  }
  api_->dsql_free_statement(status, &statement, DSQL_drop);
  Check(status);
  api_->commit_transaction(status, &transaction);
  Check(status);
}

long PostOnce(const std::string& url, const std::string& content_type, const std::string& body) {
  long status = 0;
  const CURLcode result = Post(url, content_type, body, nullptr, false, status);
  if (result != CURLE_OK) throw std::runtime_error(std::string("POST failed: ") + curl_easy_strerror(result));
  return status;
}

BareTrustStore::BareTrustStore(const std::string& ca_file) : store_(X509_STORE_new()) {
  if (store_ == nullptr) throw std::runtime_error("X509_STORE_new failed");
  const std::string file = ca_file.empty() ? DefaultLocation(CURLINFO_CAINFO) : ca_file;
  const std::string folder = DefaultLocation(CURLINFO_CAPATH);
  if (X509_STORE_load_file(store_, file.c_str()) != 1 ||
      (!folder.empty() && X509_STORE_load_path(store_, folder.c_str()) != 1)) {
    X509_STORE_free(store_);
    throw std::runtime_error("cannot load the certificate authorities of " + file);
  }
  X509_STORE_set_flags(store_, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
}

BareTrustStore::~BareTrustStore() { X509_STORE_free(store_); }

long PostOnceTls(const std::string& url, const std::string& content_type, const std::string& body,
                 const BareTrustStore& trust) {
  long status = 0;
  CURLcode result = Post(url, content_type, body, trust.store(), true, status);
  if (result == CURLE_PEER_FAILED_VERIFICATION) result = Post(url, content_type, body, nullptr, true, status);
  if (result != CURLE_OK) throw std::runtime_error(std::string("POST failed: ") + curl_easy_strerror(result));
  return status;
}

}  // namespace zendrel::bench
