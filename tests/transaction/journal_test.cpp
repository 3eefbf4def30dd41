#include "transaction/journal.h"

#include <gtest/gtest.h>

#include "transaction/journal_text.h"

TEST(Journal, AnyFileNameSurvivesAndOnlyAWholeJournalCounts) {
  Journal journal;
  journal.id = "1a-2-3";
  journal.time = 1718000000;
  journal.root = "/srv/mir server/";
  journal.rootIdentity = "2049:131";
  journal.package = "三端";
  journal.generation = ".下载器备份/三端/7";
  journal.keep = 2;
  journal.entries = {{JournalOp::MakeFolder, "mir200/新 folder"},
                     {JournalOp::Replace, "mir200/tab\there\\back\\slash"},
                     {JournalOp::Create, "mir200/line\nbreak\r.dll"},
                     {JournalOp::Remove, "mir200/\\t not a tab"},
                     {JournalOp::RemoveFolder, "old"}};
  const std::string text = encodeJournal(journal);

  std::optional<Journal> read = parseJournal(text);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->begun);
  EXPECT_FALSE(read->committed);
  EXPECT_EQ(read->entries, journal.entries);
  EXPECT_EQ(read->root, journal.root);
  EXPECT_EQ(read->rootIdentity, journal.rootIdentity);
  EXPECT_EQ(read->generation, journal.generation);
  EXPECT_EQ(read->time, journal.time);
  EXPECT_TRUE(parseJournal(text + "commit\n")->committed);

  // Cut short anywhere before its end, it was written before any change: not begun.
  for (size_t cut : {text.size() - 1, text.size() - 7, text.size() / 2, size_t{30}}) {
    std::optional<Journal> partial = parseJournal(text.substr(0, cut));
    ASSERT_TRUE(partial) << cut;
    EXPECT_FALSE(partial->begun) << cut;
  }
  // Anything else is no journal to act on.
  EXPECT_FALSE(parseJournal("something else\nbegin\n"));
  EXPECT_FALSE(parseJournal(text + "replace\tlate\n"));
  std::string badEscape = text;
  badEscape.replace(badEscape.find("\\t"), 2, "\\q");
  EXPECT_FALSE(parseJournal(badEscape));
  EXPECT_FALSE(parseJournal("commit\n"));
}
