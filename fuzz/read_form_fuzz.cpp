// One input form of a templated read, chosen when the target is built:
// FORM_integer (Iw), FORM_real (Fw.d), FORM_text (A), FORM_text_width (Aw)
// or FORM_skip (nX). The first bytes choose widths, repeat counts and field
// capacities; the rest is the input. Each run:
//
// - reads the first record through a template made at run time (the same
//   parser and engine as a tool's template), from an internal record held
//   in a block of exactly its size and from a channel over the whole input,
//   and compares every item with a plain reading of its columns;
// - for the numeric forms, writes a value chosen by the bytes with the
//   same form, compares the field with printf's, and reads it back: an
//   integer comes back as it was, a real as the value rounded to d
//   decimals (printf's exact rounding, read back by strtof); a field of
//   asterisks is an error, never a value.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text.h"

const char zeb::tool_name[] = "read_form_fuzz";

namespace {

using fuzz::model_item;

// Columns [from, from + w) of a record; those past its end are blanks.
std::string columns(std::string_view record, std::size_t from, std::size_t w) {
  std::string out(w, ' ');
  for (std::size_t k = 0; k < w && from + k < record.size(); ++k) out[k] = record[from + k];
  return out;
}

struct plan {
  std::string text;              // the template
  std::vector<model_item> want;  // items, and what the record gives them
  bool error = false;            // the record makes the outcome error
};

// The template and the expected items for one record.
plan make_plan(fuzz::bytes& in, std::string_view record) {
  plan p;
  const int repeat = in.take() % 4 + 1;
  std::size_t col = 0;
#if defined(FORM_integer) || defined(FORM_real)
  const int w = in.take() % 40 + 1;
#if defined(FORM_integer)
  p.text = "(" + std::to_string(repeat) + "I" + std::to_string(w) + ")";
  const int d = 0;
#else
  const int d = in.take() % (w + 1 < 41 ? w + 1 : 41);
  p.text = "(" + std::to_string(repeat) + "F" + std::to_string(w) + "." + std::to_string(d) + ")";
#endif
  for (int k = 0; k < repeat && !p.error; ++k) {
    model_item it{};
#if defined(FORM_integer)
    it.kind = 'I';
    it.i = -77;
    const bool ok = fuzz::ref_integer(columns(record, col, std::size_t(w)), true, it.i);
#else
    it.kind = 'F';
    it.f = -77.5f;
    const bool ok = fuzz::ref_real(columns(record, col, std::size_t(w)), true, d, it.f);
#endif
    col += std::size_t(w);
    p.want.push_back(it);
    p.error = !ok;
  }
  (void)d;
#elif defined(FORM_text) || defined(FORM_text_width)
  // A: as wide as the field; Aw: w columns, the rightmost of them when the
  // field is narrower, left-justified and blank-padded when it is wider.
  const std::size_t cap = in.take() % 24 + 1;
#if defined(FORM_text)
  const std::size_t w = cap;
  p.text = "(" + std::to_string(repeat) + "A)";
#else
  const std::size_t w = in.take() % 30 + 1;
  p.text = "(" + std::to_string(repeat) + "A" + std::to_string(w) + ")";
#endif
  for (int k = 0; k < repeat; ++k) {
    model_item it{};
    it.kind = 'A';
    it.cap = cap;
    const std::string field = columns(record, col, w);
    it.a = w < cap ? field + std::string(cap - w, ' ') : field.substr(w - cap);
    col += w;
    p.want.push_back(it);
  }
#else
  // nX skips exactly n columns: the text after it is the record from
  // column n + 1 on. Two skips in a row skip their sum.
  const int n1 = in.take() % 40 + 1;
  const int n2 = in.take() % 3 == 0 ? in.take() % 40 + 1 : 0;
  const std::size_t cap = in.take() % 24 + 1;
  p.text = "(" + std::to_string(n1) + "X," + (n2 ? std::to_string(n2) + "X," : std::string()) + "A," +
           std::to_string(repeat) + "X,A)";
  col = std::size_t(n1 + n2);
  for (int k = 0; k < 2; ++k) {
    model_item it{};
    it.kind = 'A';
    it.cap = cap;
    it.a = columns(record, col, cap);
    col += cap + std::size_t(repeat);
    p.want.push_back(it);
  }
#endif
  return p;
}

void check_read(const plan& p, std::string_view record, zeb::channel* ch) {
  const zeb::record_program program = zeb::parse_template(p.text);
  FUZZ_CHECK(program.error == nullptr);
  std::vector<model_item> start = p.want;
  for (model_item& it : start) {
    it.i = -77;
    it.f = -77.5f;
    it.a = std::string(it.cap, '#');
  }
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<char> texts;
  std::vector<zeb::item> items = fuzz::bind(start, ints, floats, texts);
  zeb::outcome o;
  if (ch) {
    o = zeb::read_record(*ch, program, items.data(), int(items.size()));
  } else {
    const fuzz::exact_copy copy(record);
    o = zeb::read_record(std::span<const char>(copy.p, copy.n), program, items.data(), int(items.size()));
  }
  FUZZ_CHECK(o == (p.error ? zeb::outcome::error : zeb::outcome::done));
  // Items before a failing field hold their values; the failing one may
  // hold anything.
  const std::size_t failed = p.error ? p.want.size() - 1 : SIZE_MAX;
  FUZZ_CHECK(fuzz::same_items(p.want, items, failed));
  if (ch && !p.error) FUZZ_CHECK(ch->items_read == int(items.size()));
}

void write_and_read_back(fuzz::bytes& in) {
#if defined(FORM_integer)
  const int w = in.take() % 13 + 1;
  const std::int32_t v = std::int32_t(in.take32()) >> (in.take() % 32);
  std::vector<char> field(static_cast<std::size_t>(w));
  zeb::put_integer(field.data(), v, w);
  const std::string text(field.data(), field.size());
  FUZZ_CHECK(text == fuzz::ref_integer_field(v, w));
  const std::string tmpl = "(I" + std::to_string(w) + ")";
  std::int32_t back = 0;
  zeb::item it;
  it.kind = 'I';
  it.i = &back;
  const zeb::outcome o = zeb::read_record(std::span<const char>(field.data(), field.size()),
                                          zeb::parse_template(tmpl), &it, 1);
  if (text[0] == '*') {
    FUZZ_CHECK(o == zeb::outcome::error);
  } else {
    FUZZ_CHECK(o == zeb::outcome::done && back == v);
  }
#elif defined(FORM_real)
  const int w = in.take() % 60 + 1;
  const int d = in.take() % 41;
  std::uint32_t bits = in.take32();
  if (in.take() & 1) bits &= 0xc3ffffff;  // mostly moderate exponents
  float v;
  std::memcpy(&v, &bits, sizeof v);
  std::vector<char> field(static_cast<std::size_t>(w));
  zeb::put_real(field.data(), v, w, d);
  const std::string text(field.data(), field.size());
  FUZZ_CHECK(text == fuzz::ref_real_field(v, w, d));
  const std::string tmpl = "(F" + std::to_string(w) + "." + std::to_string(d) + ")";
  float back = 0;
  zeb::item it;
  it.kind = 'F';
  it.f = &back;
  const zeb::outcome o = zeb::read_record(std::span<const char>(field.data(), field.size()),
                                          zeb::parse_template(tmpl), &it, 1);
  // Asterisks, or a field too narrow for any digit ("." or "-." when the
  // lone 0 was left out), cannot be read back.
  if (text[0] == '*' || text.find_first_of("0123456789aIN") == std::string::npos) {
    FUZZ_CHECK(o == zeb::outcome::error);
    return;
  }
  FUZZ_CHECK(o == zeb::outcome::done);
  if (std::isnan(v) || std::isinf(v)) {
    FUZZ_CHECK(fuzz::same_float(back, v));
    return;
  }
  // The value rounded to d decimals, then to the nearest float.
  static char rounded[512];
  std::snprintf(rounded, sizeof rounded, "%.*f", d, double(v));
  FUZZ_CHECK(fuzz::same_float(back, std::strtof(rounded, nullptr)));
#else
  // Text: "(Aw)" writes the leftmost w characters, or w - n blanks and the
  // text; "(A)" writes the text whole.
  std::string t;
  for (std::size_t k = in.take() % 20; k > 0; --k) t += char(in.take());
  const std::size_t w = in.take() % 24;
  const std::string tmpl = w ? "(A" + std::to_string(w) + ")" : std::string("(A)");
  const std::string want = w == 0 ? t : w <= t.size() ? t.substr(0, w) : std::string(w - t.size(), ' ') + t;
  std::vector<char> record(want.size() + 1);
  zeb::value v;
  v.a = {t.data(), t.size()};
  zeb::write_record(std::span<char>(record.data(), record.size()), zeb::parse_template(tmpl), &v, 1);
  FUZZ_CHECK(std::string(record.data(), record.size()) == want + " ");
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::bytes in{data, size};
  write_and_read_back(in);
  fuzz::bytes params = in;
  const std::string_view text = in.rest().substr(std::min<std::size_t>(in.rest().size(), 8));
  const std::vector<std::string> records = fuzz::records_of(text);
  const std::string first = records.empty() ? std::string() : records[0];

  // Parameters come from the 8 bytes before the input.
  plan p = make_plan(params, first);
  check_read(p, first, nullptr);
  zeb::channel& ch = fuzz::input_channel(text);
  if (records.empty()) {
    std::vector<model_item> none = p.want;
    std::vector<std::int32_t> ints;
    std::vector<float> floats;
    std::vector<char> texts;
    std::vector<zeb::item> items = fuzz::bind(none, ints, floats, texts);
    FUZZ_CHECK(zeb::read_record(ch, zeb::parse_template(p.text), items.data(), int(items.size())) ==
               zeb::outcome::end_of_file);
    return 0;
  }
  check_read(p, first, &ch);
  FUZZ_CHECK(ch.line == 1);
  return 0;
}
