// Channels over in-memory files, so that tests see exactly the bytes a
// statement reads or writes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "text.h"

inline std::unique_ptr<zeb::channel> input_channel(const std::string& text) {
  auto ch = std::make_unique<zeb::channel>();
  ch->fd = memfd_create("input", 0);
  if (::write(ch->fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
  ::lseek(ch->fd, 0, SEEK_SET);
  ch->label = "test input";
  return ch;
}

inline std::unique_ptr<zeb::channel> output_channel() {
  auto ch = std::make_unique<zeb::channel>();
  ch->fd = memfd_create("output", 0);
  ch->writing = true;
  ch->label = "test output";
  return ch;
}

// Everything written to an output channel so far.
inline std::string contents(zeb::channel& ch) {
  zeb::flush(ch);
  std::string s(size_t(::lseek(ch.fd, 0, SEEK_END)), '\0');
  if (::pread(ch.fd, s.data(), s.size(), 0) != ssize_t(s.size())) std::abort();
  return s;
}
