#pragma once

#include <curl/curl.h>

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

}  // namespace cloakline::server::test
