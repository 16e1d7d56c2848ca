#include <gtest/gtest.h>

#include "client_run.h"

using fnktest::Trace;
using fnktest::RunClient;

class Smoke : public ::testing::Test {
 protected:
  fnktest::LocatorOverride locator;
};

TEST_F(Smoke, Runs) {
  ASSERT_TRUE(locator.ok());
  Trace r = RunClient({"panel name=P1 current=50 levels=3 level=40,50,60\npower scheme={11111111-2222-3333-4444-555555555555} ac=60 dc=40\n"},
                    {L"bright:2", L"match", L"query", L"sdc:watch", L"rotate", L"power", L"unload", L"coinit"});
  EXPECT_TRUE(r.finished);
  std::printf("%s", r.Text().c_str());
}
