#include "data/service_address.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckServiceAddress, OnlyHttpHostAndPort)
{
    struct Row
    {
        const char* text;
        const char* address; // nullptr: refused
    };
    const Row rows[] = {
        {"http://127.0.0.1:18650", "http://127.0.0.1:18650"},
        {"http://quotes.example.org", "http://quotes.example.org"},
        {"HTTP://Quotes.example.org:8080", "http://Quotes.example.org:8080"},
        {"http://[::1]:18650", "http://[::1]:18650"},
        {"http://[::1]", "http://[::1]"},
        {"http://localhost:65535", "http://localhost:65535"},
        {"https://quotes.example.org", nullptr},
        {"ftp://quotes.example.org", nullptr},
        {"quotes.example.org:80", nullptr},
        {"http://", nullptr},
        {"http://:80", nullptr},
        {"http://host:", nullptr},
        {"http://host:0", nullptr},
        {"http://host:65536", nullptr},
        {"http://host:123456", nullptr},
        {"http://host:80x", nullptr},
        {"http://host/", nullptr},         // the pages' paths are appended: no path of its own
        {"http://host:80/MnStock", nullptr},
        {"http://host?qt=1", nullptr},
        {"http://user@host", nullptr},
        {"http://ho st", nullptr},
        {"http://::1", nullptr},            // an IPv6 address needs its brackets
        {"http://[::1", nullptr},
        {"http://[zz::1]", nullptr},
        {" http://host", nullptr},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.text);
        const std::optional<std::string> address = CheckServiceAddress(row.text);
        if (row.address == nullptr)
            EXPECT_FALSE(address.has_value()) << *address;
        else
            EXPECT_EQ(address.value_or("(refused)"), row.address);
    }
}

} // namespace
