#include "limits/ipconn.h"

#include "address_space_limit.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

sockaddr_storage v4(const char* host, uint16_t port)
{
    sockaddr_storage storage{};
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, host, &in.sin_addr), 1) << host;
    std::memcpy(&storage, &in, sizeof in);
    return storage;
}

sockaddr_storage v6(const char* host, uint16_t port, uint32_t flow = 0, uint32_t scope = 0)
{
    sockaddr_storage storage{};
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    in6.sin6_flowinfo = htonl(flow);
    in6.sin6_scope_id = scope;
    EXPECT_EQ(inet_pton(AF_INET6, host, &in6.sin6_addr), 1) << host;
    std::memcpy(&storage, &in6, sizeof in6);
    return storage;
}

sockaddr_storage local(const char* path)
{
    sockaddr_storage storage{};
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::strncpy(un.sun_path, path, sizeof un.sun_path - 1);
    std::memcpy(&storage, &un, sizeof un);
    return storage;
}

std::vector<int> keys()
{
    std::vector<int> out;
    for (const per_ip_slot& slot : kestrad_ipconn_slots())
        out.push_back(slot.key);
    return out;
}

class IpconnTest : public ::testing::Test {
protected:
    void TearDown() override { kestrad_ipconn_free(); }
};

TEST_F(IpconnTest, AllocReplacesReleasesAndRefuses)
{
    ASSERT_EQ(kestrad_ipconn_alloc(3), 0);
    EXPECT_EQ(keys(), (std::vector<int>{0, 0, 0}));
    for (const per_ip_slot& slot : kestrad_ipconn_slots())
        for (unsigned char byte : slot.address)
            EXPECT_EQ(byte, 0);

    const sockaddr_storage a = v4("192.0.2.1", 1000);
    kestrad_ipconn_add(&a, 5);
    ASSERT_EQ(kestrad_ipconn_alloc(2), 0);
    EXPECT_EQ(keys(), (std::vector<int>{0, 0})) << "a new table starts empty";

    EXPECT_EQ(kestrad_ipconn_alloc(0), 0);
    EXPECT_TRUE(kestrad_ipconn_slots().empty()) << "a count of 0 releases the old table";

    ASSERT_EQ(kestrad_ipconn_alloc(2), 0);
    EXPECT_EQ(kestrad_ipconn_alloc(-1), -1);
    EXPECT_TRUE(kestrad_ipconn_slots().empty());

    if (address_space_limit_usable) {
        ASSERT_EQ(kestrad_ipconn_alloc(2), 0);
        {
            const address_space_limit limit(small_address_space);
            EXPECT_EQ(kestrad_ipconn_alloc(INT_MAX), -1);
        }
        EXPECT_TRUE(kestrad_ipconn_slots().empty()) << "a failed allocation leaves no table";
    }

    kestrad_ipconn_free();
    kestrad_ipconn_free();
    EXPECT_TRUE(kestrad_ipconn_slots().empty());
}

TEST_F(IpconnTest, WithoutTableNothingHappens)
{
    const sockaddr_storage a = v4("192.0.2.1", 1000);
    kestrad_ipconn_add(&a, 1);
    kestrad_ipconn_remove(1);
    EXPECT_TRUE(kestrad_ipconn_slots().empty());
    EXPECT_EQ(kestrad_ipconn_check(1, &a), 0);
    EXPECT_EQ(kestrad_ipconn_check(-1, &a), 0);
}

// One step of a slot sequence: a positive key is added, a negative one removes its key.
struct Case {
    const char* name;
    int slots;
    std::vector<int> steps;
    std::vector<int> expected;
};

