// TraduzErro: the fixed texts, and the 400 messages cut out of real reply bodies after
// they went through the reply JSON text, as the API calls hand them over.
#include "api/status_translation.h"

#include <gtest/gtest.h>

#include <string>

#include "api/reply_json_text.h"

namespace zendrel {
namespace {

struct BodyCase {
  const char* what;
  std::int32_t status;
  std::string body;
  std::string expected;
};

class TraduzErroFromBody : public testing::TestWithParam<BodyCase> {};

TEST_P(TraduzErroFromBody, TranslatesTheReply) {
  const BodyCase& c = GetParam();
  EXPECT_EQ(TraduzErro(c.status, ReplyJsonText(c.body)), c.expected) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Status400, TraduzErroFromBody,
    testing::Values(
        BodyCase{"one message", 400, R"({"errors":["CPF inválido"]})", "CPF inválido"},
        BodyCase{"two messages in a member: eight blanks", 400,
                 R"({"errors":["CPF inválido","Valor inválido"]})",
                 "CPF inválido,        Valor inválido"},
        BodyCase{"top-level array: four blanks", 400, R"(["a","b"])", "a,    b"},
        BodyCase{"no array anywhere", 400, R"({"message":"CPF inválido"})", ""},
        BodyCase{"empty body", 400, "", ""},
        BodyCase{"body that is not JSON", 400, "<html>[Bad Request]</html>", ""},
        BodyCase{"empty array", 400, R"({"errors":[]})", ""},
        BodyCase{"top-level empty array", 400, "[]", ""},
        BodyCase{"escaped slash keeps its backslash", 400, R"(["CPF/CNPJ inválido"])",
                 R"(CPF\/CNPJ inválido)"},
        BodyCase{"escaped quote leaves its backslash", 400, R"(["diz \"oi\""])",
                 R"(diz \oi\)"},
        BodyCase{"first ] is inside a string", 400, R"(["campo [x] inválido"])", "campo [x"},
        BodyCase{"array of arrays starts at the inner [", 400,
                 R"({"errors":[["a","b"],["c"]]})", "[            a,            b"},
        BodyCase{"] before the first [", 400, R"({"a":"]","b":["x"]})", ""},
        BodyCase{"numbers and literals as written", 400, R"({"codes":[1.50,true]})",
                 "1.50,        true"},
        BodyCase{"messages after other members", 400,
                 R"({"status":400,"title":"Bad","errors":["Valor inválido"]})",
                 "Valor inválido"}));
// clang-format on

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    OtherStatuses, TraduzErroFromBody,
    testing::Values(BodyCase{"200", 200, R"(["a"])", ""},
                    BodyCase{"201", 201, R"(["a"])", ""},
                    BodyCase{"202", 202, R"({"errors":["a"]})", ""},
                    BodyCase{"999", 999, R"(["a"])", ""},
                    BodyCase{"0", 0, R"(["a"])", ""},
                    BodyCase{"-400", -400, R"(["a"])", ""},
                    BodyCase{"499", 499, R"(["a"])", ""},
                    BodyCase{"503", 503, R"(["a"])", ""},
                    BodyCase{"203", 203, R"(["a"])", "Não autorizado!!!"},
                    BodyCase{"204", 204, "", "Não existe conteúdo!!!"},
                    BodyCase{"301", 301, R"(["a"])", "Movido!!!"},
                    BodyCase{"401", 401, R"(["a"])", "Acesso não autorizado!!!"},
                    BodyCase{"402", 402, R"(["a"])", "Pagamento necessário!!!"},
                    BodyCase{"403", 403, R"(["a"])", "Proibido!!!"},
                    BodyCase{"404", 404, R"(["a"])", "Não encontrado, verifique a URL!!!"},
                    BodyCase{"405", 405, R"(["a"])", "Método não permitido!!!"},
                    BodyCase{"406", 406, R"(["a"])", "Não aceitável!!!"},
                    BodyCase{"408", 408, R"(["a"])", "Tempo esgotado [Timeout]!!!"},
                    BodyCase{"500", 500, R"(["a"])", "Erro interno do servidor!!!"},
                    BodyCase{"501", 501, R"(["a"])", "Recurso não implementado!!!"}));
// clang-format on

// The 400 rule works on any text, not only on the layout, and never throws.
struct TextCase {
  const char* what;
  std::string schema;
  std::string expected;
};

class TraduzErroFromText : public testing::TestWithParam<TextCase> {};

TEST_P(TraduzErroFromText, Cuts400Messages) {
  const TextCase& c = GetParam();
  EXPECT_EQ(TraduzErro(400, c.schema), c.expected) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Texts, TraduzErroFromText,
    testing::Values(
        TextCase{"character after [ is dropped, whatever it is", "[xabc]", "abc"},
        TextCase{"one character inside is dropped", "[x]", ""},
        TextCase{"two characters inside keep one", "[xy]", "y"},
        TextCase{"lone CR and LF stay inside", "[ a\rb\nc ]", "a\rb\nc"},
        TextCase{"CR LF pairs go, even between [ and its next character", "[\r\n a]", "a"},
        TextCase{"CR CR LF keeps the first CR", "[ a\r\r\nb]", "a\rb"},
        TextCase{"control characters trimmed at both ends", "[ \x01\t a b\x1f ]", "a b"},
        TextCase{"non-ASCII is not trimmed", "[ \xC3\xA9 ]", "\xC3\xA9"},
        TextCase{"only [", "[ a", ""},
        TextCase{"only ]", " a]", ""},
        TextCase{"empty text", "", ""},
        TextCase{"quotes removed everywhere", "[ \"a\" \"b\"]", "a b"}));
// clang-format on

}  // namespace
}  // namespace zendrel
