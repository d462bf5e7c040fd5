#include "device/property_value.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com/com_ptr.h"
#include "platform/com/unknown.h"

namespace {

// Owns a value made by the routines under test.
struct Owned {
  SPropValue value{};
  ~Owned() { PropValueFree(&value); }
};

// Source values of every kind the stores hold, each pointing into buffers
// of the test, and the data size each reports.
struct Sources {
  char text[6] = "hello";
  wchar_t wide[4] = L"w\u00e9r";
  GUID guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  BYTE bytes[3] = {1, 0, 2};
  LONG longs[2] = {-1, 7};
  char first[2] = "a";
  char second[3] = "bc";
  char* texts[3] = {first, nullptr, second};
  BYTE one[2] = {5, 6};
  BYTE two[1] = {7};
  SBinary blocks[2] = {{2, one}, {1, two}};

  struct Case {
    const char* name;
    SPropValue value;
    std::uint64_t size;
    bool pointsToData;  // a copy of its own is made of what it points to
  };

  std::vector<Case> All() {
    std::vector<Case> cases;
    auto add = [&](const char* name, ULONG tag, std::uint64_t size, auto set) {
      SPropValue v{};
      v.ulPropTag = tag;
      set(v);
      const ULONG type = PROP_TYPE(tag);
      const bool pointsToData = type == PT_STRING8 || type == PT_UNICODE || type == PT_CLSID ||
                                type == PT_BINARY || (type & MV_FLAG) != 0;
      cases.push_back({name, v, size, pointsToData});
    };
    add("long", 0x60060003, 4, [](SPropValue& v) { v.Value.l = -5; });
    add("i2", 0x60000002, 2, [](SPropValue& v) { v.Value.i = 3; });
    add("boolean", 0x6000000B, 2, [](SPropValue& v) { v.Value.b = 1; });
    add("double", 0x60000005, 8, [](SPropValue& v) { v.Value.dbl = 2.5; });
    add("systime", 0x60250040, 8, [](SPropValue& v) { v.Value.ft = {1, 2}; });
    add("string8", 0x6001001E, 5, [&](SPropValue& v) { v.Value.lpszA = text; });
    add("unicode", 0x601D001F, 3 * sizeof(wchar_t), [&](SPropValue& v) { v.Value.lpszW = wide; });
    add("clsid", 0x60000048, 16, [&](SPropValue& v) { v.Value.lpguid = &guid; });
    add("binary", 0x60020102, 3, [&](SPropValue& v) { v.Value.bin = {3, bytes}; });
    add("mv long", 0x60001003, 8, [&](SPropValue& v) { v.Value.MVl = {2, longs}; });
    add("mv string8", 0x6095101E, 3, [&](SPropValue& v) { v.Value.MVszA = {3, texts}; });
    add("mv binary", 0x60001102, 3, [&](SPropValue& v) { v.Value.MVbin = {2, blocks}; });
    return cases;
  }

  // Overwrites every source buffer, so a copy that shares one shows it.
  void Scribble() {
    std::memset(text, 'x', 5);
    wide[0] = L'x';
    guid.Data1 = 0;
    bytes[0] = 0xFF;
    longs[0] = 0;
    first[0] = 'z';
    one[0] = 0;
  }
};

TEST(PropertyValue, CopiesAreDeepEqualToTheSourceAndFreedToNothing) {
  Sources sources;
  const std::vector<Sources::Case> cases = sources.All();
  std::vector<Owned> copies(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    ASSERT_TRUE(PropValueCopy(&copies[i].value, cases[i].value));
    EXPECT_EQ(copies[i].value.dwAlignPad, 0u);
    EXPECT_TRUE(PropValueEquals(copies[i].value, cases[i].value));
    EXPECT_EQ(PropValueDataSize(copies[i].value), cases[i].size);
  }
  sources.Scribble();
  std::vector<Sources::Case> changed = sources.All();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    // The copy kept the old data; equal again only for plain values.
    EXPECT_EQ(PropValueEquals(copies[i].value, changed[i].value), !cases[i].pointsToData);
    Owned again;
    ASSERT_TRUE(PropValueCopy(&again.value, copies[i].value));
    EXPECT_TRUE(PropValueEquals(again.value, copies[i].value));
    PropValueFree(&copies[i].value);
    EXPECT_EQ(copies[i].value.ulPropTag, 0u);
  }
}

TEST(PropertyValue, CopyReplacesTheDestinationsOldValue) {
  Owned held;
  SPropValue text{};
  text.ulPropTag = 0x6001001E;
  text.Value.lpszA = const_cast<char*>("first");
  ASSERT_TRUE(PropValueCopy(&held.value, text));
  SPropValue number{};
  number.ulPropTag = 0x60060003;
  number.Value.l = 9;
  ASSERT_TRUE(PropValueCopy(&held.value, number));  // the old text is freed (leak check)
  EXPECT_EQ(held.value.ulPropTag, 0x60060003u);
  EXPECT_EQ(held.value.Value.l, 9);
}

