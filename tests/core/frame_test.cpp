// SPDX-License-Identifier: BSD-3-Clause
// The pieces of the command frame every call uses: splitting the command text
// into a name and options, finding an option by its beginning, and turning a
// double into an integer.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gateway/gateway.h"
#include "gateway/numbers.h"

namespace {

TEST(Frame, SplitsOptionsFromTheRightAndFindsTheRightmostWithAGivenBeginning) {
  struct Case {
    std::string text;                  // the command text
    std::string name;                  // what stays at its start
    std::vector<std::string> options;  // the list, right to left
    const char* key;                   // a key to find
    const char* found;                 // the option found for it, or nullptr
  };
  const std::string fifteen(15, ':'), sixteen(16, ':');
  const Case cases[] = {
      {"version", "version", {}, "a", nullptr},
      {"new_decoder:s=100:x", "new_decoder", {"x", "s=100"}, "s=", "s=100"},
      {"new_decoder:s=5:s=9", "new_decoder", {"s=9", "s=5"}, "s=", "s=9"},
      {"new_encoder:append", "new_encoder", {"append"}, "a", "append"},
      {"new_encoder::a:", "new_encoder", {"", "a", ""}, "a", "a"},
      {"new_encoder:>:a", "new_encoder", {"a", ">"}, ">", ">"},
      {"decode:uint8:int8", "decode", {"int8", "uint8"}, "uint8", "uint8"},
      {"x:s", "x", {"s"}, "s=", nullptr},
      {"v" + fifteen, "v", std::vector<std::string>(15, ""), "", ""},
      {"v" + sixteen, "v:", std::vector<std::string>(15, ""), "a", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> text(c.text.begin(), c.text.end());
    text.push_back('\0');
    const char* options[OPTION_CAPACITY];
    ASSERT_EQ(static_cast<int>(c.options.size()), split_options(text.data(), options, OPTION_CAPACITY));
    EXPECT_EQ(c.name, text.data());
    for (size_t i = 0; i < c.options.size(); ++i) EXPECT_EQ(c.options[i], options[i]) << i;
    EXPECT_EQ(nullptr, options[c.options.size()]);
    const char* found = find_option(options, c.key);
    if (c.found == nullptr) {
      EXPECT_EQ(nullptr, found);
    } else {
      ASSERT_NE(nullptr, found);
      EXPECT_STREQ(c.found, found);
    }
  }
}

TEST(Frame, TurnsDoublesIntoIntegersByTruncationAndOutOfRangeIntoTheSmallest) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    int32_t expected;
  } cases[] = {{2.9, 2},
               {-2.9, -2},
               {-0.5, 0},
               {0.0, 0},
               {2147483647.9, 2147483647},
               {-2147483648.9, INT32_MIN},
               {2147483648.0, INT32_MIN},
               {-2147483649.0, INT32_MIN},
               {std::nan(""), INT32_MIN},
               {inf, INT32_MIN},
               {-inf, INT32_MIN},
               {-42.7, -42}};
  for (const auto& c : cases) EXPECT_EQ(c.expected, double_to_int(c.value)) << c.value;
}

}  // namespace
