#include <gtest/gtest.h>

#include <QApplication>

#include "localization/ShownTextCheck.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new korvel::test::EveryShownTextHasWords);
  return RUN_ALL_TESTS();
}
