#include "diagnostics/readable_memory.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

// Readable pages followed by one PROT_NONE page, so a text can be placed to
// end exactly at the unreadable page.
class GuardedPages : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* block = mmap(nullptr, kPages * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    base_ = static_cast<char*>(block);
    ASSERT_EQ(mprotect(Guard(), page_, PROT_NONE), 0);
  }
  void TearDown() override { munmap(base_, kPages * page_); }

  char* Guard() const { return base_ + (kPages - 1) * page_; }

  // A narrow text of `length` characters whose last byte (its terminator
  // when `terminated`) is the last readable byte.
  const char* TextBeforeGuard(std::size_t length, bool terminated) {
    char* start = Guard() - length - (terminated ? 1 : 0);
    std::memset(start, 'x', length);
    if (terminated) start[length] = 0;
    return start;
  }

  static constexpr std::size_t kPages = 4;
  std::size_t page_ = 0;
  char* base_ = nullptr;
};

TEST_F(GuardedPages, UnmappedAddressIsBad) {
  // The test's first use sets itself up (and may map memory doing so): done
  // here with a text on the heap, so that nothing is mapped again where the
  // block was.
  const std::string warmUp(100, 'x');
  ASSERT_FALSE(IsBadStringPtrA(warmUp.c_str(), 1024));
  void* block = mmap(nullptr, page_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  ASSERT_EQ(munmap(block, page_), 0);
  EXPECT_TRUE(IsBadStringPtrA(static_cast<const char*>(block), 1024));
  EXPECT_TRUE(IsBadStringPtrW(static_cast<const wchar_t*>(block), 1024));
}

TEST_F(GuardedPages, StringIsReadUpToItsTerminatorOrTheLimit) {
  EXPECT_FALSE(IsBadStringPtrA(TextBeforeGuard(5000, true), 1024));
  EXPECT_FALSE(IsBadStringPtrA(TextBeforeGuard(10, true), static_cast<std::size_t>(-1)));
  // No terminator before the guard page: bad unless the limit stops first.
  const char* open = TextBeforeGuard(10, false);
  EXPECT_TRUE(IsBadStringPtrA(open, 11));
  EXPECT_FALSE(IsBadStringPtrA(open, 10));
  EXPECT_FALSE(IsBadStringPtrA(open, 0));
  EXPECT_TRUE(IsBadStringPtrA(Guard(), 1));
  EXPECT_TRUE(IsBadStringPtrA(nullptr, 1));
}

TEST_F(GuardedPages, WideStringCountsCharactersNotBytes) {
  auto* end = reinterpret_cast<wchar_t*>(Guard());
  wchar_t* text = end - 4;
  text[0] = L'a';
  text[1] = L'b';
  text[2] = L'c';
  text[3] = L'd';  // no terminator before the guard
  EXPECT_FALSE(IsBadStringPtrW(text, 4));
  EXPECT_TRUE(IsBadStringPtrW(text, 5));
  text[3] = 0;
  EXPECT_FALSE(IsBadStringPtrW(text, 1024));
  EXPECT_FALSE(IsBadStringPtrW(L"short", 1024));
  EXPECT_TRUE(IsBadStringPtrW(nullptr, 1));
  // Misaligned wide text.
  EXPECT_TRUE(IsBadStringPtrW(reinterpret_cast<const wchar_t*>(base_ + 1), 1));
}

}  // namespace

namespace {

const char kLiteral[] = "a literal of the program";

TEST(ReadableMemory, LiteralsAndStackTextAreReadInPlace) {
  EXPECT_FALSE(IsBadStringPtrA(kLiteral, 1024));
  EXPECT_FALSE(IsBadStringPtrA(kLiteral, 3));  // the limit ends the test early
  EXPECT_FALSE(IsBadStringPtrW(L"wide literal", 1024));
  char onStack[16] = "on the stack";
  wchar_t wideOnStack[16] = L"wide";
  EXPECT_FALSE(IsBadStringPtrA(onStack, 1024));
  EXPECT_FALSE(IsBadStringPtrW(wideOnStack, 1024));
}

// A forked child asks for its own id: a page only the child maps is
// readable there.
TEST(ReadableMemory, AForkedChildTestsItsOwnMemory) {
  ASSERT_FALSE(IsBadStringPtrA(std::string("warm up").c_str(), 64));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    std::strcpy(static_cast<char*>(page), "child");
    _exit(IsBadStringPtrA(static_cast<const char*>(page), 64) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
