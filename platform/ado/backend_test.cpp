// The row set's own rules, apart from any driver.
#include "platform/ado/backend.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ado::backend {
namespace {

// Row sets of a session's results may share one description of their
// columns: dropping columns from one leaves the others' as they were.
TEST(RowSet, DroppingColumnsLeavesTheSharedDescriptionOfOthersWhole) {
  std::vector<ColumnInfo> described(3);
  described[0].name = L"first";
  described[0].kind = ValueKind::Int32;
  described[1].name = L"second";
  described[1].kind = ValueKind::Text;
  described[2].name = L"third";
  described[2].kind = ValueKind::Double;
  const auto columns = std::make_shared<const std::vector<ColumnInfo>>(described);
  RowSet kept(columns);
  RowSet trimmed(columns);
  for (RowSet* rows : {&kept, &trimmed}) {
    rows->BeginRow();
    rows->PutInteger(7);
    rows->PutText("seven");
    rows->PutReal(7.5);
  }

  trimmed.RemoveColumns({0, 2});

  ASSERT_EQ(trimmed.ColumnCount(), 1u);
  EXPECT_EQ(trimmed.Columns()[0].name, L"second");
  EXPECT_EQ(trimmed.TextAt(0, 0), "seven");
  ASSERT_EQ(kept.ColumnCount(), 3u);
  EXPECT_EQ(kept.Columns()[0].name, L"first");
  EXPECT_EQ(kept.Columns()[2].name, L"third");
  EXPECT_EQ(kept.Integer(0, 0), 7);
  EXPECT_EQ(kept.Real(2, 0), 7.5);
  EXPECT_EQ(columns->size(), 3u);
}

// A row set made with room for an expected number of rows keeps every value
// whether the rows come in fewer or more than expected, with texts longer
// than the room a small result gets for them; Seal and dropping columns
// keep the values and give back room held for rows that never came.
TEST(RowSet, KeepsValuesWhateverRoomWasExpected) {
  auto columns = std::make_shared<const std::vector<ColumnInfo>>([] {
    std::vector<ColumnInfo> described(4);
    described[0].kind = ValueKind::Int32;
    described[1].kind = ValueKind::Text;
    described[2].kind = ValueKind::Timestamp;
    described[3].kind = ValueKind::Bytes;
    return described;
  }());
  struct Case {
    std::size_t expected;
    std::size_t rows;
  };
  for (const Case& c : {Case{0, 3}, Case{1, 1}, Case{1, 40}, Case{8, 8}, Case{20000, 300}, Case{300, 300}}) {
    SCOPED_TRACE(testing::Message() << c.expected << " expected, " << c.rows << " rows");
    auto text = [](std::size_t r) { return std::string(r % 70, static_cast<char>('a' + r % 26)); };
    RowSet rows(columns, c.expected);
    const std::size_t reserved = rows.MemoryBytes();
    for (std::size_t r = 0; r < c.rows; ++r) {
      rows.BeginRow();
      if (r % 5 == 2) {
        for (int k = 0; k < 4; ++k) rows.PutNull();
        continue;
      }
      rows.PutInteger(static_cast<std::int64_t>(r) - 7);
      ASSERT_TRUE(rows.PutText(text(r)));
      rows.PutTime(Timestamp{static_cast<std::int16_t>(1900 + r), 1, 2, 3, 4, 5, static_cast<std::uint32_t>(r)});
      const std::vector<std::uint8_t> bytes(r % 3, static_cast<std::uint8_t>(r));
      ASSERT_TRUE(rows.PutBytes(bytes));
    }
    rows.Seal();
    if (c.expected > c.rows * 4) {
      EXPECT_LT(rows.MemoryBytes(), reserved / 4);
    }
    for (int pass = 0; pass < 2; ++pass) {
      // The second pass reads what is left after the integers are dropped.
      const std::size_t shift = pass == 0 ? 0 : 1;
      ASSERT_EQ(rows.RowCount(), c.rows);
      for (std::size_t r = 0; r < c.rows; ++r) {
        SCOPED_TRACE(r);
        const bool null = r % 5 == 2;
        for (std::size_t col = 0; col < 4 - shift; ++col) ASSERT_EQ(rows.IsNull(col, r), null);
        if (null) {
          EXPECT_EQ(rows.SizeAt(1 - shift, r), 0u);
          continue;
        }
        if (pass == 0) {
          EXPECT_EQ(rows.Integer(0, r), static_cast<std::int64_t>(r) - 7);
        }
        EXPECT_EQ(rows.TextAt(1 - shift, r), text(r));
        EXPECT_EQ(rows.TimeAt(2 - shift, r).year, static_cast<std::int16_t>(1900 + r));
        EXPECT_EQ(rows.TimeAt(2 - shift, r).fraction, r);
        const auto bytes = rows.BytesAt(3 - shift, r);
        ASSERT_EQ(bytes.size(), r % 3);
        for (std::uint8_t b : bytes) EXPECT_EQ(b, static_cast<std::uint8_t>(r));
      }
      if (pass == 0) rows.RemoveColumns({0});
    }
  }
}

}  // namespace
}  // namespace ado::backend
