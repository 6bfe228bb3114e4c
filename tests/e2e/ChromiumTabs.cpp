#include "tests/e2e/ChromiumTabs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <exception>
#include <filesystem>
#include <stdexcept>

namespace cloakline::test {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using asio::awaitable;
using asio::use_awaitable;

// What the tab shows, as JSON; empty while its document is still loading.
// The tab starts on about:blank, which counts as not loaded yet.
constexpr const char* kReadTab =
    "(() => { if (document.readyState !== 'complete' || location.href === 'about:blank') return '';"
    " const navigation = performance.getEntriesByType('navigation')[0];"
    " return JSON.stringify({url: location.href, status: navigation ? navigation.responseStatus : 0,"
    " html: document.documentElement.outerHTML}); })()";

tcp::endpoint DevTools(int port) {
    return {asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)};
}

QJsonObject ParseObject(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

// One request to the DevTools HTTP endpoint; answers the body of a 200.
awaitable<std::string> DevToolsRequest(int port, http::verb verb, std::string target) {
    tcp::socket socket(co_await asio::this_coro::executor);
    co_await socket.async_connect(DevTools(port), use_awaitable);
    http::request<http::empty_body> request{verb, target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    co_await http::async_write(socket, request, use_awaitable);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    co_await http::async_read(socket, buffer, response, use_awaitable);
    if (response.result() != http::status::ok) {
        throw std::runtime_error("DevTools answered " + std::to_string(response.result_int()) + " to " +
                                 target + ": " + response.body());
    }
    co_return response.body();
}

awaitable<void> LoadInTab(int port, std::string url, TTabView& view, std::string& tabId) {
    const QJsonObject tab = ParseObject(co_await DevToolsRequest(port, http::verb::put, "/json/new?" + url));
    tabId = tab.value("id").toString().toStdString();
    if (tabId.empty()) {
        throw std::runtime_error("DevTools opened no tab");
    }
    const auto executor = co_await asio::this_coro::executor;
    websocket::stream<tcp::socket> session(executor);
    co_await session.next_layer().async_connect(DevTools(port), use_awaitable);
    co_await session.async_handshake("127.0.0.1:" + std::to_string(port), "/devtools/page/" + tabId,
                                     use_awaitable);
    session.text(true);
    asio::steady_timer pause(executor);
    for (int id = 1;; ++id) {
        const QJsonObject params{{"expression", kReadTab}, {"returnByValue", true}};
        const QJsonObject command{{"id", id}, {"method", "Runtime.evaluate"}, {"params", params}};
        const std::string text = QJsonDocument(command).toJson(QJsonDocument::Compact).toStdString();
        co_await session.async_write(asio::buffer(text), use_awaitable);
        QJsonObject answer;
        do {
            beast::flat_buffer buffer;
            co_await session.async_read(buffer, use_awaitable);
            answer = ParseObject(beast::buffers_to_string(buffer.data()));
        } while (answer.value("id").toInt() != id);
        const std::string shown = answer.value("result")
                                      .toObject()
                                      .value("result")
                                      .toObject()
                                      .value("value")
                                      .toString()
                                      .toStdString();
        if (!shown.empty()) {
            const QJsonObject page = ParseObject(shown);
            view.Url = page.value("url").toString().toStdString();
            view.Status = page.value("status").toInt();
            view.Html = page.value("html").toString().toStdString();
            view.IP = SpanText(view.Html, "ip");
            view.Country = SpanText(view.Html, "country");
            view.Loaded = true;
            break;
        }
        pause.expires_after(std::chrono::milliseconds(30));
        co_await pause.async_wait(use_awaitable);
    }
    boost::system::error_code ignored;
    co_await session.async_close(websocket::close_code::normal, asio::redirect_error(use_awaitable, ignored));
}

// Runs the context in short slices with the main thread's events between
// them, until done or the time is up.
bool RunWithEvents(asio::io_context& io, const bool& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < timeoutMs) {
        io.run_for(std::chrono::milliseconds(10));
        if (io.stopped()) {
            io.restart();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done;
}

}  // namespace

TRunningChromium::TRunningChromium(const std::string& chromium,
                                   const std::string& profileFolder,
                                   const std::string& logFile)
    : FPort(FreeLoopbackPort()) {
    std::filesystem::remove_all(profileFolder);
    FProcess = std::make_unique<TChildProcess>(
        chromium,
        std::vector<std::string>{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                 "--no-first-run", "--disable-background-networking",
                                 "--disable-component-update", "--disable-sync",
                                 "--user-data-dir=" + profileFolder,
                                 "--remote-debugging-port=" + std::to_string(FPort), "about:blank"},
        logFile);
}

TRunningChromium::~TRunningChromium() = default;

bool TRunningChromium::WaitReady(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (FProcess->Started() && FProcess->Running() && timer.elapsed() < timeoutMs) {
        asio::io_context io;
        bool done = false;
        bool answered = false;
        asio::co_spawn(
            io,
            [this, &answered]() -> awaitable<void> {
                co_await DevToolsRequest(FPort, http::verb::get, "/json/version");
                answered = true;
            },
            [&done](std::exception_ptr) { done = true; });
        RunWithEvents(io, done, 2000);
        if (answered) {
            return true;
        }
        PumpFor(100);
    }
    return false;
}

TTabView TRunningChromium::Open(const std::string& url, int timeoutMs) {
    TTabView view;
    std::string tabId;
    {
        asio::io_context io;
        bool done = false;
        asio::co_spawn(io, LoadInTab(FPort, url, view, tabId), [&done, &view](std::exception_ptr error) {
            done = true;
            if (error) {
                view.Failure = Describe(error);
            }
        });
        if (!RunWithEvents(io, done, timeoutMs)) {
            view.Failure = "the tab had not loaded after " + std::to_string(timeoutMs) + " ms";
        }
    }
    if (!tabId.empty()) {
        asio::io_context io;
        bool done = false;
        asio::co_spawn(io, DevToolsRequest(FPort, http::verb::get, "/json/close/" + tabId),
                       [&done](std::exception_ptr, std::string) { done = true; });
        RunWithEvents(io, done, 2000);
    }
    return view;
}

}  // namespace cloakline::test
