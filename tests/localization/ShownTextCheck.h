// Every text a test run put into words must have had its entry in the text table: a presenter
// text without one fails the run that showed it, whichever test that was.
#pragma once

#include <gtest/gtest.h>

#include "localization/Lang.h"

namespace korvel::test {

class EveryShownTextHasWords : public ::testing::Environment {
 public:
  void TearDown() override {
    for (const std::string& pattern : UntranslatedPatterns())
      ADD_FAILURE() << "shown without an entry in the text table: \"" << pattern << "\"";
  }
};

}  // namespace korvel::test
