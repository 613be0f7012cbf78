// The loopback HTTP client (platform/ext/loopclient.h): one request on its own connection, over
// Boost.Beast on an Asio context of the call's own, under one deadline.
#include "platform/ext/loopclient.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace talrec::platform {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

std::optional<HttpResponse> LoopbackRequest(std::uint16_t port, const HttpRequest& request,
                                            std::chrono::milliseconds timeout, std::string& error) {
    boost::asio::io_context io;
    beast::tcp_stream stream(io);
    const tcp::endpoint peer(boost::asio::ip::make_address("127.0.0.1"), port);
    http::request<http::string_body> out(http::string_to_verb(request.method), request.target, 11);
    for (const auto& [name, value] : request.headers) out.set(name, value);
    out.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    out.set(http::field::connection, "close");
    out.body() = request.body;
    out.prepare_payload();
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(1024 * 1024);
    beast::error_code failure;
    stream.expires_after(timeout);
    stream.async_connect(peer, [&](beast::error_code ec) {
        if (ec) {
            failure = ec;
            return;
        }
        http::async_write(stream, out, [&](beast::error_code ec, std::size_t) {
            if (ec) {
                failure = ec;
                return;
            }
            http::async_read(stream, buffer, parser,
                             [&](beast::error_code ec, std::size_t) { failure = ec; });
        });
    });
    io.run();
    if (failure) {
        error = "127.0.0.1:" + std::to_string(port) + ": " + failure.message();
        return std::nullopt;
    }
    HttpResponse response;
    response.status = static_cast<int>(parser.get().result_int());
    for (const auto& field : parser.get()) {
        response.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    response.body = parser.get().body();
    return response;
}

}  // namespace talrec::platform
