// Statements that must not build: each CASE is compiled on its own by the
// test suite and must be refused; CASE 0 must build, so that a refusal is
// known to come from the template check and nothing else.
#include "text.h"

void statements(zeb::channel& ch, std::int32_t i, float f, char (&field)[200]) {
#if CASE == 0
  zeb::write_templated<"(3I6,F12.1,A)">(ch, i, i, i, f, field);
  (void)zeb::read_templated<"(2X,I5,A10)">(ch, i, field);
#elif CASE == 1
  zeb::write_templated<"(3I6,F12.1">(ch, i, i, i, f);  // not closed
#elif CASE == 2
  zeb::write_templated<"(3I6,F12.1)">(ch, i, i, i);  // a value too few
#elif CASE == 3
  zeb::write_templated<"(I6)">(ch, i, i);  // a value too many
#elif CASE == 4
  zeb::write_templated<"(I6)">(ch, f);  // a real for an integer field
#elif CASE == 5
  zeb::write_templated<"(F6.1)">(ch, 1.0);  // a double is no single-precision real
#elif CASE == 6
  (void)zeb::read_templated<"('x',I5)">(ch, i);  // a literal in a read
#elif CASE == 7
  zeb::write_templated<"(Q5)">(ch, i);  // an unknown item
#endif
  (void)ch, (void)i, (void)f, (void)field;
}
