#include "text.h"

namespace zeb {

int shorten(std::span<const char> field) {
  for (std::size_t i = field.size(); i > 0; --i)
    if (field[i - 1] != ' ') return int(i);
  return 1;
}

}  // namespace zeb
