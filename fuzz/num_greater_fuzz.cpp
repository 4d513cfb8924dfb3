// num_greater's conversion and comparison (number_argument.h) on two
// arguments made of the input, split at its first zero byte. Checks:
//
// - a converted argument has exactly the value strtof gives the same text
//   (the nearest single-precision value of the longest leading number);
// - an argument is refused only where strtof finds no number either, or
//   where sscanf, unlike strtof, cannot take back the characters it read
//   past the number: a word that begins like infinity but stops short
//   ("infin"), or 0x with no hexadecimal digit after it;
// - the answer is 1 exactly when the first value is greater than the
//   second, values below 2^-126 counting as zero and nan never greater,
//   decided here in double precision after flushing by hand.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "number_argument.h"

namespace {

bool starts_with_word(const char* p, const char* word) {
  for (; *word; ++p, ++word)
    if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
  return true;
}

// Where sscanf refuses a text from which strtof takes a number: after the
// blanks and a sign, a prefix of "infinity" longer than "inf" that stops
// short of the whole word, or 0x (after an optional 0) not followed by a
// hexadecimal digit or a point and one.
bool scanf_cannot_back_out(const char* text) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (starts_with_word(p, "inf") && std::tolower(static_cast<unsigned char>(p[3])) == 'i' &&
      !starts_with_word(p, "infinity"))
    return true;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    const char* q = p + 2;
    if (*q == '.') ++q;
    return !std::isxdigit(static_cast<unsigned char>(*q));
  }
  return false;
}

void check_argument(const char* text, bool& ok, float& value) {
  ok = zeb::number_argument(text, value);
  char* end = nullptr;
  const float want = std::strtof(text, &end);
  const bool strtof_found = end != text;
  if (ok) {
    FUZZ_CHECK(strtof_found);
    FUZZ_CHECK(fuzz::same_float(value, want));
  } else {
    FUZZ_CHECK(!strtof_found || scanf_cannot_back_out(text));
  }
}

double flushed(float x) { return std::fabs(double(x)) < 0x1p-126 ? 0.0 : double(x); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string first = input.substr(0, zero);
  const std::string second = zero == std::string::npos ? std::string("0") : input.substr(zero + 1);
  bool ok_a, ok_b;
  float a = 0, b = 0;
  check_argument(first.c_str(), ok_a, a);
  check_argument(second.c_str(), ok_b, b);
  if (!ok_a || !ok_b) return 0;
  const char answer = zeb::greater_answer(a, b);
  FUZZ_CHECK(answer == '0' || answer == '1');
  FUZZ_CHECK((answer == '1') == (flushed(a) > flushed(b)));
  return 0;
}
