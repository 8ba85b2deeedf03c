#include "ui/form_combine_parts.h"

#include <QLabel>
#include <QProgressBar>
#include <string>

#include "support/ui_test.h"

namespace brindle {
namespace {

class FormCombinePartsTest : public test::UiTest {};

TEST_F(FormCombinePartsTest, ShowsTheTargetAndTheBytesWrittenOfItsSize) {
  TForm_CombineParts window;
  EXPECT_EQ(window.width(), TForm_CombineParts::kMinimumWidth);

  // The size is not known until the parts are measured.
  window.SetProgress("/home/u/Downloads/a.iso", 0, -1);
  EXPECT_EQ(window.ProgressBar()->value(), 0);
  window.SetProgress("/home/u/Downloads/a.iso", 65536, 600000);
  EXPECT_EQ(window.ProgressBar()->maximum(), 600000);
  EXPECT_EQ(window.ProgressBar()->value(), 65536);

  // Sizes beyond the bar's int range keep their proportion.
  const int64_t size = int64_t{5} << 30;
  window.SetProgress("/home/u/Downloads/a.iso", size / 4, size);
  EXPECT_GT(window.ProgressBar()->maximum(), 1 << 29);
  EXPECT_NEAR(double(window.ProgressBar()->value()) / window.ProgressBar()->maximum(), 0.25, 1e-6);
  window.SetProgress("/home/u/Downloads/a.iso", size, size);
  EXPECT_EQ(window.ProgressBar()->value(), window.ProgressBar()->maximum());
}

TEST_F(FormCombinePartsTest, ALongPathWidensTheWindowUpToItsLimitThenLosesItsMiddle) {
  TForm_CombineParts window;
  const std::string medium = "/home/user/Downloads/" + std::string(30, 'm') + ".iso";
  window.SetProgress(medium, 0, 100);
  EXPECT_GT(window.width(), TForm_CombineParts::kMinimumWidth);
  EXPECT_LT(window.width(), TForm_CombineParts::kMaximumWidth);
  EXPECT_EQ(window.Label()->text().toStdString(), "Writing to: " + medium);

  const std::string longer = "/home/user/Downloads/" + std::string(300, 'x') + "/end.iso";
  window.SetProgress(longer, 0, 100);
  EXPECT_EQ(window.width(), TForm_CombineParts::kMaximumWidth);
  EXPECT_TRUE(window.Label()->text().startsWith("Writing to: /home"));
  EXPECT_TRUE(window.Label()->text().endsWith("end.iso"));
  EXPECT_EQ(window.Label()->toolTip().toStdString(), "Writing to: " + longer);
}

}  // namespace
}  // namespace brindle
