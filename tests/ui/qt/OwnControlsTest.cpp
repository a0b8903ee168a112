#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include "ui/qt/HexEdit.h"
#include "ui/qt/KRVImageComboBox.h"
#include "ui/qt/hhALed.h"

namespace korvel {
namespace {

TEST(THexEdit, FilterDropsWhatIsNotHexButKeepsBackspace) {
  THexEdit edit;
  EXPECT_TRUE(edit.IsFilter());
  QTest::keyClicks(&edit, "1g2F");
  QTest::keyClick(&edit, 'f');
  EXPECT_EQ(edit.text(), "12Ff");
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(edit.text(), "12F");
  // Return is not a typed character: it still commits the entry.
  int finished = 0;
  QObject::connect(&edit, &QLineEdit::editingFinished, [&] { ++finished; });
  QTest::keyClick(&edit, Qt::Key_Return);
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(edit.text(), "12F");
  edit.SetIsFilter(false);
  QTest::keyClicks(&edit, "g");
  EXPECT_EQ(edit.text(), "12Fg");
  EXPECT_FALSE(edit.Value());
}

TEST(THexEdit, WritingAndReadingValues) {
  THexEdit edit;
  edit.SetValue(16);
  EXPECT_EQ(edit.text(), "10");
  edit.SetValue(255);
  EXPECT_EQ(edit.text(), "FF");
  EXPECT_EQ(edit.Value(), 255);
  edit.SetValue(0);
  EXPECT_EQ(edit.text(), "");
  EXPECT_EQ(edit.Value(), 0);
  edit.SetAlignment(Qt::AlignRight);
  EXPECT_EQ(edit.Alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST(TKRVImageComboBox, ItemHeightFollowsTheImages) {
  TKRVImageComboBox box;
  box.addItems({"|0", "|1", "English|2"});
  QPixmap flag(40, 30);
  flag.fill(Qt::red);
  box.SetImageList({flag, flag, flag});
  EXPECT_EQ(box.ItemHeight(), 34);
  box.setCurrentIndex(2);
  box.resize(200, 40);
  box.grab();  // paints without a crash, images and captions included
}

TEST(ThhALed, SizesStylesAndBlinking) {
  EXPECT_EQ(ThhALed::StyleSize(LEDStyle::LEDSqLarge), QSize(22, 22));
  EXPECT_EQ(ThhALed::StyleSize(LEDStyle::LEDVertical), QSize(16, 22));
  EXPECT_EQ(ThhALed::StyleSize(LEDStyle::LEDHorizontal), QSize(22, 16));
  ThhALed led;
  EXPECT_EQ(led.size(), QSize(16, 16));
  led.SetLEDStyle(LEDStyle::LEDSqLarge);
  EXPECT_EQ(led.size(), QSize(22, 22));
  int ticks = 0;
  led.OnTimer = [&] { ++ticks; };
  led.SetInterval(10);
  led.SetValue(true);
  EXPECT_TRUE(led.Lit());
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 2000));
  led.SetBlink(false);
  EXPECT_TRUE(led.Lit());
  const int after = ticks;
  QTest::qWait(50);
  EXPECT_EQ(ticks, after);  // no blinking: no more timer events
  led.SetValue(false);
  EXPECT_FALSE(led.Lit());
  led.grab();
}

}  // namespace
}  // namespace korvel
