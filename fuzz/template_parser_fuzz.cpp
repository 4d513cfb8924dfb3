// The template parser and walk (parse_template, template_cursor) on any
// text: the bytes up to the first zero byte are the template, the bytes
// after it give values to write. The parser is the same constexpr function
// that checks every tool's templates when the tool is compiled. Checks:
//
// - it accepts exactly the templates a plain recursive reading of the
//   grammar accepts (with its limits: 24 ops, 4 nested groups, counts of at
//   most four digits, at most 40 decimals); parsing again gives the same;
// - the walk of an accepted template is finite and gives exactly the items
//   of the plain reading's expansion, repeats and groups unrolled;
// - written into an internal record of exactly the width the walk
//   promises, each item fills exactly its columns with what its form
//   writes; with fewer values the record ends at the first field without
//   one; and fields_match agrees with the kinds the walk gives.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text.h"

const char zeb::tool_name[] = "template_parser_fuzz";

// The parser that runs at run time is the one the compile-time check runs.
static_assert(zeb::parse_template("(3I6,F12.1,F12.1,F12.3)").error == nullptr);
static_assert(zeb::parse_template("(I5,' images in ',A)").count == 3);
static_assert(zeb::parse_template("(3I6,F12.1").error != nullptr);

namespace {

struct node {
  char kind;  // I F A X L G
  long repeat = 1;
  int width = 0;
  int decimals = 0;
  std::string_view literal;  // as written
  char quote = '\'';
  std::vector<node> children;
};

bool gives_items(const std::vector<node>& nodes) {
  for (const node& n : nodes)
    if (n.kind != 'G' || gives_items(n.children)) return true;
  return false;
}

struct reference_parser {
  std::string_view s;
  std::size_t at = 0;
  int ops = 0;

