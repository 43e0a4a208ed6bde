#include "HttpClient.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace talvern::test {

namespace {

HttpReply noReply() {
    HttpReply none;
    none.result(0);
    return none;
}

}  // namespace

template <class Start>
boost::system::error_code HttpClient::await(Start start) {
    boost::system::error_code result = asio::error::timed_out;
    beast::get_lowest_layer(m_socket).expires_after(m_timeout);
    start([&result](boost::system::error_code ec, auto&&...) { result = ec; });
    m_io.restart();
    m_io.run();
    return result;
}

HttpClient::HttpClient(std::uint16_t port, const Options& options) : m_timeout(options.timeout) {
    boost::system::error_code ec;
    auto& tls = m_socket.next_layer();
    if (!options.trustedCertificates.empty()) {
        m_tls.load_verify_file(options.trustedCertificates, ec);
        tls.set_verify_mode(asio::ssl::verify_peer);
        tls.set_verify_callback(asio::ssl::host_name_verification(options.expectedHost));
    }
    const asio::ip::tcp::endpoint agent(asio::ip::address_v4::loopback(), port);
    if (!ec) {
        ec = await([&](auto done) { beast::get_lowest_layer(m_socket).async_connect(agent, done); });
    }
    if (!ec) {
        ec = await([&](auto done) { tls.async_handshake(asio::ssl::stream_base::client, done); });
    }
    m_error = ec ? ec.message() : "";
}

std::vector<std::string> HttpClient::peerChain() {
    std::vector<std::string> subjects;
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(m_socket.next_layer().native_handle());
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
        char subject[256];
        subjects.emplace_back(
            X509_NAME_oneline(X509_get_subject_name(sk_X509_value(chain, i)), subject, 256));
    }
    return subjects;
}

HttpReply HttpClient::request(const std::string& method, const std::string& path, const std::string& body,
                              const Headers& headers) {
    http::request<http::string_body> request;
    request.method_string(method);
    request.target(path);
    request.set(http::field::host, "127.0.0.1");
    for (const auto& [name, value] : headers) {
        request.set(name, value);
    }
    request.body() = body;
    request.prepare_payload();
    http::response_parser<http::string_body> reply;
    reply.skip(method == "HEAD");  // the head alone, whatever it announces
    auto& stream = m_socket.next_layer();
    if (!connected() || await([&](auto done) { http::async_write(stream, request, done); }) ||
        await([&](auto done) { http::async_read(stream, m_buffer, reply, done); })) {
        return noReply();
    }
    return reply.release();
}

HttpReply HttpClient::upgrade(const std::string& path, const Headers& headers) {
    m_socket.set_option(websocket::stream_base::decorator([headers](websocket::request_type& request) {
        for (const auto& [name, value] : headers) {
            request.set(name, value);
        }
    }));
    HttpReply reply;
    const auto ec = await([&](auto done) { m_socket.async_handshake(reply, "127.0.0.1", path, done); });
    return !connected() || (ec && ec != websocket::error::upgrade_declined) ? noReply() : reply;
}

bool HttpClient::sendText(const std::string& text) {
    return !await([&](auto done) { m_socket.async_write(asio::buffer(text), done); });
}

std::string HttpClient::readText() {
    beast::flat_buffer message;
    const bool read = !await([&](auto done) { m_socket.async_read(message, done); });
    return read ? beast::buffers_to_string(message.data()) : "";
}

}  // namespace talvern::test
