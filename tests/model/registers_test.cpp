#include "model/registers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kvx {
namespace {

TEST(ParameterNames, TableShapeAndControllerSpellings) {
    EXPECT_STREQ(parameterNames[0], "product_type");
    EXPECT_STREQ(parameterNames[6], "save_data_command");
    EXPECT_STREQ(parameterNames[62], "sibstit_load2");
    EXPECT_STREQ(parameterNames[68], "acknowledge_alarm");
    EXPECT_STREQ(parameterNames[89], "indicator_type");
    EXPECT_STREQ(parameterNames[91], "overspeed");
    EXPECT_STREQ(parameterNames[175], "spare0");
    EXPECT_STREQ(parameterNames[176], "spare1");
    EXPECT_STREQ(parameterNames[177], "");  // the terminator

    std::set<std::string> seen;
    for (int i = 0; i < kParameterCount; ++i) {
        ASSERT_NE(parameterNames[i][0], '\0') << "register " << i + 1 << " has no name";
        EXPECT_TRUE(seen.insert(parameterNames[i]).second) << parameterNames[i];
    }
}

TEST(ParameterNames, LookupIsExact) {
    EXPECT_EQ(findParameter("sibstit_load2"), 63);
    EXPECT_EQ(findParameter("substit_load2"), 0);
    EXPECT_EQ(findParameter("Overspeed"), 0);
    EXPECT_EQ(findParameter(""), 0);
    EXPECT_EQ(findParameter("spare1"), 177);
    EXPECT_EQ(parameterName(1), "product_type");
    EXPECT_EQ(parameterName(0), "");
    EXPECT_EQ(parameterName(178), "");
    for (int r = 1; r <= kParameterCount; ++r)
        EXPECT_EQ(findParameter(parameterName(r)), r);
}

TEST(RegisterReferences, WireAddressIsReferenceMinusOne) {
    EXPECT_EQ(wireAddress(1), 0x0000);
    EXPECT_EQ(wireAddress(201), 200);
    EXPECT_EQ(wireAddress(65536), 0xFFFF);
    EXPECT_EQ(referenceOf(0xFFFF), 65536);
    EXPECT_EQ(referenceOf(wireAddress(ref::acknowledge_alarm)), 69);
}

TEST(RegisterReferences, CalibrationNameCountByFirmware) {
    EXPECT_EQ(calibrationNameCount(100), 112);
    EXPECT_EQ(calibrationNameCount(106), 112);
    EXPECT_EQ(calibrationNameCount(107), 151);
    EXPECT_EQ(calibrationNameCount(114), 151);
    EXPECT_EQ(calibrationNameCount(115), 174);
    EXPECT_EQ(calibrationNameCount(116), 174);
    EXPECT_EQ(calibrationNameCount(117), 177);
    EXPECT_EQ(calibrationNameCount(200), 177);
}

}  // namespace
}  // namespace kvx
