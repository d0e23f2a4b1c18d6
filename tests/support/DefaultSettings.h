// What the dialog's defaults must turn into, for tests of every front end.
#pragma once

#include <gtest/gtest.h>

#include "base/JobSettings.h"

namespace velmora::test {

inline void ExpectDefaultJobSettings(const JobSettings& s) {
    EXPECT_EQ(s.nUpgradeType, UpgradeType::Code);
    EXPECT_EQ(s.nOffset, 0x1B0000U);
    EXPECT_EQ(s.bPackedModel, 0);
    EXPECT_EQ(s.bTerrestrial, 0);
    EXPECT_EQ(s.nMaxSat, 32);
    EXPECT_EQ(s.nMaxTp, 512);
    EXPECT_EQ(s.nMaxTv, 500);
    EXPECT_EQ(s.nMaxRadio, 1);
    EXPECT_EQ(s.nDbSize, 65535);
    EXPECT_EQ(s.nLnbCHigh, 5150);
    EXPECT_EQ(s.nLnbCLow, 5150);
    EXPECT_EQ(s.nLnbKuHigh, 10600);
    EXPECT_EQ(s.nLnbKuLow, 9750);
}

}  // namespace velmora::test
