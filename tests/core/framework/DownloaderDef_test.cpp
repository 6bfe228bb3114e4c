#include "core/framework/DownloaderDef.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

TEST(ParseURLTest, SchemeCaseHostPortAndPath) {
    struct TCase {
        std::string Url;
        bool Ssl;
        std::string Host;
        std::uint16_t Port;
        std::string Object;
        bool Usable;
    };
    const TCase cases[] = {
        {"HTTPS://Server.Example/a/B?x=1", true, "Server.Example", 443, "/a/B?x=1", true},
        {"server.example/path", false, "server.example", 80, "/path", true},
        {"http://host:8080/x", false, "host", 8080, "/x", true},
        {"https://[::1]:8443/", true, "[::1]", 8443, "/", true},
        {"http://[::1]/", false, "[::1]", 80, "/", true},
        {"http://host:99999/x", false, "host:99999", 80, "/x", false},  // not a port
        {"http://host", false, "", 80, "host", false},                  // no server name
        {"http://us@er.example/x", false, "us@er.example", 80, "/x", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Url);
        const TURLParts parts = ParseURL(c.Url);
        EXPECT_EQ(parts.Ssl, c.Ssl);
        EXPECT_EQ(parts.Host, c.Host);
        EXPECT_EQ(parts.Port, c.Port);
        EXPECT_EQ(parts.Object, c.Object);
        EXPECT_EQ(parts.Usable(), c.Usable);
    }
}

TEST(HttpTextTest, EachCharsetDecodesAndKeepsAByteOrderMark) {
    EXPECT_EQ(DecodeHttpText("caf\xE9", THttpCharset::KAnsi), "caf\xC3\xA9");
    EXPECT_EQ(DecodeHttpText(std::string("\xFF\xFEh\0i\0!", 7), THttpCharset::KUnicode), "\xEF\xBB\xBFhi");
    EXPECT_EQ(DecodeHttpText("\xEF\xBB\xBFok\xFF", THttpCharset::KUTF8), "\xEF\xBB\xBFok\xEF\xBF\xBD");
}

TEST(RequestBodyTest, FormEncodedValues) {
    EXPECT_EQ(FormEncodedBody(TStringList{"a=x y", "b=1&2"}), "a=x+y&b=1%262");
    EXPECT_EQ(FormEncodedBody(TStringList{}), "");
    EXPECT_EQ(AcceptHeader(""), "Accept: *");
}

TEST(RequestBodyTest, MultipartBodyByteForByte) {
    test::TempDir dir;
    const std::string png("\x89PNG\0\r\n", 7);
    dir.WriteFile("pic.PNG", png);
    dir.WriteFile("notes.txt", "n");
    const std::string picPath = dir.ProgramPath("pic.PNG");
    const std::string txtPath = dir.ProgramPath("notes.txt");
    const LinuxFileSystem files;
    TFilePostGen gen;
    const TStringList values{"v=a b"};
    const TStringList fileList{"f=" + picPath, "g=" + txtPath, "e="};
    ASSERT_TRUE(gen.Make(files, &values, &fileList));

    const std::string b = "---------------------------989989989";
    const std::string expected =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\na+b\r\n" +  //
        "--" + b + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + picPath +
        "\"\r\nContent-Type: image/x-png\r\n\r\n" + png + "\r\n" +  //
        "--" + b + "\r\nContent-Disposition: form-data; name=\"g\"; filename=\"" + txtPath +
        "\"\r\n\r\nn\r\n" +  //
        "--" + b + "\r\nContent-Disposition: form-data; name=\"e\"; filename=\"\"\r\n" +
        "Content-Transfer-Encoding: binary\r\n\r\n" +  //
        "--" + b + "--\r\n" + std::string(1, '\0');
    EXPECT_EQ(gen.PostData(), expected);
    EXPECT_EQ(gen.Headers(), "Content-Type: multipart/form-data; boundary=" + b);

    // Without lists only the closing line; an unreadable file changes nothing.
    TFilePostGen bare;
    ASSERT_TRUE(bare.Make(files, nullptr, nullptr));
    EXPECT_EQ(bare.PostData(), "--" + b + "--\r\n" + std::string(1, '\0'));
    const TStringList missing{"f=" + dir.ProgramPath("missing.jpg")};
    EXPECT_FALSE(bare.Make(files, nullptr, &missing));
    EXPECT_EQ(bare.PostData(), "--" + b + "--\r\n" + std::string(1, '\0'));
}

}  // namespace
}  // namespace cloakline
