// Free-form input (read_free). The first byte picks one of two checks:
//
// - Any text (lines of any length: fuzz::expand_runs), read by statements
//   of integers, reals and text fields chosen by the next bytes, statement
//   after statement to the end: every outcome, every item's value, the
//   count of items read and the records consumed match a plain model of
//   the rules (fuzz_support.h); and the general engine alone, on a second
//   channel, gives all the same as read_free with its quick path.
// - Values chosen by the bytes, written as a free-form list (blanks, commas,
//   semicolons, tabs, line ends, r*value, nulls, quoted texts, a slash),
//   read back to exactly those values.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text.h"

const char zeb::tool_name[] = "free_form_fuzz";

namespace {

using fuzz::model_item;

std::vector<model_item> statement(fuzz::bytes& in) {
  std::vector<model_item> items(in.take() % 9);
  for (model_item& it : items) {
    const std::uint8_t b = in.take();
    it.kind = "IFA"[b % 3];
    it.cap = std::size_t(b / 3 % 12 + 1);
    it.i = -7;
    it.f = -7.5f;
    it.a = std::string(it.cap, '#');
  }
  return items;
}

void against_model(fuzz::bytes in) {
  std::vector<std::vector<model_item>> statements(in.take() % 4 + 1);
  for (auto& s : statements) s = statement(in);
  const std::string expanded = fuzz::expand_runs(in.rest());
  const fuzz::exact_copy text(expanded);
  zeb::channel& ch = fuzz::input_channel(text.view());
  zeb::channel& general = fuzz::input_channel(text.view(), 1);
  fuzz::free_form_model model{fuzz::records_of(text.view())};

  std::vector<std::int32_t> ints, general_ints;
  std::vector<float> floats, general_floats;
  std::vector<char> texts, general_texts;
  for (int round = 0; round < 64; ++round) {
    std::vector<model_item>& want = statements[std::size_t(round) % statements.size()];
    std::vector<model_item> before = want;
    std::vector<zeb::item> items = fuzz::bind(want, ints, floats, texts);
    std::vector<zeb::item> general_items = fuzz::bind(before, general_ints, general_floats, general_texts);
    const zeb::outcome got = zeb::read_free(ch, items.data(), int(items.size()));
    const zeb::outcome general_got = zeb::read_free_general(general, general_items.data(), int(general_items.size()));
    int items_read = 0;
    const zeb::outcome expected = model.read(want, items_read);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(ch.items_read == items_read);
    FUZZ_CHECK(fuzz::same_items(want, items, got == zeb::outcome::error ? std::size_t(items_read) : SIZE_MAX));
    // The quick path and the general engine: the same items, outcome, place.
    FUZZ_CHECK(general_got == got);
    FUZZ_CHECK(general.items_read == ch.items_read && general.line == ch.line);
    for (std::size_t k = 0; k < items.size(); ++k) {
      const zeb::item& a = items[k];
      const zeb::item& b = general_items[k];
      if (a.kind == 'I') FUZZ_CHECK(*a.i == *b.i);
      else if (a.kind == 'F') FUZZ_CHECK(std::memcmp(a.f, b.f, sizeof(float)) == 0 || (std::isnan(*a.f) && std::isnan(*b.f)));
      else FUZZ_CHECK(std::memcmp(a.a.p, b.a.p, a.a.n) == 0);
    }
    FUZZ_CHECK((general.bad_kind == nullptr) == (ch.bad_kind == nullptr));
    if (ch.bad_kind)
      FUZZ_CHECK(std::string_view(general.bad_text, general.bad_length) == std::string_view(ch.bad_text, ch.bad_length));
    // Never a record more than the statement needed, never one it skipped.
    FUZZ_CHECK(std::size_t(ch.line) == model.next_record);
    if (got == zeb::outcome::error) FUZZ_CHECK(ch.bad_kind != nullptr || ch.sys_error != 0);
    if (got == zeb::outcome::end_of_file) break;
  }
}

// A real written so that its text reads back to exactly the same float.
std::string real_text(float v, std::uint8_t style) {
  char b[512];
  if (std::isnan(v)) return style & 1 ? "NaN" : "nan";
  if (std::isinf(v)) return v < 0 ? "-Inf" : (style & 1 ? "Infinity" : "+inf");
  switch (style % 4) {
    case 0: std::snprintf(b, sizeof b, "%.9g", double(v)); break;
    case 1: std::snprintf(b, sizeof b, "%.8e", double(v)); break;
    case 2: {
      std::snprintf(b, sizeof b, "%.8E", double(v));
      if (char* e = std::strchr(b, 'E')) *e = 'D';
      break;
    }
    default: std::snprintf(b, sizeof b, "%.60f", double(v)); break;
  }
  return b;
}

// A text token: quoted (doubling its quote) when it holds a separator or
// begins with a quote, else bare.
std::string text_token(const std::string& t, std::uint8_t style) {
  bool bare = !t.empty() && t[0] != '\'' && t[0] != '"' && !fuzz::is_digit(t[0]);
  for (char c : t) bare = bare && !fuzz::is_separator(c) && c != '*' && c != '\n' && c != '\r';
  if (bare && (style & 1)) return t;
  const char quote = style & 2 ? '"' : '\'';
  std::string out(1, quote);
  for (char c : t) {
    out += c;
    if (c == quote) out += quote;
  }
  return out + quote;
}

void round_trip(fuzz::bytes in) {
  const std::size_t count = in.take() % 10 + 1;
  std::vector<model_item> want(count);
  for (model_item& it : want) {
    const std::uint8_t b = in.take();
    it.kind = "IFA"[b % 3];
    it.cap = std::size_t(b / 3 % 8 + 1);
    it.i = std::int32_t(in.take32());
    std::uint32_t bits = in.take32();
    std::memcpy(&it.f, &bits, sizeof it.f);
    it.a.clear();
    for (std::size_t k = in.take() % 10; k > 0; --k) {
      const char c = char(in.take());
      if (c != '\n' && c != '\r') it.a += c;
    }
  }
  std::vector<model_item> before = want;  // what the items hold before the read
  for (model_item& it : before) it.a = std::string(it.cap, '#');

  // The list, and the values the items must hold after it. Right after a
  // value a comma only separates; right after a null's comma, another comma
  // would be a null of its own.
  std::string list;
  std::vector<model_item> after = before;
  enum { start, value, null_comma } last = start;
  auto separator = [&](bool comma_needed) {
    static const char* const blanks[] = {" ", "\t", "\n", "  \n\t "};
    static const char* const commas[] = {",", ", ", " ;", " , ", ";"};
    const std::uint8_t b = in.take();
    if (last == start) return;
    if (last == null_comma) list += blanks[b % 4];
    else if (comma_needed || b & 0x80) list += commas[b % 5];
    else list += blanks[b % 4];
  };
  for (std::size_t k = 0; k < count;) {
    const std::uint8_t how = in.take();
    if (how % 8 == 0) {  // a null: the item keeps its value
      separator(true);
      list += ',';
      last = null_comma;
      ++k;
      continue;
    }
    if (how % 8 == 1 && k > 0) {  // a slash ends the statement
      separator(false);
      list += '/';
      break;
    }
    // r*value (or r* alone: r nulls) over the following items of one kind.
    std::size_t r = 1;
    if (how % 8 == 2 || how % 8 == 3) {
      while (k + r < count && want[k + r].kind == want[k].kind && r < 4) ++r;
    }
    separator(false);
    if (how % 8 == 2 || how % 8 == 3) list += std::to_string(r) + "*";
    last = value;
    if (how % 8 == 3) {
      k += r;
      continue;
    }
    const model_item& it = want[k];
    if (it.kind == 'I') {
      list += std::to_string(it.i);
    } else if (it.kind == 'F') {
      list += real_text(it.f, how >> 3);
    } else {
      list += text_token(it.a, how >> 3);
    }
    for (std::size_t n = 0; n < r; ++n) {
      model_item& out = after[k + n];
      if (it.kind == 'I') out.i = it.i;
      else if (it.kind == 'F') out.f = it.f;
      else fuzz::store_text(out, it.a);
    }
    k += r;
  }
  list += "\n";

  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<char> texts;
  std::vector<zeb::item> items = fuzz::bind(before, ints, floats, texts);
  zeb::channel& ch = fuzz::input_channel(list);
  const zeb::outcome o = zeb::read_free(ch, items.data(), int(items.size()));
  if (o != zeb::outcome::done || !fuzz::same_items(after, items))
    std::fprintf(stderr, "list: [%s]\n", list.c_str());
  FUZZ_CHECK(o == zeb::outcome::done);
  FUZZ_CHECK(fuzz::same_items(after, items));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::bytes in{data, size};
  if (in.take() % 2 == 0) against_model(in);
  else round_trip(in);
  return 0;
}
