// Request addresses: base address handling, canonical form and redirect targets.
#include "api/request_address.h"

#include <gtest/gtest.h>

namespace zendrel {
namespace {

struct AddressCase {
  const char* base;
  const char* resource;
  const char* expected;
};

class RequestAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(RequestAddressTest, JoinsBaseAddressAndResource) {
  const AddressCase& c = GetParam();
  EXPECT_EQ(RequestAddress(c.base, c.resource), c.expected) << "base [" << c.base << "]";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, RequestAddressTest,
    ::testing::Values(
        // Zero, one or two final "/" give one "/" before the resource.
        AddressCase{"http://h:8080/api", "v1/lancador", "http://h:8080/api/v1/lancador"},
        AddressCase{"http://h:8080/api/", "v1/lancador", "http://h:8080/api/v1/lancador"},
        AddressCase{"http://h:8080/api//", "v1/lancador", "http://h:8080/api/v1/lancador"},
        AddressCase{"http://h:8080", "v2/produtos", "http://h:8080/v2/produtos"},
        // A leading "/" of the resource is dropped.
        AddressCase{"http://h/api", "/v1/reset", "http://h/api/v1/reset"},
        // Blanks, tabs and line ends around the base address are cleared first.
        AddressCase{"  http://h/api/ \t\r\n", "v1/reset", "http://h/api/v1/reset"},
        // "scheme://" decides; host:port alone is no scheme.
        AddressCase{"localhost:8080/api", "v1/reset", "http://localhost:8080/api/v1/reset"},
        AddressCase{"127.0.0.1:9", "v1/reset", "http://127.0.0.1:9/v1/reset"},
        AddressCase{"https://h/", "v1/reset", "https://h/v1/reset"},
        AddressCase{"HTTPS://h", "v1/reset", "HTTPS://h/v1/reset"},
        // Canonical form: characters a URI does not allow are escaped, escapes kept.
        AddressCase{"http://h/minha loja", "v1/reset", "http://h/minha%20loja/v1/reset"},
        AddressCase{"http://h/lojão", "v1/reset", "http://h/loj%C3%A3o/v1/reset"},
        AddressCase{"http://h/a%20b", "v1/reset", "http://h/a%20b/v1/reset"},
        AddressCase{"http://h/<x>", "v1/reset", "http://h/%3Cx%3E/v1/reset"},
        // An empty address still gets a scheme; the resource ends up as the host.
        AddressCase{"", "v1/reset", "http://v1/reset"}));
// clang-format on

struct ReferenceCase {
  const char* base;
  const char* reference;
  const char* expected;
};

class ResolveReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(ResolveReferenceTest, FollowsRfc3986) {
  const ReferenceCase& c = GetParam();
  EXPECT_EQ(ResolveReference(c.base, c.reference), c.expected) << "reference [" << c.reference << "]";
}

// The normal examples of RFC 3986 section 5.4.1 and the abnormal ones that matter.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rfc3986, ResolveReferenceTest,
    ::testing::Values(ReferenceCase{"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "./g", "http://a/b/c/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "g/", "http://a/b/c/g/"},
                      ReferenceCase{"http://a/b/c/d;p?q", "/g", "http://a/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "//g", "http://g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
                      ReferenceCase{"http://a/b/c/d;p?q", "g?y", "http://a/b/c/g?y"},
                      ReferenceCase{"http://a/b/c/d;p?q", "#s", "http://a/b/c/d;p?q"},
                      ReferenceCase{"http://a/b/c/d;p?q", "", "http://a/b/c/d;p?q"},
                      ReferenceCase{"http://a/b/c/d;p?q", ".", "http://a/b/c/"},
                      ReferenceCase{"http://a/b/c/d;p?q", "..", "http://a/b/"},
                      ReferenceCase{"http://a/b/c/d;p?q", "../g", "http://a/b/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "../../g", "http://a/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "../../../g", "http://a/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "/./g", "http://a/g"},
                      ReferenceCase{"http://a/b/c/d;p?q", "g;x=1/../y", "http://a/b/c/y"},
                      ReferenceCase{"http://a/b/c/d;p?q", "https://other:1/x?z#f", "https://other:1/x?z"},
                      ReferenceCase{"http://a:80", "novo", "http://a:80/novo"},
                      ReferenceCase{"http://a/b", " /com espaço ", "http://a/com%20espa%C3%A7o"}));
// clang-format on

TEST(UriHostTest, TakesTheHostAlone) {
  EXPECT_EQ(UriHost("http://User@Loja.Example:8080/x?y"), "loja.example");
  EXPECT_EQ(UriHost("http://[::1]:80/"), "[::1]");
  EXPECT_EQ(UriHost("/relative"), "");
}

TEST(PercentEncodeNameTest, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(PercentEncodeName("cnpj"), "cnpj");
  EXPECT_EQ(PercentEncodeName("a b&c=é"), "a%20b%26c%3D%C3%A9");
}

}  // namespace
}  // namespace zendrel
