#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/support/StringList.h"
#include "platform/api/FileSystem.h"

namespace cloakline {

// How the bytes of a text answer spell its text.
enum class THttpCharset {
    KAnsi = 0,     // Windows-1252
    KUnicode = 1,  // UTF-16LE as it stands
    KUTF8 = 2,
};

// The program's UTF-8 text of an answer's bytes. An odd last byte of UTF-16
// is dropped, ill-formed UTF-8 becomes U+FFFD; a byte-order mark is kept.
std::string DecodeHttpText(std::string_view bytes, THttpCharset charset);

// Trace lines and header texts of a request.
inline constexpr std::string_view kLogParseURL = "ParseURL: ";
inline constexpr std::string_view kLogOpenRequestOk = "HttpOpenRequest ok!";
inline constexpr std::string_view kLogOpenRequestFailed = "HttpOpenRequest failed!";
inline constexpr std::string_view kFormContentType = "Content-Type: application/x-www-form-urlencoded";
inline constexpr std::string_view kMultipartBoundary = "---------------------------989989989";
inline constexpr std::string_view kMultipartContentType = "Content-Type: multipart/form-data; boundary=";

// An address taken apart the way requests are sent.
struct TURLParts {
    bool Ssl = false;
    // Everything before the first "/" after the scheme, port included.
    std::string Authority;
    // Authority without the port.
    std::string Host;
    // From the first "/" on; the whole rest when there is none.
    std::string Object;
    // Written after the host, or the scheme's own.
    std::uint16_t Port = 80;

    // A host name or address that a request can go to, and a path.
    bool Usable() const;
};

// The scheme ("http://", then "https://") is matched without regard to case;
// an address without one is plain HTTP. A decimal port 1..65535 after the host
// (host:8080/x) is the port; anything else after a ":" stays in the host,
// which then is not usable.
TURLParts ParseURL(std::string_view url);

// The Accept header for the accepted type; "*" when none is given.
std::string AcceptHeader(std::string_view acceptTypes);

// name=value lines to "n1=v1&n2=v2", each value FormEncoded, names unchanged.
std::string FormEncodedBody(const TStringList& values);

// A multipart/form-data body of values and files, byte for byte as the
// product's server expects it: a fixed boundary, values FormEncoded, files
// whole with a type line for a few extensions, a closing line and one byte 0.
class TFilePostGen {
  public:
    // Either list may be absent. False, and nothing changed, when a listed
    // file cannot be read (at most maxFileBytes each).
    bool Make(const IFileSystem& files,
              const TStringList* slValues,
              const TStringList* slFiles,
              std::size_t maxFileBytes = 64u << 20);

    // The header line to send with the body, without a line end.
    const std::string& Headers() const { return FHeaders; }
    const std::string& PostData() const { return FPostData; }

  private:
    std::string FHeaders;
    std::string FPostData;
};

}  // namespace cloakline
