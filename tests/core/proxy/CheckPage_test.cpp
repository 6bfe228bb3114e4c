#include "core/proxy/CheckPage.h"

#include <gtest/gtest.h>

#include "server/core/Answers.h"

namespace cloakline {
namespace {

TEST(CheckPage, ReadsTheAddressAndCountryOfTheServersPage) {
    const auto page =
        ParseCheckPage(server::BuildCheckIpPage("198.51.100.4", server::TAddressPlace{"FR", "France", ""}));
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->Address, "198.51.100.4");
    EXPECT_EQ(page->Country, "FR");

    const auto v6 = ParseCheckPage(server::BuildCheckIpPage("2001:db8::7", std::nullopt));
    ASSERT_TRUE(v6.has_value());
    EXPECT_EQ(v6->Address, "2001:db8::7");
    EXPECT_EQ(v6->Country, "");

    EXPECT_EQ(ParseCheckPage("<span id=\"ip\"> 10.0.0.1\n</span><span id=\"country\">de</span>")->Country,
              "DE");
}

TEST(CheckPage, RefusesPagesThatNameNoAddress) {
    EXPECT_FALSE(ParseCheckPage("<html>Your IP: 1.2.3.4</html>").has_value());
    EXPECT_FALSE(ParseCheckPage("<span id=\"ip\">1.2.3.4").has_value());
    EXPECT_FALSE(ParseCheckPage("<span id=\"ip\">&lt;script&gt;</span>").has_value());
    EXPECT_FALSE(ParseCheckPage("<span id=\"ip\">localhost</span>").has_value());
    EXPECT_EQ(ParseCheckPage("<span id=\"ip\">1.2.3.4</span><span id=\"country\">D1</span>")->Country, "");
}

}  // namespace
}  // namespace cloakline
