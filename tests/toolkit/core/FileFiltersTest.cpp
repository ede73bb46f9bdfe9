// What the save dialogs make of the program's file filters: the extension a typed name
// gets and the filter a suggested name starts with.
#include <gtest/gtest.h>

#include "toolkit/core/FileFilters.h"

namespace tarnset::tk {
namespace {

TEST(FileFilters, OnlyAPlainFirstPatternGivesAnExtension) {
  EXPECT_EQ(defaultExtension({"PDF document", {"*.pdf"}}), "pdf");
  EXPECT_EQ(defaultExtension({"Web page", {"*.html", "*.htm"}}), "html");
  for (const char* p : {"*", "*.*", "report*", "*.tar.gz", "*.[ch]", "x.pdf"}) {
    EXPECT_EQ(defaultExtension({"any", {p}}), "") << p;
  }
  EXPECT_EQ(defaultExtension({"none", {}}), "");
}

TEST(FileFilters, WildcardsMatchWholeNamesIgnoringCase) {
  EXPECT_TRUE(matchesPattern("*.pdf", "Report.PDF"));
  EXPECT_TRUE(matchesPattern("bench-??.bin", "bench-42.bin"));
  EXPECT_TRUE(matchesPattern("*", ""));
  EXPECT_FALSE(matchesPattern("*.pdf", "report.pdf.bak"));
  EXPECT_FALSE(matchesPattern("bench-??.bin", "bench-4.bin"));
}

TEST(FileFilters, ASuggestedNameStartsWithTheFirstFilterThatMatchesIt) {
  const std::vector<FileFilter> filters{{"PDF document", {"*.pdf"}}, {"Web page", {"*.html", "*.htm"}}};
  EXPECT_EQ(filterIndexFor(filters, "report.htm"), 1u);
  EXPECT_EQ(filterIndexFor(filters, "report.pdf"), 0u);
  EXPECT_EQ(filterIndexFor(filters, "report.txt"), 0u);
  EXPECT_EQ(filterIndexFor(filters, ""), 0u);
}

}  // namespace
}  // namespace tarnset::tk
