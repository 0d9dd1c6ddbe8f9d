// The JSON record classes read from the platform's list replies: the campaign's
// product list and the pending resets. Each reply is wrapped as {"Items": <reply JSON
// text>} and read with FromJsonString, whose rules (case-insensitive member names,
// how each JSON value lands in a field, the error texts) are part of the contract
// with the platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zendrel {

// One campaign product.
struct TItemClass {
  std::string ean;
  std::string produto;
};

// Root of the product list. A null element of the array is an empty entry
// (std::nullopt), which callers can tell apart from a product.
struct TRootClass {
  std::vector<std::optional<TItemClass>> Items;

  // Reads `AJsonString`; std::nullopt for an empty text or the literal null.
  // Throws ConversionError with the mapping's messages.
  static std::optional<TRootClass> FromJsonString(const std::string& AJsonString);
};

// One pending reset.
struct TItemRetornoResetClass {
  std::string data;
  std::string uri;
};

// Root of the reset status.
struct TRetornoResetClass {
  std::vector<std::optional<TItemRetornoResetClass>> Items;

  static std::optional<TRetornoResetClass> FromJsonString(const std::string& AJsonString);
};

// {"Items": <text>}, the wrapping both list calls read.
std::string WrapItems(const std::string& reply_json_text);

}  // namespace zendrel
