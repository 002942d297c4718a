#pragma once
// What a controller card says and is told, as UTF-8 JSON texts, for every test that plays or
// watches a card.

#include <string>

namespace aqled::testing {

// The Login answer the application sends a card it has taken.
inline constexpr const char* kLoginAnswerText = R"({"name":"Login","output":{"action":"auth","delay":"30"}})";

// A card's LOGIN message; `width` and `height` are JSON values as the card writes them (a
// quoted number by default, as real cards send it).
inline std::string LoginText(const std::string& barcode, const std::string& name = "N",
                             const std::string& width = "\"64\"", const std::string& height = "\"32\"") {
  return R"({"name":"LOGIN","input":{"barcode":")" + barcode + R"(","controllername":")" + name +
         R"(","width":)" + width + R"(,"height":)" + height + "}}";
}

}  // namespace aqled::testing
