// Prints the Linux build's GBK table (support/gbk_table.h) to standard
// output; the Windows build's tests compare theirs against it.
#include <cstdio>

#include "support/gbk_table.h"

int main() {
  const std::string table = razere::testing::GbkTableText();
  return std::fwrite(table.data(), 1, table.size(), stdout) == table.size() ? 0 : 1;
}
