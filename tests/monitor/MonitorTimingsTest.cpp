#include "MonitorTimings.h"

#include <gtest/gtest.h>

TEST(MonitorTimings, ProductIntervalsUnlessTheEnvironmentShortensThem) {
    const MonitorTimings product = parseMonitorTimings("");
    EXPECT_EQ(60000u, product.pollMs);
    EXPECT_EQ(10000u, product.reenumerateMs);
    EXPECT_EQ(5000u, product.enumRetrySleepMs);

    const MonitorTimings test = parseMonitorTimings("poll=500,reenum=200,enumretry=20");
    EXPECT_EQ(500u, test.pollMs);
    EXPECT_EQ(200u, test.reenumerateMs);
    EXPECT_EQ(20u, test.enumRetrySleepMs);

    // Bad pairs are ignored, good ones kept.
    const MonitorTimings mixed = parseMonitorTimings("poll=abc,reenum=0,enumretry=7,,x=1,poll");
    EXPECT_EQ(60000u, mixed.pollMs);
    EXPECT_EQ(10000u, mixed.reenumerateMs);
    EXPECT_EQ(7u, mixed.enumRetrySleepMs);
}
