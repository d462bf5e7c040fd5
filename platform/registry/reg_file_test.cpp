#include "platform/registry/reg_file.h"

#include <gtest/gtest.h>

#include "platform/registry/registry.h"

namespace morvale::registry {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

Value Text(std::wstring name, DWORD type, std::wstring text) {
  return Value{std::move(name), type, std::move(text), {}, {}};
}

Value Bytes(std::wstring name, DWORD type, std::vector<BYTE> bytes) {
  return Value{std::move(name), type, {}, std::move(bytes), {}};
}

bool SameValue(const Value& a, const Value& b) {
  return a.name == b.name && a.type == b.type && a.text == b.text && a.bytes == b.bytes;
}

Key Parse(const std::string& text, Root root = Root::kLocalMachine) {
  Key tree;
  std::string error;
  EXPECT_TRUE(ParseRegFile(text, root, &tree, &error)) << error << "\n" << text;
  return tree;
}

TEST(RegFile, EveryValueSurvivesARoundTripAndIsWrittenInItsUsualForm) {
  std::vector<BYTE> long_binary;
  for (int i = 0; i < 60; ++i) long_binary.push_back(static_cast<BYTE>(i * 7));
  const struct {
    Value value;
    std::string form;  // what the value's line holds after the name and '='
  } cases[] = {
      {Text(L"Plain", REG_SZ, std::wstring(L"text", 5)), "\"text\""},
      {Text(L"Escaped", REG_SZ, std::wstring(L"C:\\dir \"q\"", 11)), "\"C:\\\\dir \\\"q\\\"\""},
      {Text(L"Unicode", REG_SZ, std::wstring(L"\u00e9\u4e2d\U0001F600", 4)),
       "\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\""},
      {Text(L"Empty", REG_SZ, std::wstring(1, L'\0')), "\"\""},
      {Text(L"Tab", REG_SZ, std::wstring(L"a\tb", 4)), "\"a\tb\""},
      {Text(L"NoTerminator", REG_SZ, L"ab"), "hex(1):61,00,62,00"},
      {Text(L"Newline", REG_SZ, std::wstring(L"a\nb", 4)), "hex(1):61,00,0a,00,62,00,00,00"},
      {Text(L"Expand", REG_EXPAND_SZ, std::wstring(L"%A%", 4)), "hex(2):25,00,41,00,25,00,00,00"},
      {Text(L"Multi", REG_MULTI_SZ, std::wstring(L"a\0\U0001F600\0\0", 5)),
       "hex(7):61,00,00,00,3d,d8,00,de,00,00,00,00"},
      {Bytes(L"NoBytes", REG_BINARY, {}), "hex:"},
      {Bytes(L"Binary", REG_BINARY, {0x00, 0xff, 0x10}), "hex:00,ff,10"},
      {Bytes(L"Long", REG_BINARY, long_binary), ""},
      {Bytes(L"Dword", REG_DWORD, {0x2a, 0, 0, 0}), "dword:0000002a"},
      {Bytes(L"DwordMax", REG_DWORD, {0xff, 0xff, 0xff, 0xff}), "dword:ffffffff"},
      {Bytes(L"ShortDword", REG_DWORD, {1, 2, 3}), "hex(4):01,02,03"},
      {Bytes(L"Qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80}), "hex(b):01,00,00,00,00,00,00,80"},
      {Bytes(L"None", REG_NONE, {}), "hex(0):"},
      {Bytes(L"Odd", 0x12345, {9}), "hex(12345):09"},
      {Text(L"", REG_SZ, std::wstring(L"default", 8)), "\"default\""},
      {Text(L"n\"a\\m\u00e9", REG_SZ, std::wstring(1, L'\0')), "\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value.name.begin(), c.value.name.end()));
    Key tree;
    tree.AddSubKey(L"Software").AddSubKey(L"Vendor").SetValue(c.value);
    const std::string text = SerializeRegFile(tree, Root::kCurrentUser);
    if (!c.form.empty()) {
      EXPECT_NE(text.find("=" + c.form + "\n"), std::string::npos) << text;
    }
    if (c.value.name.empty()) {
      EXPECT_NE(text.find("\n@="), std::string::npos) << text;
    }

    const Key back = Parse(text, Root::kCurrentUser);
    const Key* vendor = back.FindSubKey(L"software")->FindSubKey(L"VENDOR");
    ASSERT_NE(vendor, nullptr);
    ASSERT_EQ(vendor->values().size(), 1u);
    EXPECT_TRUE(SameValue(vendor->values()[0], c.value));
    EXPECT_EQ(SerializeRegFile(back, Root::kCurrentUser), text);
  }
}

TEST(RegFile, ReadsHandWrittenFilesWithCommentsContinuationsAndRepeatedSections) {
  const Key tree = Parse(
      std::string("\xEF\xBB\xBF") +  // UTF-8 byte-order mark
      "; exported by hand\r\n"
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
      "\"Count\"=dword:5\r\n"
      "  ; a comment between values\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  03 , 04\r\n"
      "\"Name\"=\"first\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Empty]\r\n"
      "[hkey_local_machine\\SOFTWARE\\vendor]\r\n"
      "\"NAME\"=\"second\"\r\n"
      "@=\"default\"\r\n");
  const Key* vendor = tree.FindSubKey(L"Software")->FindSubKey(L"Vendor");
  ASSERT_NE(vendor, nullptr);
  EXPECT_EQ(tree.FindSubKey(L"SOFTWARE")->name, L"Software");
  EXPECT_EQ(vendor->name, L"Vendor");
  ASSERT_NE(vendor->FindSubKey(L"empty"), nullptr);
  ASSERT_EQ(vendor->values().size(), 4u);
  EXPECT_TRUE(SameValue(vendor->values()[0], Bytes(L"Count", REG_DWORD, {5, 0, 0, 0})));
  EXPECT_TRUE(SameValue(vendor->values()[1], Bytes(L"Blob", REG_BINARY, {1, 2, 3, 4})));
  // A later line replaces the value and keeps the name as first written.
  EXPECT_TRUE(SameValue(vendor->values()[2], Text(L"Name", REG_SZ, std::wstring(L"second", 7))));
  EXPECT_TRUE(SameValue(vendor->values()[3], Text(L"", REG_SZ, std::wstring(L"default", 8))));
}

TEST(RegFile, ReadsUtf16LittleEndianFilesWithByteOrderMark) {
  const std::wstring text =
      L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\Caf\u00e9]\r\n"
      L"\"\U0001F600\"=\"x\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    auto push = [&bytes](unsigned u) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    };
    if (c > 0xFFFF) {
      push(0xD800 + ((c - 0x10000) >> 10));
      push(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      push(static_cast<unsigned>(c));
    }
  }
  const Key tree = Parse(bytes, Root::kClassesRoot);
  const Key* key = tree.FindSubKey(L"CAF\u00c9");
  ASSERT_NE(key, nullptr);
  EXPECT_NE(key->FindValue(L"\U0001F600"), nullptr);

  Key ignored;
  std::string error;
  EXPECT_FALSE(ParseRegFile(bytes.substr(0, bytes.size() - 1), Root::kClassesRoot, &ignored, &error));
}

TEST(RegFile, RefusesWhatItCannotReadExactly) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\A]\n"},
      {"other format", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n"},
      {"other root", std::string(kHeader) + "[HKEY_CURRENT_USER\\A]\n"},
      {"value before section", std::string(kHeader) + "\"a\"=\"b\"\n"},
      {"unknown escape", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\\n\"\n"},
      {"open quote", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\n"},
      {"text after value", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\" x\n"},
      {"long dword", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n"},
      {"bad dword", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:12g4\n"},
      {"bad hex byte", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:123\n"},
      {"empty hex byte", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,,02\n"},
      {"odd text bytes", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(2):41\n"},
      {"deletion", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=-\n"},
      {"key deletion", std::string(kHeader) + "[-HKEY_LOCAL_MACHINE\\A]\n"},
      {"empty key name", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n"},
      {"unclosed section", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\n"},
      {"not UTF-8", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\Caf\xE9]\n"},
      {"control in name", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\x01\"=\"b\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Key tree;
    std::string error;
    EXPECT_FALSE(ParseRegFile(c.text, Root::kLocalMachine, &tree, &error));
    EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
  }
}

TEST(RegFile, KeepsEmptyKeysAndSortsSubKeysByFoldedName) {
  Key tree;
  tree.AddSubKey(L"b");
  tree.AddSubKey(L"C").AddSubKey(L"Leaf");
  tree.AddSubKey(L"A");
  EXPECT_EQ(&tree.AddSubKey(L"c"), tree.FindSubKey(L"C"));
  const std::string text = SerializeRegFile(tree, Root::kLocalMachine);
  EXPECT_EQ(text, std::string(kHeader) +
                      "[HKEY_LOCAL_MACHINE]\n\n"
                      "[HKEY_LOCAL_MACHINE\\A]\n\n"
                      "[HKEY_LOCAL_MACHINE\\b]\n\n"
                      "[HKEY_LOCAL_MACHINE\\C]\n\n"
                      "[HKEY_LOCAL_MACHINE\\C\\Leaf]\n\n");
  EXPECT_EQ(SerializeRegFile(Parse(text), Root::kLocalMachine), text);
}

// Comments stay with the entry they stand above (or, before a blank line,
// with the section they close), whatever order the writer puts entries in.
TEST(RegFile, KeepsCommentsWithTheirEntriesAcrossARewrite) {
  const std::string edited =
      "; before the header\n"
      "Windows Registry Editor Version 5.00\n"
      "; about the file\n"
      "\n"
      "; above Zeta\n"
      "[HKEY_LOCAL_MACHINE\\Zeta]\n"
      "; above Count\n"
      ";   second line\n"
      "\"Count\"=dword:00000001\n"
      "; closes Zeta\n"
      "\n"
      "; above Alpha\n"
      "[HKEY_LOCAL_MACHINE\\Alpha]\n"
      "\"Gone\"=dword:00000002\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Zeta]\n"
      "; above the new Count\n"
      "\"COUNT\"=dword:00000003\n"
      "; at the end\n";
  Key tree = Parse(edited);
  EXPECT_TRUE(tree.FindSubKey(L"Alpha")->DeleteValue(L"gone"));
  const std::string written = SerializeRegFile(tree, Root::kLocalMachine);
  EXPECT_EQ(written, std::string(kHeader) +
                         "; before the header\n"
                         "; about the file\n"
                         "[HKEY_LOCAL_MACHINE]\n"
                         "\n"
                         "; above Alpha\n"
                         "[HKEY_LOCAL_MACHINE\\Alpha]\n"
                         "\n"
                         "; above Zeta\n"
                         "[HKEY_LOCAL_MACHINE\\Zeta]\n"
                         "; above Count\n"
                         ";   second line\n"
                         "; above the new Count\n"
                         "\"Count\"=dword:00000003\n"
                         "; closes Zeta\n"
                         "; at the end\n"
                         "\n");
  EXPECT_EQ(SerializeRegFile(Parse(written), Root::kLocalMachine), written);
}

// The name index follows every change: lookups ignore case, a deleted name
// is gone and the names after it are still found, a name set again goes to
// the end of the order.
TEST(RegFile, FindsValuesByFoldedNameThroughSetsAndDeletes) {
  Key key;
  for (const wchar_t* name : {L"Alpha", L"Beta", L"\u00c9t\u00e9", L"Gamma"}) {
    key.SetValue(Bytes(name, REG_DWORD, {1, 0, 0, 0}));
  }
  key.SetValue(Bytes(L"ALPHA", REG_DWORD, {2, 0, 0, 0}));
  EXPECT_FALSE(key.DeleteValue(L"delta"));
  EXPECT_TRUE(key.DeleteValue(L"bETA"));
  EXPECT_FALSE(key.DeleteValue(L"Beta"));
  key.SetValue(Bytes(L"beta", REG_DWORD, {3, 0, 0, 0}));

  const struct {
    const wchar_t* query;
    const wchar_t* stored;
    BYTE first;
  } cases[] = {
      {L"alpha", L"Alpha", 2}, {L"\u00e9T\u00c9", L"\u00c9t\u00e9", 1},
      {L"GAMMA", L"Gamma", 1}, {L"Beta", L"beta", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.query, c.query + wcslen(c.query)));
    const Value* value = key.FindValue(c.query);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->name, c.stored);
    EXPECT_EQ(value->bytes[0], c.first);
  }
  std::vector<std::wstring> order;
  for (const Value& value : key.values()) order.push_back(value.name);
  EXPECT_EQ(order, (std::vector<std::wstring>{L"Alpha", L"\u00c9t\u00e9", L"Gamma", L"beta"}));

  // A copy is a tree of its own.
  Key copy(key);
  copy.SetValue(Bytes(L"gamma", REG_DWORD, {9, 0, 0, 0}));
  EXPECT_EQ(key.FindValue(L"Gamma")->bytes[0], 1);
  EXPECT_EQ(copy.FindValue(L"Gamma")->bytes[0], 9);
}

// The stamp is the generation only on the line after the first, in its
// exact form; anywhere else such a line is a comment of the file.
TEST(RegFile, ReadsTheGenerationFromTheStampOnTheSecondLineOnly) {
  const std::string stamp = "; generation 42 of this file; later changes are in its journal\n";
  const struct {
    const char* what;
    std::string text;
    std::uint64_t generation;
    size_t comments;  // of the file
  } cases[] = {
      {"stamped", "Windows Registry Editor Version 5.00\n" + stamp + "\n[HKEY_LOCAL_MACHINE]\n", 42, 0},
      {"none", std::string(kHeader) + "[HKEY_LOCAL_MACHINE]\n", 0, 0},
      {"after a blank line", std::string(kHeader) + stamp + "\n[HKEY_LOCAL_MACHINE]\n", 0, 1},
      {"another text", "Windows Registry Editor Version 5.00\n; generation 42 of the settings\n\n", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Key tree;
    std::string error;
    std::uint64_t generation = 99;
    ASSERT_TRUE(ParseRegFile(c.text, Root::kLocalMachine, &tree, &error, &generation)) << error;
    EXPECT_EQ(generation, c.generation);
    EXPECT_EQ(tree.comments.size(), c.comments);
  }
  const std::string written = SerializeRegFile(Key(), Root::kLocalMachine, 42);
  EXPECT_EQ(written, "Windows Registry Editor Version 5.00\n" + stamp + "\n[HKEY_LOCAL_MACHINE]\n\n");
}

TEST(RegJournal, HeaderNamesTheFileItAppliesTo) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
  const JournalBase base{18446744073709551615u, 88123, 0x0a1b2c3du};
  const std::string header = JournalHeader(base);
  EXPECT_EQ(header,
            "Windows Registry Editor Version 5.00\n"
            "; changes since generation 18446744073709551615 of the registry file (88123 bytes, CRC-32 0a1b2c3d)\n");
  JournalBase read;
  size_t length = 0;
  ASSERT_TRUE(ParseJournalHeader(header + "\n[HKEY", &read, &length));
  EXPECT_TRUE(read == base);
  EXPECT_EQ(length, header.size());
  // Cut anywhere, or with a number that is not one, it is no header.
  for (size_t cut = 0; cut < header.size(); ++cut) {
    EXPECT_FALSE(ParseJournalHeader(header.substr(0, cut), &read, &length)) << cut;
  }
  std::string bad = header;
  bad.replace(bad.find("0a1b2c3d"), 8, "0a1b2c3g");
  EXPECT_FALSE(ParseJournalHeader(bad, &read, &length));
}

// Each kind of record changes a tree as the write meant it, whatever the
// case of the names it gives; deleting what is not there changes nothing.
TEST(RegJournal, RecordsChangeATreeAsTheirWriteMeantIt) {
  const Root root = Root::kLocalMachine;
  Key tree = Parse(std::string(kHeader) +
                   "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
                   "; about Count\n"
                   "\"Count\"=dword:00000001\n"
                   "\"Gone\"=\"x\"\n"
                   "@=\"default\"\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Old]\n"
                   "\"In\"=\"x\"\n");
  const std::vector<std::wstring> vendor{L"SOFTWARE", L"vendor"};
  const std::string set = JournalRecord(SetValueChange(root, vendor, Bytes(L"COUNT", REG_DWORD, {2, 0, 0, 0})));
  EXPECT_EQ(set.substr(0, set.size() - 9),
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\vendor]\n\"COUNT\"=dword:00000002\n; end 61 ");
  const std::string records =
      set + JournalRecord(DeleteValueChange(root, vendor, L"gone")) + JournalRecord(DeleteValueChange(root, vendor, L"")) +
      JournalRecord(DeleteKeyChange(root, {L"Software", L"Vendor", L"OLD"})) +
      JournalRecord(CreateKeyChange(root, {L"Software", L"New", L"Leaf"})) +
      JournalRecord(DeleteKeyChange(root, {L"Missing", L"Key"})) +
      JournalRecord(DeleteValueChange(root, vendor, L"missing")) +
      JournalRecord(SetValueChange(root, {L"Software", L"New"}, Text(L"Text", REG_SZ, std::wstring(L"a\nb", 4))));
  size_t used = 0;
  std::string error;
  ASSERT_TRUE(ApplyJournalRecords(records, root, &tree, &used, &error)) << error;
  EXPECT_EQ(used, records.size());
  const std::string written = SerializeRegFile(tree, root, 3);
  EXPECT_EQ(written,
            "Windows Registry Editor Version 5.00\n"
            "; generation 3 of this file; later changes are in its journal\n\n"
            "[HKEY_LOCAL_MACHINE]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\New]\n"
            "\"Text\"=hex(1):61,00,0a,00,62,00,00,00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\New\\Leaf]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n"
            "; about Count\n"
            "\"Count\"=dword:00000002\n\n");
}

// A crash may leave the last record cut short, or with its blocks not all
// written: it is left out. A record that does not match its end line while
// more follows, or one that matches but cannot be read, is damage.
TEST(RegJournal, ALastRecordCutShortIsLeftOutAndDamageBeforeTheEndRefused) {
  const Root root = Root::kLocalMachine;
  const std::string one = JournalRecord(SetValueChange(root, {L"A"}, Bytes(L"One", REG_DWORD, {1, 0, 0, 0})));
  const std::string two = JournalRecord(SetValueChange(root, {L"A"}, Bytes(L"Two", REG_DWORD, {2, 0, 0, 0})));
  std::string changed = two;
  changed[changed.find("Two")] = 't';
  const std::string unreadable = JournalRecord("\n\"x\"=dword:1\n");  // a value outside a section
  const struct {
    const char* what;
    std::string journal;
    bool ok;
    size_t used;
  } cases[] = {
      {"whole", one + two, true, one.size() + two.size()},
      {"cut in the section", one + two.substr(0, 10), true, one.size()},
      {"cut in the value", one + two.substr(0, 30), true, one.size()},
      {"cut in the end line", one + two.substr(0, two.size() - 5), true, one.size()},
      {"end line without its newline", one + two.substr(0, two.size() - 1), true, one.size()},
      {"last record not matching its end line", one + changed, true, one.size()},
      {"zeros after a record", one + std::string(4096, '\0'), true, one.size()},
      {"not matching, then a record", changed + one, false, 0},
      {"matching but unreadable", one + unreadable, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Key tree;
    size_t used = 0;
    std::string error;
    EXPECT_EQ(ApplyJournalRecords(c.journal, root, &tree, &used, &error), c.ok) << error;
    if (!c.ok) continue;
    EXPECT_EQ(used, c.used);
    const Key* a = tree.FindSubKey(L"A");
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a->FindValue(L"One"), nullptr);
    EXPECT_EQ(a->FindValue(L"Two") != nullptr, c.used == c.journal.size());
  }
}

TEST(RegFile, CountsNameLengthsInUtf16Units) {
  EXPECT_EQ(Utf16Length(L""), 0u);
  EXPECT_EQ(Utf16Length(L"abc"), 3u);
  EXPECT_EQ(Utf16Length(L"\u00e9\uffff"), 2u);
  EXPECT_EQ(Utf16Length(L"a\U00010000\U0010FFFF"), 5u);
}

}  // namespace
}  // namespace morvale::registry