TEST(PropertyValue, EqualityRules) {
  char a[] = "Text";
  char b[] = "text";
  char empty[] = "";
  char* oneEmpty[] = {empty};
  BYTE block[] = {1};
  LONG longs[] = {1};
  struct Case {
    const char* name;
    SPropValue x;
    SPropValue y;
    bool equal;
  };
  auto value = [](ULONG tag, auto set) {
    SPropValue v{};
    v.ulPropTag = tag;
    set(v);
    return v;
  };
  const Case cases[] = {
      {"same long, other tag", value(0x60060003, [](SPropValue& v) { v.Value.l = 1; }),
       value(0x60070003, [](SPropValue& v) { v.Value.l = 1; }), false},
      {"case counts", value(0x6001001E, [&](SPropValue& v) { v.Value.lpszA = a; }),
       value(0x6001001E, [&](SPropValue& v) { v.Value.lpszA = b; }), false},
      {"two null texts", value(0x6001001E, [](SPropValue&) {}), value(0x6001001E, [](SPropValue&) {}), true},
      {"null and empty text", value(0x6001001E, [](SPropValue&) {}),
       value(0x6001001E, [&](SPropValue& v) { v.Value.lpszA = empty; }), false},
      {"empty binaries", value(0x60020102, [](SPropValue&) {}), value(0x60020102, [](SPropValue&) {}), true},
      {"binary, one missing block", value(0x60020102, [&](SPropValue& v) { v.Value.bin = {1, block}; }),
       value(0x60020102, [](SPropValue& v) { v.Value.bin = {1, nullptr}; }), false},
      {"empty binaries, one with a block", value(0x60020102, [&](SPropValue& v) { v.Value.bin = {0, block}; }),
       value(0x60020102, [](SPropValue&) {}), true},
      {"empty arrays of longs, one with an array", value(0x60001003, [&](SPropValue& v) { v.Value.MVl = {0, longs}; }),
       value(0x60001003, [](SPropValue&) {}), true},
      {"one empty string element each",
       value(0x6095101E, [&](SPropValue& v) { v.Value.MVszA = {1, oneEmpty}; }),
       value(0x6095101E, [&](SPropValue& v) { v.Value.MVszA = {1, oneEmpty}; }), true},
      {"empty string lists", value(0x6095101E, [](SPropValue&) {}), value(0x6095101E, [](SPropValue&) {}),
       false},
      {"errors", value(0x6001000A, [](SPropValue& v) { v.Value.err = MAPI_E_NOT_FOUND; }),
       value(0x6001000A, [](SPropValue& v) { v.Value.err = MAPI_E_NOT_FOUND; }), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PropValueEquals(c.x, c.y), c.equal);
    EXPECT_EQ(PropValueEquals(c.y, c.x), c.equal);
  }
}

// A stream over fixed bytes that hands out at most `limit` bytes a read.
class BytesStream : public ComObject<IStream> {
 public:
  BytesStream(std::string bytes, ULONG limit) : bytes_(std::move(bytes)), limit_(limit) {}
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    const ULONG n = std::min<ULONG>({cb, limit_, static_cast<ULONG>(bytes_.size() - at_)});
    std::memcpy(pv, bytes_.data() + at_, n);
    at_ += n;
    if (pcbRead != nullptr) *pcbRead = n;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }

 private:
  std::string bytes_;
  ULONG limit_;
  size_t at_ = 0;
};

std::string WideBytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TEST(PropertyValue, StreamReadsTextsWithTheirTerminatorAndBlocksAsTheyAre) {
  Owned narrow;
  _com_ptr_t<IStream> stream(new BytesStream("abc", 100));
  ASSERT_TRUE(ReadPropertyStream(&narrow.value, 0x6001001E, stream, 3));
  EXPECT_EQ(narrow.value.ulPropTag, 0x6001001Eu);
  EXPECT_STREQ(narrow.value.Value.lpszA, "abc");

  Owned wide;
  stream = new BytesStream(WideBytes(L"\u00e9t\u00e9"), 100);
  ASSERT_TRUE(ReadPropertyStream(&wide.value, 0x601D001F, stream, 3 * sizeof(wchar_t)));
  EXPECT_STREQ(wide.value.Value.lpszW, L"\u00e9t\u00e9");

  // A stream whose size is not whole characters: the partial one is
  // dropped and the text still ends in a terminator.
  Owned partial;
  stream = new BytesStream(WideBytes(L"ab") + "\x41\x42", 100);
  ASSERT_TRUE(ReadPropertyStream(&partial.value, 0x601D001F, stream, 2 * sizeof(wchar_t) + 2));
  EXPECT_STREQ(partial.value.Value.lpszW, L"ab");

  Owned binary;
  stream = new BytesStream(std::string("\0\1\2", 3), 100);
  ASSERT_TRUE(ReadPropertyStream(&binary.value, 0x60020102, stream, 3));
  ASSERT_EQ(binary.value.Value.bin.cb, 3u);
  EXPECT_EQ(binary.value.Value.bin.lpb[2], 2);
}

TEST(PropertyValue, StreamReadFailsOnAShortReadOrAnotherTypeAndKeepsTheValue) {
  Owned held;
  held.value.ulPropTag = 0x60060003;
  held.value.Value.l = 42;
  _com_ptr_t<IStream> shortStream(new BytesStream("abcdef", 4));
  EXPECT_FALSE(ReadPropertyStream(&held.value, 0x6001001E, shortStream, 6));
  _com_ptr_t<IStream> stream(new BytesStream("abcd", 100));
  EXPECT_FALSE(ReadPropertyStream(&held.value, 0x60060003, stream, 4));
  EXPECT_EQ(held.value.ulPropTag, 0x60060003u);
  EXPECT_EQ(held.value.Value.l, 42);
}

}  // namespace
