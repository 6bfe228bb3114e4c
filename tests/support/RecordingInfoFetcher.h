#pragma once

#include <string>
#include <vector>

#include "core/proxy/InfoFetcher.h"

namespace cloakline::test {

// Keeps each request so that the test can answer it later, as the main
// thread would once the worker hands the body over.
class RecordingInfoFetcher : public IInfoFetcher {
  public:
    struct Request {
        std::string Url;
        TOnInfoGot OnInfoGot;
    };
    void Fetch(const std::string& url, TOnInfoGot onInfoGot) override {
        Requests.push_back({url, std::move(onInfoGot)});
    }
    std::vector<Request> Requests;
};

}  // namespace cloakline::test
