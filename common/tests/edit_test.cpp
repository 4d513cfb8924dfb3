// Edit forms: Iw and Fw.d out, Iw and Fw.d in.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "engine.h"

namespace {

std::string integer_out(std::int32_t v, int w) {
  std::string s(size_t(w), '?');
  zeb::put_integer(s.data(), v, w);
  return s;
}

std::string real_out(float v, int w, int d) {
  std::string s(size_t(w), '?');
  zeb::put_real(s.data(), v, w, d);
  return s;
}

TEST(IntegerOut, RightJustifiedOrAsterisks) {
  EXPECT_EQ(integer_out(1, 6), "     1");
  EXPECT_EQ(integer_out(-12345, 6), "-12345");
  EXPECT_EQ(integer_out(-100000, 6), "******");
  EXPECT_EQ(integer_out(999999, 6), "999999");
  EXPECT_EQ(integer_out(1000000, 6), "******");
  EXPECT_EQ(integer_out(1234567, 6), "******");
  EXPECT_EQ(integer_out(INT32_MIN, 11), "-2147483648");
  EXPECT_EQ(integer_out(0, 3), "  0");
  EXPECT_EQ(integer_out(1000, 3), "***");
}

struct real_case {
  float v;
  int w, d;
  const char* text;
};

TEST(RealOut, RoundsTheExactValue) {
  const real_case cases[] = {
      {12.5f, 11, 1, "       12.5"},
      {0.0f, 11, 1, "        0.0"},
      {-0.04f, 11, 1, "       -0.0"},     // a negative that rounds to zero keeps its sign
      {-0.0f, 11, 1, "       -0.0"},
      {0.05f, 12, 3, "       0.050"},
      {0.15f, 12, 1, "         0.2"},    // its float lies just above 0.15
      {0.25f, 12, 1, "         0.2"},    // an exact tie goes to the even digit
      {0.35f, 12, 1, "         0.3"},    // its float lies just below 0.35
      {2.5f, 5, 0, "   2."},
      {3.5f, 5, 0, "   4."},
      {1234567.0f, 11, 1, "  1234567.0"},
      {123456789.0f, 12, 1, " 123456792.0"},  // the nearest float, a multiple of 8
      {12345678901.0f, 11, 1, "***********"},
      {1e30f, 12, 1, "************"},
      {0.5f, 3, 1, "0.5"},
      {0.5f, 2, 1, ".5"},                  // the lone 0 goes first
      {-0.5f, 3, 1, "-.5"},
      {-0.5f, 2, 1, "**"},
      {99.96f, 5, 1, "100.0"},
      {99.96f, 4, 1, "****"},
      {1.0f / 3.0f, 12, 8, "  0.33333334"},
      {1.0f / 3.0f, 14, 10, "  0.3333333433"},
      {3e9f, 14, 1, "  3000000000.0"},
      {0x1p54f, 20, 0, "  18014398509481984."},  // the point stays at every magnitude
      {-9.5958487e24f, 27, 0, "-9595848693191119074230272."},
      {1.17549435e-38f, 6, 1, "   0.0"},
      {INFINITY, 11, 1, "   Infinity"},
      {-INFINITY, 11, 1, "  -Infinity"},
      {INFINITY, 5, 1, "*****"},
      {NAN, 11, 1, "        NaN"},
  };
  for (const real_case& c : cases) EXPECT_EQ(real_out(c.v, c.w, c.d), c.text) << c.v;
}

TEST(RealOut, AgreesWithExactConversionOverManyValues) {
  // Against printf, which is exact in the C locale: every 997th float pattern.
  for (std::uint32_t bits = 0; bits < 0x7f800000u; bits += 997 * 4099) {
    float v;
    std::memcpy(&v, &bits, 4);
    if (std::fpclassify(v) == FP_SUBNORMAL) continue;
    for (int d : {1, 3}) {
      char want[80];
      const int n = std::snprintf(want, sizeof want, "%12.*f", d, double(v));
      EXPECT_EQ(real_out(v, 12, d), n > 12 ? std::string(12, '*') : std::string(want)) << v;
    }
  }
}

struct integer_in {
  const char* field;
  bool ok;
  std::int32_t v;
};

TEST(IntegerIn, FixedFieldIgnoresBlanks) {
  const integer_in cases[] = {
      {"    12", true, 12},     {"  -1 2", true, -12},   {"      ", true, 0},
      {"+7", true, 7},          {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},                  {"2147483648", false, 0},
      {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
      {"1.5", false, 0},        {"1e3", false, 0},        {"abc", false, 0},
      {"-", false, 0},          {"1-", false, 0},
  };
  for (const integer_in& c : cases) {
    std::int32_t v = -999;
    EXPECT_EQ(zeb::get_integer(c.field, true, v), c.ok) << c.field;
    if (c.ok) {
      EXPECT_EQ(v, c.v) << c.field;
    }
  }
  std::int32_t v;
  EXPECT_FALSE(zeb::get_integer("1 2", false, v)) << "a token holds no blanks";
  EXPECT_FALSE(zeb::get_integer("", false, v)) << "an empty token is no integer";
}

struct real_in {
  const char* field;
  int d;
  bool ok;
  float v;
};

TEST(RealIn, ImpliedDecimalsExponentsAndWords) {
  const real_in cases[] = {
      {"       1.5 ", 1, true, 1.5f},  {"        125", 1, true, 12.5f},
      {"  1 2 5    ", 1, true, 12.5f}, {"       12.5", 1, true, 12.5f},
      {"           ", 1, true, 0.0f},  {"", 1, true, 0.0f},
      {"125", 3, true, 0.125f},        {"5", 3, true, 0.005f},
      {"1.5E2", 1, true, 150.0f},      {"1.5d2", 1, true, 150.0f},
      {"1.5D-2", 1, true, 0.015f},     {"1.5+2", 1, true, 150.0f},
      {"15-1", 1, true, 0.15f},        {"15E1", 1, true, 15.0f},  // implied point, then exponent
      {"-.5", 1, true, -0.5f},         {"+3.", 1, true, 3.0f},
      {"Infinity", 1, true, INFINITY}, {"-Inf", 1, true, -INFINITY},
      {"infinity", 1, true, INFINITY}, {"1e39", 0, true, INFINITY},
      {"-1e-50", 0, true, -0.0f},      {"1.00000001", 0, true, 1.0f},
      {"16777217", 0, true, 16777216.0f},
      {"abc", 1, false, 0},            {"1.5.", 1, false, 0},
      {"1.5E", 1, false, 0},           {"E5", 1, false, 0},
      {".", 1, false, 0},              {"1,5", 1, false, 0},
      {"0x10", 0, false, 0},           {"1.5e+", 1, false, 0},
  };
  for (const real_in& c : cases) {
    float v = -999.0f;
    EXPECT_EQ(zeb::get_real(c.field, true, c.d, v), c.ok) << c.field;
    if (c.ok) {
      EXPECT_EQ(v, c.v) << c.field;
      EXPECT_EQ(std::signbit(v), std::signbit(c.v)) << c.field;
    }
  }
  float v = 0;
  ASSERT_TRUE(zeb::get_real("NaN", true, 1, v));
  EXPECT_TRUE(std::isnan(v));
  ASSERT_TRUE(zeb::get_real("-nan", false, 0, v));
  EXPECT_TRUE(std::isnan(v));
}

TEST(RealIn, LongMantissaIsRoundedOnce) {
  // 0.1 followed by many zeros and a final 1 lies just above 0.1f's midpoint
  // neighbourhood only in the last digit: one rounding keeps it at 0.1f.
  std::string text = "0.1" + std::string(3000, '0') + "1";
  float v = 0;
  ASSERT_TRUE(zeb::get_real(text, false, 0, v));
  EXPECT_EQ(v, 0.1f);
}

}  // namespace

namespace {

TEST(RealIn, QuickPathAgreesWithFromChars) {
  // Plain decimals of every length the quick path takes, against the
  // correctly rounded conversion of the standard library.
  std::uint64_t state = 12345;
  auto next = [&] { return state = state * 6364136223846793005u + 1442695040888963407u; };
  for (int i = 0; i < 300000; ++i) {
    const int digits = 1 + int(next() % 15);
    std::string text = (next() & 1) ? "-" : "";
    std::string mantissa;
    for (int k = 0; k < digits; ++k) mantissa += char('0' + next() % 10);
    const int decimals = int(next() % 23);
    if (decimals > 0 && decimals <= digits) mantissa.insert(mantissa.size() - size_t(decimals), ".");
    text += mantissa;
    float quick = 0;
    float exact = 0;
    std::from_chars(text.data(), text.data() + text.size(), exact);
    if (zeb::get_real(text, false, 0, quick)) {
      EXPECT_EQ(quick, exact) << text;
    }
  }
}

}  // namespace

namespace {

TEST(RealIn, MidpointsBetweenFloatsRoundToEven) {
  // Odd integers above 2^24 lie halfway between two floats; written with
  // decimals they must still round to the even one, as an exact conversion
  // does, however the quick path computes them.
  for (std::uint32_t k = 16777217; k < 16777217 + 4000; k += 2) {
    for (const char* zeros : {"", ".0", ".00", ".000", ".0000", ".00000", ".000000"}) {
      const std::string text = std::to_string(k) + zeros;
      float quick = 0;
      float exact = 0;
      std::from_chars(text.data(), text.data() + text.size(), exact);
      ASSERT_TRUE(zeb::get_real(text, false, 0, quick)) << text;
      EXPECT_EQ(quick, exact) << text;
    }
  }
  // Fifteen-digit neighbours of midpoints, where a product by an inexact
  // power of ten lands on the wrong side.
  for (const char* text : {"1.00215083360672", "1.00231271982193", "1.00247460603714",
                           "1.00454443693161", "1.00807124376297", "1.01078861951828"}) {
    float quick = 0;
    float exact = 0;
    std::from_chars(text, text + std::strlen(text), exact);
    ASSERT_TRUE(zeb::get_real(text, false, 0, quick)) << text;
    EXPECT_EQ(quick, exact) << text;
  }
}

}  // namespace

namespace {

TEST(FixedLayoutOut, QuickFormsAgreeWithTheEdits) {
  // The fields of an all-I/F template take the quick forms: every width
  // and number of decimals, values of every size and sign, against the
  // general edits.
  std::uint64_t state = 777;
  auto next = [&] { return state = state * 6364136223846793005u + 1442695040888963407u; };
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t bits = std::uint32_t(next() >> 32);
    float values[3];
    std::memcpy(&values[0], &bits, sizeof bits);
    values[1] = float(std::int64_t(next() % 4000000) - 2000000) / 10.0f;
    values[2] = float(std::int64_t(next() % 2000000) - 1000000) / 1000.0f;
    const std::int32_t integer = std::int32_t(bits) >> (next() % 32);
    for (int w = 1; w <= 16; ++w) {
      char quick[32], general[32];
      zeb::detail::put_integer_fixed(quick, integer, w);
      zeb::put_integer(general, integer, w);
      ASSERT_EQ(std::string(quick, size_t(w)), std::string(general, size_t(w))) << integer << " I" << w;
      for (int d = 0; d < w && d <= 9; ++d)
        for (const float v : values) {
          zeb::detail::put_real_fixed(quick, v, w, d);
          zeb::put_real(general, v, w, d);
          ASSERT_EQ(std::string(quick, size_t(w)), std::string(general, size_t(w)))
              << v << " F" << w << "." << d;
        }
    }
  }
}

}  // namespace
