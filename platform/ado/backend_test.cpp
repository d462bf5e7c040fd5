// The row set's own rules, apart from any driver.
#include "platform/ado/backend.h"

#include <memory>
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

}  // namespace
}  // namespace ado::backend
