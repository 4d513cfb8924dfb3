// The reflection-record engine of both rotation tools (reflection.h) on
// any input: the first byte picks the layout (three or four values), the
// rest is the file (with lines of any length: fuzz::expand_runs). Records are read as the tools read them, one after the
// other into the same record, and each one read is written out rotated.
// Checks, against the free-form model of fuzz_support.h and printf:
//
// - every read has the model's outcome, item count and values (an item the
//   input leaves without a value keeps the one of the record before);
// - the records written are the model's records with the indexes in the
//   order second, third, first, in I6 fields and F12.1, F12.1, F12.3
//   (and F12.3) fields, asterisks where a value does not fit;
// - the input is consumed record by record, to its end or its first error.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "reflection.h"
#include "text.h"

const char zeb::tool_name[] = "reflection_fuzz";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::bytes in{data, size};
  const layout l = in.take() & 1 ? layout::four_values : layout::three_values;
  const std::size_t values = l == layout::four_values ? 4 : 3;
  const std::string expanded = fuzz::expand_runs(in.rest());
  const fuzz::exact_copy text(expanded);
  zeb::channel& ch = fuzz::input_channel(text.view());
  zeb::channel& out = fuzz::output_channel();
  fuzz::free_form_model model{fuzz::records_of(text.view())};

  std::vector<fuzz::model_item> want(3 + values);
  for (std::size_t k = 0; k < want.size(); ++k) want[k].kind = k < 3 ? 'I' : 'F';
  reflection record;
  std::string expected;
  for (;;) {
    const zeb::outcome o = read_reflection(ch, record, l);
    int items_read = 0;
    const zeb::outcome model_outcome = model.read(want, items_read);
    FUZZ_CHECK(o == model_outcome);
    FUZZ_CHECK(ch.items_read == items_read);
    FUZZ_CHECK(std::size_t(ch.line) == model.next_record);
    const std::int32_t ints[3] = {record.first, record.second, record.third};
    for (std::size_t k = 0; k < want.size(); ++k) {
      if (o == zeb::outcome::error && k == std::size_t(items_read)) continue;  // may hold anything
      if (k < 3) FUZZ_CHECK(ints[k] == want[k].i);
      else FUZZ_CHECK(fuzz::same_float(record.value[k - 3], want[k].f));
    }
    if (o != zeb::outcome::done) break;
    write_reflection(out, record, l);
    expected += fuzz::ref_integer_field(record.second, 6) + fuzz::ref_integer_field(record.third, 6) +
                fuzz::ref_integer_field(record.first, 6) + fuzz::ref_real_field(record.value[0], 12, 1) +
                fuzz::ref_real_field(record.value[1], 12, 1) + fuzz::ref_real_field(record.value[2], 12, 3);
    if (l == layout::four_values) expected += fuzz::ref_real_field(record.value[3], 12, 3);
    expected += '\n';
  }
  FUZZ_CHECK(fuzz::written(out) == expected);
  return 0;
}
