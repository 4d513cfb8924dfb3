#!/usr/bin/env bash
# num_greater: the one-character answer, the conversion of its arguments,
# and the refusals (a missing or non-numeric argument, a failed write).
source "$2/tests/harness.sh"

# compare A B WANT: the answer is the bare character, status 0, no message.
compare() {
  begin "num_greater '$1' '$2'"
  run '' num_greater "$1" "$2"
  expect_out "$3"
  expect_status 0
  expect_no_err
}

# Strictly greater; equal values, signed zeros, infinities and nan give 0.
compare 2 1 1
compare 1 2 0
compare 1 1.0 0
compare -0 0 0
compare 0 -0 0
compare 1e39 1e38 1
compare 1e39 1e40 0
compare -1e39 -1e40 0
compare 3e38 -inf 1
compare nan 1 0
compare 1 nan 0
compare nan nan 0

# Rounded once to single precision: texts equal in single precision are equal.
compare 1.00000001 1 0
compare 16777217 16777216 0
compare 16777218 16777216 1

# Below 2^-126 a value counts as zero, with either sign.
compare 1e-40 0 0
compare 0 -1e-40 0
compare 1.2e-38 0 1

# The longest leading number counts; the rest is ignored.
compare 3abc 2 1
compare 1,5 1 0
compare 2e1x 19 1
compare 1e+ 0.5 1
compare 0x10 15 1
compare 0X1.8p1 2.9 1
compare ' 5' 4 1
compare $'\t\n5' 4 1
compare +7 -7 1
compare INFINITY 1e38 1
compare Inf 1e38 1
compare -NaN -1 0

begin "a third argument changes nothing"
run '' num_greater 2 1 0
expect_out 1
expect_status 0

# Nothing to compare: no answer at all, one line naming the argument.
begin "no arguments"
run '' num_greater
expect_out ''
expect_unguarded "^num_greater: first argument: missing$"

begin "one argument"
run '' num_greater 5
expect_out ''
expect_unguarded "^num_greater: second argument: missing$"

for bad in abc '' ' ' . - 0x infin; do
  begin "first argument '$bad'"
  run '' num_greater "$bad" 1
  expect_out ''
  expect_unguarded "^num_greater: first argument '$bad': not a number$"
done

begin "second argument not a number"
run '' num_greater 1 x2
expect_out ''
expect_unguarded "^num_greater: second argument 'x2': not a number$"

begin "a line feed or an escape sequence in a bad argument is escaped, on one line"
run '' num_greater $'a\nb\e[2J\xc3\xa9' 1
expect_unguarded "^num_greater: first argument 'a\\\\x0ab\\\\x1b\\[2J\\\\xc3\\\\xa9': not a number$"

begin "standard output full"
"$BIN/num_greater" 2 1 >/dev/full 2>err
status=$?
expect_unguarded "^num_greater: standard output: No space left on device$"

summary
