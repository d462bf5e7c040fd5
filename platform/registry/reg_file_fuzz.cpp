// Feeds arbitrary bytes to the registry file parser: those before the first
// NUL as a root's file, those after it as its journal's records, once as they
// stand and once with each piece between \x01 bytes made a change (ending in
// a newline, no line starting with ';') and a record of its own. Records
// made so are never taken as cut short. Whatever the parser accepts must be
// written back as text that it reads again to the same tree and generation.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry/reg_file.h"

using morvale::registry::ApplyJournalRecords;
using morvale::registry::JournalRecord;
using morvale::registry::Key;
using morvale::registry::ParseRegFile;
using morvale::registry::Root;
using morvale::registry::SerializeRegFile;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view file = input.substr(0, nul);
  const std::string_view journal = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  Key tree;
  std::string error;
  std::uint64_t generation = 0;
  if (!ParseRegFile(file, Root::kLocalMachine, &tree, &error, &generation)) return 0;

  size_t used = 0;
  if (ApplyJournalRecords(journal, Root::kLocalMachine, &tree, &used, &error) && used > journal.size()) std::abort();
  std::string records;
  for (std::string_view rest = journal; !rest.empty();) {
    const size_t split = rest.find('\x01');
    std::string change(rest.substr(0, split));
    if (change.empty() || change.back() != '\n') change.push_back('\n');
    for (size_t i = 0; i < change.size(); ++i) {
      if (change[i] == ';' && (i == 0 || change[i - 1] == '\n')) change[i] = ' ';
    }
    records += JournalRecord(change);
    rest.remove_prefix(split == std::string_view::npos ? rest.size() : split + 1);
  }
  if (ApplyJournalRecords(records, Root::kLocalMachine, &tree, &used, &error) && used != records.size()) std::abort();

  const std::string text = SerializeRegFile(tree, Root::kLocalMachine, generation);
  Key again;
  std::uint64_t generationAgain = 0;
  if (!ParseRegFile(text, Root::kLocalMachine, &again, &error, &generationAgain)) std::abort();
  if (generationAgain != generation || SerializeRegFile(again, Root::kLocalMachine, generation) != text) std::abort();
  return 0;
}
