#include "core/proxy/FlashCommands.h"

#include <gtest/gtest.h>

#include "core/proxy/FlashMovie.h"

namespace cloakline::test {
namespace {

using K = TFlashCommandKind;
namespace T = FlashCommandText;

TEST(FlashCommandTextTest, EveryCommandAsThePanelReadsIt) {
    EXPECT_EQ(T::SetBackground("C:\\a,b\\bg.png"), "Background,C:\\a,b\\bg.png");
    EXPECT_EQ(T::SetLogo(""), "Logo,");
    EXPECT_EQ(T::SetIPInfo("Local", "True", "C:\\f\\KR.PNG", "1.2.3.4", "Korea, Republic of",
                           "Seoul, Jung-gu", "100", "50"),
              "Local,True,C:\\f\\KR.PNG,1.2.3.4,Korea  Republic of,Seoul, Jung-gu,100,50")
        << "only the country loses its commas";
    EXPECT_EQ(T::SetIPInfo("Target", "", "", "", "", "", "0", "100"), "Target,,,,,,0,100");
    EXPECT_EQ(T::SetIPInfoA("Local", "50", "100"), "LocalA,50,100");
    EXPECT_EQ(T::SetTextInfo("", 0), "Info_Text,,0");
    EXPECT_EQ(T::SetTextInfo("Hiding, safely", 16711680), "Info_Text,Hiding, safely,16711680");
    EXPECT_EQ(T::SetTextInfo2("x", -1), "Info_Text2,x,-1");
    EXPECT_EQ(T::Fade("Target", false, 0), "Fade,Target,out,0");
    EXPECT_EQ(T::Fade("Target", true, 100), "Fade,Target,in,100");
    EXPECT_EQ(T::TurnLocal(), "Turn,Local");
    EXPECT_EQ(T::TurnTarget(), "Turn,Target");
}

TEST(FlashCommandParseTest, ReadsBackWhatTheBuildersSend) {
    TFlashCommand c = ParseFlashCommand(T::SetIPInfo("Target", "True", "\\opt\\flags\\KR.PNG", "10.0.0.7",
                                                     "Korea, Republic of", "Seoul", "0", "100"));
    EXPECT_EQ(c.Kind, K::IPInfo);
    EXPECT_EQ(c.Card, TFlashCard::Target);
    EXPECT_TRUE(c.Display);
    EXPECT_EQ(c.Flag, "\\opt\\flags\\KR.PNG");
    EXPECT_EQ(c.IP, "10.0.0.7");
    EXPECT_EQ(c.Country, "Korea  Republic of");
    EXPECT_EQ(c.City, "Seoul");
    EXPECT_EQ(c.Alpha, 0);
    EXPECT_EQ(c.Scale, 100);

    c = ParseFlashCommand("Local,,,,,,0,100");
    EXPECT_EQ(c.Kind, K::IPInfo);
    EXPECT_FALSE(c.Display);
    EXPECT_EQ(c.IP, "");
    EXPECT_EQ(c.Alpha, 0);

    c = ParseFlashCommand(T::SetIPInfoA("Local", "50", "100"));
    EXPECT_EQ(c.Kind, K::IPInfoA);
    EXPECT_EQ(c.Card, TFlashCard::Local);
    EXPECT_EQ(c.Alpha, 50);
    EXPECT_EQ(c.Scale, 100);

    c = ParseFlashCommand(T::SetTextInfo("", 0));
    EXPECT_EQ(c.Kind, K::TextInfo);
    EXPECT_EQ(c.Text, "");
    EXPECT_EQ(c.Color, 0u);
    c = ParseFlashCommand(T::SetTextInfo2("Ready", 4474009));
    EXPECT_EQ(c.Kind, K::TextInfo2);
    EXPECT_EQ(c.Color, 0x444499u);

    c = ParseFlashCommand(T::Fade("Target", false, 0));
    EXPECT_EQ(c.Kind, K::Fade);
    EXPECT_FALSE(c.FadeIn);
    EXPECT_EQ(c.FadeMax, 0);
    c = ParseFlashCommand(T::Fade("Local", true, 100));
    EXPECT_TRUE(c.FadeIn);
    EXPECT_EQ(c.FadeMax, 100);

    EXPECT_EQ(ParseFlashCommand(T::TurnTarget()).Card, TFlashCard::Target);
    EXPECT_EQ(ParseFlashCommand(T::TurnLocal()).Kind, K::Turn);
    c = ParseFlashCommand(T::SetBackground("\\x,y\\bg.png"));
    EXPECT_EQ(c.Kind, K::Background);
    EXPECT_EQ(c.Path, "\\x,y\\bg.png");
    EXPECT_EQ(ParseFlashCommand(T::SetLogo("l.png")).Kind, K::Logo);
}

TEST(FlashCommandParseTest, CommasInsideFieldsGoBackWhereTheyCameFrom) {
    TFlashCommand c = ParseFlashCommand(T::SetTextInfo("Hiding, now, via 1.2.3.4", 13421772));
    EXPECT_EQ(c.Text, "Hiding, now, via 1.2.3.4");
    EXPECT_EQ(c.Color, 0xCCCCCCu);

    c = ParseFlashCommand(T::SetIPInfo("Local", "True", "\\a,b\\US.PNG", "8.8.8.8", "United States",
                                       "Washington, D.C.", "100", "60"));
    EXPECT_EQ(c.Flag, "\\a,b\\US.PNG") << "the address marks the end of the flag path";
    EXPECT_EQ(c.IP, "8.8.8.8");
    EXPECT_EQ(c.Country, "United States");
    EXPECT_EQ(c.City, "Washington, D.C.");
    EXPECT_EQ(c.Alpha, 100);
    EXPECT_EQ(c.Scale, 60);

    // Without an address to go by, extra fields belong to the city.
    c = ParseFlashCommand("Target,True,f.png,,Nowhere,A,B,C,0,100");
    EXPECT_EQ(c.Flag, "f.png");
    EXPECT_EQ(c.Country, "Nowhere");
    EXPECT_EQ(c.City, "A,B,C");
    EXPECT_EQ(c.Alpha, 0);
}

TEST(FlashCommandParseTest, AnyFieldCountAndGarbageIsSafe) {
    // Every prefix of a full command, and far too many fields.
    const std::string full = "Local,True,f.png,1.2.3.4,Land,Town,40,90";
    for (std::size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE(full.substr(0, n));
        const TFlashCommand c = ParseFlashCommand(full.substr(0, n));
        EXPECT_EQ(c.Kind, n >= 5 ? K::IPInfo : K::Unknown);
    }
    EXPECT_EQ(ParseFlashCommand("Local").Alpha, std::nullopt) << "a missing number keeps what is shown";
    EXPECT_EQ(ParseFlashCommand("Local,True,f").Flag, "f");
    const TFlashCommand many = ParseFlashCommand(std::string(500, ','));
    EXPECT_EQ(many.Kind, K::Unknown);
    std::string longInfo = "Local";
    for (int i = 0; i < 300; ++i) {
        longInfo += ",x";
    }
    EXPECT_EQ(ParseFlashCommand(longInfo).Kind, K::IPInfo);
    EXPECT_EQ(ParseFlashCommand(longInfo).Alpha, std::nullopt);

    EXPECT_EQ(ParseFlashCommand("").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("Nonsense,1,2").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("Turn").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("Turn,Sideways").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("Fade,Target,up,50").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("Fade,Both,in,50").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("A,1,2").Kind, K::Unknown);
    EXPECT_EQ(ParseFlashCommand("turn,target").Kind, K::Turn) << "names in any letter case";

    // Percentages are clamped; what is not a number is left out.
    EXPECT_EQ(ParseFlashCommand("LocalA,250,-40").Alpha, 100);
    EXPECT_EQ(ParseFlashCommand("LocalA,250,-40").Scale, 0);
    EXPECT_EQ(ParseFlashCommand("TargetA,99999999999999999999999,x").Alpha, 100);
    EXPECT_EQ(ParseFlashCommand("TargetA,99999999999999999999999,x").Scale, std::nullopt);
    EXPECT_EQ(ParseFlashCommand("TargetA,5.5,").Alpha, std::nullopt);
    EXPECT_EQ(ParseFlashCommand("Fade,Target,in,abc").FadeMax, 100)
        << "a fade without a limit runs to its end";
    EXPECT_EQ(ParseFlashCommand("Fade,Target,out").FadeMax, 0);
    EXPECT_EQ(ParseFlashCommand("Fade,Target,in,400").FadeMax, 100);

    // A colour is a 32-bit number; anything else is part of the text.
    EXPECT_EQ(ParseFlashCommand("Info_Text,a,-1").Color, 0xFFFFFFu);
    TFlashCommand c = ParseFlashCommand("Info_Text,a,4294967296");
    EXPECT_EQ(c.Color, std::nullopt);
    EXPECT_EQ(c.Text, "a,4294967296");
    c = ParseFlashCommand("Info_Text,just text");
    EXPECT_EQ(c.Text, "just text");
    EXPECT_EQ(c.Color, std::nullopt);
    c = ParseFlashCommand("Info_Text2");
    EXPECT_EQ(c.Kind, K::TextInfo2);
    EXPECT_EQ(c.Text, "");
}

TEST(FlashMovieTest, ReadsTheLookAndKeepsDefaultsForWhatIsMissingOrWrong) {
    const TFlashMovie defaults;
    const TFlashMovie m = ReadFlashMovie(
        "[Movie]\r\nWidth=300\r\nHeight=0\r\nFont=Serif\r\n"
        "[Colors]\r\nAccent=#102030\r\nCard=#80FFFFFF\r\nText=red\r\nMuted=#12345\r\nLink=#GG0000\r\n"
        "[Texts]\r\nLocalCaption=Here\r\nCheckCaption=\r\n"
        "[Timing]\r\nFadeMs=0\r\nTurnMs=-5\r\nAlphaMs=99999999\r\n");
    EXPECT_EQ(m.Width, 300);
    EXPECT_EQ(m.Height, defaults.Height);
    EXPECT_EQ(m.Font, "Serif");
    EXPECT_EQ(m.Accent, 0xFF102030u);
    EXPECT_EQ(m.Card, 0x80FFFFFFu);
    EXPECT_EQ(m.Text, defaults.Text);
    EXPECT_EQ(m.Muted, defaults.Muted);
    EXPECT_EQ(m.Link, defaults.Link);
    EXPECT_EQ(m.LocalCaption, "Here");
    EXPECT_EQ(m.CheckCaption, "");
    EXPECT_EQ(m.TargetCaption, defaults.TargetCaption);
    EXPECT_EQ(m.FadeMs, 0);
    EXPECT_EQ(m.TurnMs, defaults.TurnMs);
    EXPECT_EQ(m.AlphaMs, 10000);
    EXPECT_EQ(ReadFlashMovie("\xFF\xFE garbage").Width, defaults.Width);
}

}  // namespace
}  // namespace cloakline::test
