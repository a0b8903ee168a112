#include <gtest/gtest.h>

#include "ui/HexField.h"

namespace korvel {
namespace {

TEST(HexField, WritingNumbers) {
  EXPECT_EQ(HexFieldText(16), "10");
  EXPECT_EQ(HexFieldText(255), "FF");
  EXPECT_EQ(HexFieldText(0), "");
  EXPECT_EQ(HexFieldText(-5), "");
  EXPECT_EQ(HexFieldText(5), "5");
  EXPECT_EQ(HexFieldText(0x1BCF), "1BCF");
}

TEST(HexField, ReadingNumbers) {
  EXPECT_EQ(HexFieldNumber(""), 0);
  EXPECT_EQ(HexFieldNumber("ff"), 255);
  EXPECT_EQ(HexFieldNumber("1BCF"), 0x1BCF);
  EXPECT_FALSE(HexFieldNumber("G1"));
  EXPECT_FALSE(HexFieldNumber(" 1"));
  EXPECT_FALSE(HexFieldNumber("123456789"));
}

TEST(HexField, FilterLetsHexAndBackspaceThrough) {
  for (char32_t ok : {U'0', U'9', U'a', U'f', U'A', U'F', U'\b'}) EXPECT_TRUE(HexFilterAccepts(ok));
  for (char32_t no : {U'g', U'G', U' ', U'-', U'x', U'中'}) EXPECT_FALSE(HexFilterAccepts(no));
}

TEST(HexField, ImageItems) {
  EXPECT_EQ(ParseImageItem("English|2").caption, "English");
  EXPECT_EQ(ParseImageItem("English|2").imageIndex, 2);
  EXPECT_EQ(ParseImageItem("|1").caption, "");
  EXPECT_EQ(ParseImageItem("|1").imageIndex, 1);
  EXPECT_EQ(ParseImageItem("Plain").caption, "Plain");
  EXPECT_EQ(ParseImageItem("Plain").imageIndex, 0);
  EXPECT_EQ(ParseImageItem("a|b|3").caption, "a");
  EXPECT_EQ(ParseImageItem("a|x").imageIndex, 0);
}

}  // namespace
}  // namespace korvel