  bool end() const { return at >= s.size(); }
  void blanks() {
    while (!end() && s[at] == ' ') ++at;
  }
  bool number(long& out, long min) {
    std::size_t digits = 0;
    out = 0;
    while (!end() && fuzz::is_digit(s[at])) {
      out = out * 10 + (s[at++] - '0');
      if (++digits > 4) return false;
    }
    return digits > 0 && out >= min;
  }
  bool item(int depth, std::vector<node>& into) {
    blanks();
    if (end()) return false;
    node n{};
    if (s[at] == '\'' || s[at] == '"') {
      n.kind = 'L';
      n.quote = s[at++];
      const std::size_t start = at;
      for (;;) {
        if (end()) return false;
        if (s[at] == n.quote) {
          if (at + 1 < s.size() && s[at + 1] == n.quote) {
            at += 2;
            continue;
          }
          break;
        }
        ++at;
      }
      n.literal = s.substr(start, at - start);
      ++at;
      ++ops;
      into.push_back(n);
      return true;
    }
    bool counted = false;
    if (fuzz::is_digit(s[at])) {
      if (!number(n.repeat, 1)) return false;
      counted = true;
    }
    if (end()) return false;
    long v = 0;
    switch (s[at++]) {
      case 'I':
        n.kind = 'I';
        if (!number(v, 1)) return false;
        n.width = int(v);
        break;
      case 'F':
        n.kind = 'F';
        if (!number(v, 1)) return false;
        n.width = int(v);
        if (end() || s[at++] != '.') return false;
        if (!number(v, 0) || v > 40) return false;
        n.decimals = int(v);
        break;
      case 'A':
        n.kind = 'A';
        if (!end() && fuzz::is_digit(s[at])) {
          if (!number(v, 1)) return false;
          n.width = int(v);
        }
        break;
      case 'X':
        if (!counted) return false;
        n.kind = 'X';
        n.width = int(n.repeat);
        n.repeat = 1;
        break;
      case '(':
        if (depth == 4) return false;
        n.kind = 'G';
        ops += 1;
        if (!list(depth + 1, n.children) || !gives_items(n.children)) return false;
        break;
      default:
        return false;
    }
    ++ops;
    into.push_back(std::move(n));
    return true;
  }
  bool list(int depth, std::vector<node>& into) {
    blanks();
    if (!end() && s[at] == ')') {
      ++at;
      return true;
    }
    for (;;) {
      if (!item(depth, into)) return false;
      blanks();
      if (end()) return false;
      const char c = s[at++];
      if (c == ')') return true;
      if (c != ',') return false;
    }
  }
  bool parse(std::vector<node>& top) {
    blanks();
    if (end() || s[at++] != '(') return false;
    if (!list(0, top)) return false;
    blanks();
    return end() && ops <= zeb::max_template_ops;
  }
};

// The expansion of the plain reading; false when it has more than `limit`
// items (then only the first `limit` are given).
bool expand(const std::vector<node>& nodes, std::vector<zeb::template_item>& out, std::size_t limit) {
  for (const node& n : nodes) {
    if (n.kind == 'G') {
      for (long r = 0; r < n.repeat; ++r)
        if (!expand(n.children, out, limit)) return false;
      continue;
    }
    zeb::template_item it;
    it.kind = n.kind == 'I'   ? zeb::op_kind::integer
              : n.kind == 'F' ? zeb::op_kind::real
              : n.kind == 'A' ? zeb::op_kind::text
              : n.kind == 'X' ? zeb::op_kind::skip
                              : zeb::op_kind::literal;
    it.width = n.width;
    it.decimals = n.decimals;
    it.literal = n.literal;
    it.quote = n.quote;
    for (long r = 0; r < n.repeat; ++r) {
      if (out.size() == limit) return false;
      out.push_back(it);
    }
  }
  return true;
}

std::string unquoted(const zeb::template_item& it) {
  std::string out;
  for (std::size_t i = 0; i < it.literal.size(); ++i) {
    out += it.literal[i];
    if (it.literal[i] == it.quote) ++i;
  }
  return out;
}

bool same_program(const zeb::record_program& a, const zeb::record_program& b) {
  if (a.count != b.count || a.error != b.error || a.error_at != b.error_at) return false;
  for (int k = 0; k < a.count; ++k) {
    const zeb::template_op &x = a.ops[k], &y = b.ops[k];
    if (x.kind != y.kind || x.decimals != y.decimals || x.repeat != y.repeat || x.width != y.width ||
        x.length != y.length)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  const std::size_t length = zero ? std::size_t(zero - data) : size;
  const fuzz::exact_copy text(std::string_view(reinterpret_cast<const char*>(data), length));
  fuzz::bytes values{data + length, size - length};
  values.take();

  const zeb::record_program p = zeb::parse_template(text.view());
  FUZZ_CHECK(same_program(p, zeb::parse_template(text.view())));
  FUZZ_CHECK(p.error_at >= 0 && std::size_t(p.error_at) <= length);
  FUZZ_CHECK(p.count >= 0 && p.count <= zeb::max_template_ops);

  reference_parser ref{text.view()};
  std::vector<node> tree;
  const bool accepted = ref.parse(tree);
  FUZZ_CHECK(accepted == (p.error == nullptr));
  if (!accepted) return 0;
  FUZZ_CHECK(ref.ops == p.count);

  // The walk, item by item, against the expansion.
  constexpr std::size_t limit = 1 << 16;
  std::vector<zeb::template_item> want;
  const bool whole = expand(tree, want, limit);
  zeb::template_cursor cursor(p);
  zeb::template_item it;
  std::size_t steps = 0;
  while (steps < limit && cursor.next(it)) {
    FUZZ_CHECK(steps < want.size());
    const zeb::template_item& w = want[steps++];
    FUZZ_CHECK(it.kind == w.kind);
    if (it.kind == zeb::op_kind::literal) {
      FUZZ_CHECK(it.literal.data() == w.literal.data() && it.literal.size() == w.literal.size());
      FUZZ_CHECK(it.quote == w.quote);
    } else {
      FUZZ_CHECK(it.width == w.width);
      if (it.kind == zeb::op_kind::real) FUZZ_CHECK(it.decimals == w.decimals);
    }
  }
  if (whole) {
    FUZZ_CHECK(steps == want.size());
    FUZZ_CHECK(!cursor.next(it));  // and the end stays the end
  } else {
    FUZZ_CHECK(steps == limit);
    return 0;
  }

  // fields_match agrees with the walk's kinds.
  std::string kinds;
  bool literals = false;
  for (const zeb::template_item& w : want) {
    if (w.kind == zeb::op_kind::integer) kinds += 'I';
    if (w.kind == zeb::op_kind::real) kinds += 'F';
    if (w.kind == zeb::op_kind::text) kinds += 'A';
    literals = literals || w.kind == zeb::op_kind::literal;
  }
  FUZZ_CHECK(zeb::fields_match(p, kinds, false));
  FUZZ_CHECK(zeb::fields_match(p, kinds, true) == !literals);
  FUZZ_CHECK(!zeb::fields_match(p, kinds + 'I', false));
  if (!kinds.empty()) {
    std::string other = kinds;
    other.back() = other.back() == 'I' ? 'F' : 'I';
    FUZZ_CHECK(!zeb::fields_match(p, other, false));
  }

  // The written record: values for the first `given` data fields.
  std::vector<zeb::value> v(kinds.size());
  std::vector<std::string> texts(kinds.size());
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    if (kinds[k] == 'I') {
      v[k].i = std::int32_t(values.take32()) >> (values.take() % 32);
    } else if (kinds[k] == 'F') {
      std::uint32_t bits = values.take32() & 0xc7ffffff;
      std::memcpy(&v[k].f, &bits, sizeof(float));
    } else {
      texts[k] = std::string(values.take() % 8, char('a' + k % 26));
      v[k].a = {texts[k].data(), texts[k].size()};
    }
  }
  const std::size_t given = kinds.empty() ? 0 : values.take() % (kinds.size() + 1);
  std::string expected;
  std::size_t next = 0;
  for (const zeb::template_item& w : want) {
    if (w.kind == zeb::op_kind::literal) {
      expected += unquoted(w);
      continue;
    }
    if (w.kind == zeb::op_kind::skip) {
      expected += std::string(std::size_t(w.width), ' ');
      continue;
    }
    if (next == given) break;
    const zeb::value& x = v[next++];
    if (w.kind == zeb::op_kind::integer) {
      expected += fuzz::ref_integer_field(x.i, w.width);
    } else if (w.kind == zeb::op_kind::real) {
      expected += fuzz::ref_real_field(x.f, w.width, w.decimals);
    } else {
      const std::string t(x.a.p, x.a.n);
      const std::size_t width = std::size_t(w.width);
      expected += width == 0 ? t : width <= t.size() ? t.substr(0, width) : std::string(width - t.size(), ' ') + t;
    }
    if (expected.size() > (1u << 20)) return 0;
  }
  const std::size_t room = expected.size() + values.take() % 4;
  auto record = std::make_unique<char[]>(room + 1);
  record[room] = '\x7f';  // a guard: nothing is written past the record
  zeb::write_record(std::span<char>(record.get(), room), p, v.data(), int(given));
  FUZZ_CHECK(std::string(record.get(), room) == expected + std::string(room - expected.size(), ' '));
  FUZZ_CHECK(record[room] == '\x7f');
  return 0;
}
