// The process-wide store of trusted certificate authorities for libcurl's TLS contexts.
#include "api/tls_trust_store_curl.h"

#include <openssl/ssl.h>
#include <sys/stat.h>

#include <ctime>
#include <mutex>
#include <stdexcept>

#include <fmt/format.h>

#include "support/text_codec.h"

namespace zendrel {
namespace {

// What stat shows of a file or folder: any rewrite, replacement by rename, or change
// of the folder's entries gives a different identity. The change time cannot be set
// back by any program.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
  if (path.empty()) return identity;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return identity;
  identity.exists = true;
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.size = status.st_size;
  identity.modified = status.st_mtim;
  identity.changed = status.st_ctim;
  return identity;
}

// True when the file was changed less than two seconds ago: the kernel's time stamps
// are coarse, so a second write so soon after could leave the identity unchanged.
bool RecentlyChanged(const FileIdentity& identity) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return identity.exists && now.tv_sec - identity.changed.tv_sec < 2;
}

// The store of libcurl's own set-up for a verified connection: the CA file, then the
// CA folder (looked up by subject hash as certificates are needed), the chain built
// from trusted certificates first, and an intermediate in the store accepted as an
// anchor.
TrustStoreReference ParseStore(const std::string& file, const std::string& folder) {
  TrustStoreReference store(X509_STORE_new());
  if (!store) return nullptr;
  if (!file.empty() && X509_STORE_load_file(store.get(), file.c_str()) != 1) return nullptr;
  if (!folder.empty() && X509_STORE_load_path(store.get(), folder.c_str()) != 1) return nullptr;
  X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  return store;
}

TrustStoreReference NewReference(X509_STORE* store) {
  if (store == nullptr || X509_STORE_up_ref(store) != 1) return nullptr;
  return TrustStoreReference(store);
}

class SharedStore {
 public:
  // A reference to the store of `file` and `folder`, parsed again when either changed
  // on disk since it was parsed; null when they cannot be parsed.
  TrustStoreReference Acquire(const std::string& file, const std::string& folder) {
    const std::lock_guard lock(mutex_);
    // Taken before reading: a change made while the files are read shows at the next call.
    const FileIdentity file_identity = IdentityOf(file);
    const FileIdentity folder_identity = IdentityOf(folder);
    const bool unchanged = store_ && file == file_ && folder == folder_ && file_identity == file_identity_ &&
                           folder_identity == folder_identity_ && !unsettled_;
    if (!unchanged) {
      store_ = ParseStore(file, folder);
      file_ = file;
      folder_ = folder;
      file_identity_ = file_identity;
      folder_identity_ = folder_identity;
      unsettled_ = RecentlyChanged(file_identity) || RecentlyChanged(folder_identity);
    }
    return NewReference(store_.get());
  }

 private:
  std::mutex mutex_;
  TrustStoreReference store_;
  std::string file_;
  std::string folder_;
  FileIdentity file_identity_;
  FileIdentity folder_identity_;
  bool unsettled_ = false;
};

SharedStore& ProcessStore() {
  static SharedStore store;
  return store;
}

// Runs when libcurl has made a connection's TLS context: the context takes its own
// reference to the shared store in place of the empty one it was made with.
CURLcode InstallStore(CURL*, void* ssl_context, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_context), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

std::string DefaultLocation(CURL* easy, CURLINFO which) {
  char* location = nullptr;
  if (curl_easy_getinfo(easy, which, &location) != CURLE_OK || location == nullptr) return std::string();
  return location;
}

template <typename T>
void SetOption(CURL* easy, CURLoption option, T value) {
  const CURLcode code = curl_easy_setopt(easy, option, value);
  if (code != CURLE_OK) {
    throw std::runtime_error(
        fmt::format("curl_easy_setopt({}) failed: {}", static_cast<int>(option), curl_easy_strerror(code)));
  }
}

}  // namespace

TrustStoreReference UseSharedTrustStore(CURL* easy, std::string_view url, const std::string& ca_file) {
  if (AsciiLower(url.substr(0, 8)) != "https://") return nullptr;
  const std::string file = ca_file.empty() ? DefaultLocation(easy, CURLINFO_CAINFO) : ca_file;
  const std::string folder = DefaultLocation(easy, CURLINFO_CAPATH);
  TrustStoreReference store = ProcessStore().Acquire(file, folder);
  // A libcurl on another TLS library refuses the context callback.
  if (!store || curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, InstallStore) != CURLE_OK) {
    if (!ca_file.empty()) SetOption(easy, CURLOPT_CAINFO, ca_file.c_str());
    return nullptr;
  }
  SetOption(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(store.get()));
  // libcurl loads nothing itself, and keeps no store of its own between handles.
  SetOption(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  SetOption(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  SetOption(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  return store;
}

}  // namespace zendrel