TEST_F(IpconnTest, SlotSequences)
{
    const Case cases[] = {
        {"fills from the first slot", 3, {11, 12}, {11, 12, 0}},
        {"full table drops its first slot", 3, {11, 12, 13, 14}, {12, 13, 14}},
        {"freed middle slot is reused", 3, {11, 12, 13, 14, -13, 15}, {12, 15, 14}},
        {"full table after a reuse drops the newest entry", 3, {11, 12, 13, -11, 14, 15}, {12, 13, 15}},
        {"removing a duplicate key frees only the first", 3, {7, 7, -7}, {0, 7, 0}},
        {"removing an unknown key changes nothing", 2, {1, 2, -3}, {1, 2}},
        {"one slot keeps only the last entry", 1, {1, 2, 3}, {3}},
        {"key 0 leaves the slot free", 2, {0, 4}, {4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(kestrad_ipconn_alloc(c.slots), 0);
        for (const int step : c.steps) {
            // The key is written into the port, so the address bytes show which entry a slot holds.
            const sockaddr_storage address = v4("192.0.2.1", static_cast<uint16_t>(step));
            if (step < 0)
                kestrad_ipconn_remove(-step);
            else
                kestrad_ipconn_add(&address, step);
        }
        EXPECT_EQ(keys(), c.expected);
        for (const per_ip_slot& slot : kestrad_ipconn_slots()) {
            if (slot.key == 0)
                continue;
            sockaddr_in in{};
            std::memcpy(&in, slot.address, sizeof in);
            EXPECT_EQ(ntohs(in.sin_port), slot.key) << "address moved apart from its key";
        }
    }
}

TEST_F(IpconnTest, KeyZeroIsNeverCountedAndIsOverwritten)
{
    ASSERT_EQ(kestrad_ipconn_alloc(2), 0);
    const sockaddr_storage a = v4("192.0.2.1", 1);
    const sockaddr_storage b = v4("198.51.100.7", 2);
    kestrad_ipconn_add(&a, 0);
    EXPECT_EQ(kestrad_ipconn_check(1, &a), 0);
    kestrad_ipconn_add(&b, 9);
    EXPECT_EQ(std::memcmp(kestrad_ipconn_slots()[0].address, &b, per_ip_address_size), 0);
    EXPECT_EQ(kestrad_ipconn_check(1, &b), -1);
}

TEST_F(IpconnTest, CountsConnectionsOfOneAddressAgainstTheLimit)
{
    ASSERT_EQ(kestrad_ipconn_alloc(8), 0);
    const sockaddr_storage a1 = v4("192.0.2.1", 1001);
    const sockaddr_storage a2 = v4("192.0.2.1", 1002);
    const sockaddr_storage a3 = v4("192.0.2.1", 1003);
    const sockaddr_storage b = v4("192.0.2.2", 1001);
    kestrad_ipconn_add(&a1, 1);
    kestrad_ipconn_add(&b, 2);
    kestrad_ipconn_add(&a2, 3);
    kestrad_ipconn_add(&a3, 4);

    struct Limit {
        int limit;
        int result;
    };
    for (const Limit l : {Limit{0, 0}, Limit{-1, -1}, Limit{1, -1}, Limit{3, -1}, Limit{4, 0}, Limit{100, 0}}) {
        SCOPED_TRACE("limit " + std::to_string(l.limit));
        EXPECT_EQ(kestrad_ipconn_check(l.limit, &a1), l.result);
    }
    EXPECT_EQ(kestrad_ipconn_check(1, &b), -1);
    EXPECT_EQ(kestrad_ipconn_check(2, &b), 0);
    EXPECT_EQ(kestrad_ipconn_check(1, nullptr), 0);

    kestrad_ipconn_remove(3);
    EXPECT_EQ(kestrad_ipconn_check(3, &a1), 0) << "a removed slot keeps its address but no longer counts";
    EXPECT_EQ(kestrad_ipconn_check(2, &a1), -1);
}

struct AddressCase {
    const char* name;
    sockaddr_storage stored;
    sockaddr_storage probe;
    bool same;
};

TEST_F(IpconnTest, ClientAddressesCompareByFamilyAndHostOnly)
{
    sockaddr_storage v4_with_padding = v4("192.0.2.1", 80);
    std::memset(reinterpret_cast<unsigned char*>(&v4_with_padding) + sizeof(sockaddr_in), 0xa5,
                per_ip_address_size - sizeof(sockaddr_in));

    const AddressCase cases[] = {
        {"IPv4, other port", v4("192.0.2.1", 80), v4("192.0.2.1", 8080), true},
        {"IPv4, bytes past sockaddr_in differ", v4_with_padding, v4("192.0.2.1", 80), true},
        {"IPv4, other host", v4("192.0.2.1", 80), v4("192.0.2.2", 80), false},
        {"IPv4 against IPv4-mapped IPv6", v4("192.0.2.1", 80), v6("::ffff:192.0.2.1", 80), false},
        {"IPv4-mapped IPv6 against IPv4", v6("::ffff:192.0.2.1", 80), v4("192.0.2.1", 80), false},
        {"IPv6, other port, flow and scope", v6("2001:db8::1", 80, 7, 2), v6("2001:db8::1", 9, 0, 0), true},
        {"IPv6, last byte differs", v6("2001:db8::1", 80), v6("2001:db8::2", 80), false},
        {"IPv6, first byte differs", v6("2001:db8::1", 80), v6("3001:db8::1", 80), false},
        {"other family, identical bytes", local("/tmp/socket"), local("/tmp/socket"), false},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(kestrad_ipconn_alloc(4), 0);
        kestrad_ipconn_add(&c.stored, 1);
        EXPECT_EQ(kestrad_ipconn_check(1, &c.probe), c.same ? -1 : 0);
    }
}

} // namespace
