#pragma once

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

namespace cloakline::server::test {

struct TFetched {
    long Status = 0;
    std::string Body;
    // -1 when the answer announced no length.
    long long ContentLength = -1;
    std::string ContentType;
    bool Ok = false;  // a complete HTTP answer arrived
};

struct TFetchOptions {
    // Local address the request leaves from, such as "127.0.0.21".
    std::string Interface;
    std::string Method;  // empty: GET
    std::string Body;
    bool SendBody = false;
};

// One request with libcurl, never through a proxy, at most 10 seconds.
inline TFetched Fetch(const std::string& url, const TFetchOptions& options = {}) {
    TFetched out;
    CURL* curl = curl_easy_init();
    if (!curl) {
        return out;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t size, std::size_t count, void* user) {
            static_cast<std::string*>(user)->append(data, size * count);
            return size * count;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.Body);
    if (!options.Interface.empty()) {
        curl_easy_setopt(curl, CURLOPT_INTERFACE, options.Interface.c_str());
    }
    if (options.SendBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.Body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(options.Body.size()));
    }
    if (!options.Method.empty()) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, options.Method.c_str());
    }
    out.Ok = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.Status);
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    out.ContentLength = static_cast<long long>(length);
    char* type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    out.ContentType = type ? type : "";
    curl_easy_cleanup(curl);
    return out;
}

// A socket to port from the local address from, every wait bounded; -1 when
// it cannot connect.
inline int ConnectFrom(const std::string& from, int port, int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        close(fd);
        return -1;
    }
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return fd;
}

}  // namespace cloakline::server::test
