// The configuration load sizes the per-IP table and its reset releases it.
#include "address_space_limit.h"
#include "config/param.h"
#include "limits/ipconn.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class IpconnLoadTest : public ::testing::Test {
protected:
    void SetUp() override { kestrad_param_init(); }
    void TearDown() override { kestrad_param_free(); }

    int load(const std::string& content)
    {
        kestrad_param_init();
        return kestrad_param_load(dir.write("kestrad.conf", content).c_str());
    }

    temp_dir dir;
    log_capture log;
};

struct Case {
    const char* name;
    const char* content;
    size_t slots;
};

TEST_F(IpconnLoadTest, TableExistsOnlyWhenBothLimitsAreSet)
{
    const Case cases[] = {
        {"neither limit", "Port 21\n", 0},
        {"MaxConnection alone", "MaxConnection 100\n", 0},
        {"MaxConnectionPerIP alone", "MaxConnectionPerIP 5\n", 0},
        {"both limits", "MaxConnection 100\nMaxConnectionPerIP 5\n", 100},
        {"both limits, other order", "MaxConnectionPerIP 1\nMaxConnection 1\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(load(c.content), 0);
        EXPECT_EQ(kestrad_ipconn_slots().size(), c.slots);
        kestrad_param_free();
        EXPECT_TRUE(kestrad_ipconn_slots().empty()) << "the reset releases the table";
    }
}

TEST_F(IpconnLoadTest, FailedLoadReleasesAnEarlierTable)
{
    ASSERT_EQ(load("MaxConnection 100\nMaxConnectionPerIP 5\n"), 0);
    ASSERT_EQ(kestrad_ipconn_slots().size(), 100u);
    EXPECT_EQ(load("MaxConnection 100\nMaxConnectionPerIP 5\nTimeOut 20\nMaxTimeOut 10\n"), -1);
    EXPECT_TRUE(kestrad_ipconn_slots().empty());
}

TEST_F(IpconnLoadTest, TableThatCannotBeAllocatedFailsTheLoad)
{
    if (!address_space_limit_usable)
        GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit leaves";
    int result;
    {
        const address_space_limit limit(small_address_space);
        result = load("MaxConnection 2147483647\nMaxConnectionPerIP 1\n");
    }

    EXPECT_EQ(result, -1);
    EXPECT_TRUE(kestrad_ipconn_slots().empty());
    EXPECT_EQ(server_params.MaxConnection, 0) << "the failure resets the record";
    const auto& lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "param.c (363) Failed to alloc space for max connection per ip table."),
              lines.end());
}

} // namespace
