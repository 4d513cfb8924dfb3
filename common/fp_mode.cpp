// What every tool sets up before main runs.
#include <csignal>
#include <xmmintrin.h>

namespace {

// Every tool treats single-precision values below 2^-126 as zero, in
// arithmetic and comparisons alike: flush-to-zero and denormals-are-zero.
[[gnu::constructor]] void flush_denormals() {
  constexpr unsigned flush_to_zero = 0x8000;
  constexpr unsigned denormals_are_zero = 0x0040;
  _mm_setcsr(_mm_getcsr() | flush_to_zero | denormals_are_zero);
}

// A write beyond the file size limit fails with EFBIG and is reported like
// any failed write, instead of killing the tool without a word.
[[gnu::constructor]] void report_file_size_limit() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace
