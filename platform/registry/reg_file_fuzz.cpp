// Feeds arbitrary bytes to the registry file parser. Whatever it accepts must
// be written back as text that it reads again to the same tree.
#include <cstdlib>
#include <string>

#include "platform/registry/reg_file.h"

using morvale::registry::Key;
using morvale::registry::ParseRegFile;
using morvale::registry::Root;
using morvale::registry::SerializeRegFile;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  Key tree;
  std::string error;
  if (!ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), Root::kLocalMachine,
                    &tree, &error)) {
    return 0;
  }
  const std::string text = SerializeRegFile(tree, Root::kLocalMachine);
  Key again;
  if (!ParseRegFile(text, Root::kLocalMachine, &again, &error)) std::abort();
  if (SerializeRegFile(again, Root::kLocalMachine) != text) std::abort();
  return 0;
}
