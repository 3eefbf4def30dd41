#include "platform/text.h"

#include <gtest/gtest.h>

using Pieces = std::vector<std::string>;

TEST(FindText, GivesOneBasedPositionsAndIgnoresAsciiCaseOnly) {
  EXPECT_EQ(findText("/prog/功能插件/MIR200/a.dll", "/mir200/", true), 19);
  EXPECT_EQ(findText("/prog/MIR200/a.dll", "/mir200/", false), -1);
  EXPECT_EQ(findText("abc", "abc", false), 1);
  EXPECT_EQ(findText("abc", "", true), -1);
  EXPECT_EQ(findText("ab", "abc", true), -1);
  // Only ASCII letters fold: Latin-1 "É" (C3 89) never equals "é" (C3 A9).
  EXPECT_EQ(findText("xÉ", "é", true), -1);
  EXPECT_EQ(findText("/Velmar引擎控制台2/x", "/velmar引擎控制台", true), 1);
}

TEST(FindText, NeverMatchesInsideAMultibyteCharacter) {
  // GBK: 0xB0 0x41 is one character whose trail byte is "A".
  EXPECT_EQ(findText("\xB0\x41", "A", true, CodePage::Gbk), -1);
  EXPECT_EQ(findText("\xB0\x41"
                     "A",
                     "a", true, CodePage::Gbk),
            3);
  // GBK: the trail byte 0x5C of 0x95 0x5C is no "\".
  EXPECT_EQ(findText("\x95\x5C", "\\", false, CodePage::Gbk), -1);
  // UTF-8: "中" is E4 B8 AD; its last two bytes are no character start.
  EXPECT_EQ(findText("中", "\xB8\xAD", false), -1);
  EXPECT_EQ(findText("中\xAD", "\xAD", false), 4);
  // A malformed UTF-8 lead does not swallow the ASCII bytes after it.
  EXPECT_EQ(findText("\xE4\r\n", "\r\n", false), 2);
}

TEST(SplitText, KeepsInnerEmptyPiecesAndDropsAnEmptyLastOne) {
  EXPECT_EQ(splitText("a\r\n\r\nb\r\n", "\r\n"), (Pieces{"a", "", "b"}));
  EXPECT_EQ(splitText("\r\na", "\r\n"), (Pieces{"", "a"}));
  EXPECT_EQ(splitText("a", "\r\n"), (Pieces{"a"}));
  EXPECT_EQ(splitText("", "\r\n"), Pieces{});
  EXPECT_EQ(splitText("\r\n", "\r\n"), (Pieces{""}));
  EXPECT_EQ(splitText("Mir200/Envir/a.txt", "/"), (Pieces{"Mir200", "Envir", "a.txt"}));
}

TEST(SplitText, StepsOverGbkCharactersWhole) {
  // 0x81 0x7C is one GBK character whose trail byte is "|".
  EXPECT_EQ(splitText("\x81|x|y", "|", CodePage::Gbk), (Pieces{"\x81|x", "y"}));
  EXPECT_EQ(splitText("\x81|x|y", "|", CodePage::Utf8), (Pieces{"\x81", "x", "y"}));
}

TEST(SplitLines, AcceptsBothLineBreaks) {
  EXPECT_EQ(splitLines("/a\n/b\n"), (Pieces{"/a", "/b"}));
  EXPECT_EQ(splitLines("/a\r\n\r\n/b"), (Pieces{"/a", "", "/b"}));
  EXPECT_EQ(splitLines(" /a \n"), (Pieces{" /a "}));
  EXPECT_EQ(splitLines(""), Pieces{});
}

TEST(TextParts, RightPartAndLength) {
  EXPECT_EQ(rightText("abcdef", 2), "ef");
  EXPECT_EQ(rightText("abc", 0), "");
  EXPECT_EQ(rightText("abc", -3), "");
  EXPECT_EQ(rightText("abc", 9), "abc");
  EXPECT_EQ(textLength(std::string("ab\0cd", 5)), 2u);
  EXPECT_EQ(textLength("中文"), 6u);
}

TEST(ToUpperAscii, ChangesOnlyAsciiLettersOutsideMultibyteCharacters) {
  EXPECT_EQ(toUpperAscii("qzvm2load.dll"), "QZVM2LOAD.DLL");
  EXPECT_EQ(toUpperAscii("é中a"), "é中A");
  // GBK 0x81 0x61: the trail byte "a" stays lower case.
  EXPECT_EQ(toUpperAscii("\x81"
                         "ab",
                         CodePage::Gbk),
            "\x81"
            "aB");
}
