// Which formulas yield a Boolean when LibreOffice kept no result type for
// them (the .xls import): only the outermost operation counts.
#include <gtest/gtest.h>

#include "CellKinds.h"

namespace pendra::excel {
namespace {

struct FormulaCase {
  const char* formula;
  bool boolean;
};

class FormulaResult : public ::testing::TestWithParam<FormulaCase> {};

TEST_P(FormulaResult, OnlyTheOutermostOperationDecides) {
  EXPECT_EQ(FormulaYieldsBoolean(GetParam().formula), GetParam().boolean) << GetParam().formula;
}

INSTANTIATE_TEST_SUITE_P(Cases, FormulaResult, ::testing::Values(
    FormulaCase{"=1=1", true}, FormulaCase{"=A1<>B1", true}, FormulaCase{"=1+1>=2", true},
    FormulaCase{"=(A1<B1)", true}, FormulaCase{"= ( (1=1) ) ", true},
    FormulaCase{"=AND(A1;B1)", true}, FormulaCase{"=isnumber(A1)", true}, FormulaCase{"=NOT(1)", true},
    FormulaCase{"=TRUE()", true}, FormulaCase{"=_xlfn.XOR(1;0)", true},
    FormulaCase{"=EXACT(\"a\";\"A\")", true}, FormulaCase{"=SUM(A1:A3)=6", true},
    // Numbers and texts, also with a comparison or a logical call inside.
    FormulaCase{"=2+3", false}, FormulaCase{"=(1=1)+0", false}, FormulaCase{"=IF(A1=1;TRUE();FALSE())", false},
    FormulaCase{"=AND(1;1)*1", false}, FormulaCase{"=-NOT(1)", false}, FormulaCase{"=\"a=b\"", false},
    FormulaCase{"='x=y'.A1", false}, FormulaCase{"=LEN(\"<>\")", false}, FormulaCase{"=ISNUMBER(A1)&\"\"", false},
    FormulaCase{"=ANDX(1)", false}, FormulaCase{"=SUM({1;2}=1)", false}, FormulaCase{"", false},
    FormulaCase{"=(1=1", false}));

}  // namespace
}  // namespace pendra::excel
