#include "web_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "request_target.h"
#include "web_assets.h"

namespace quillon::cli::serve {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// Everything a client can make the server hold is bounded, and checked
// before the token is: the request line and header lines together, the
// time from connecting (or from the last answer) until the request is in,
// the body (declared or chunked), the connections open at once.
constexpr size_t kMaxHeaderBytes = 16 * 1024;
constexpr size_t kMaxHeaderLines = 64;
constexpr size_t kMaxBodyBytes = 64 * 1024;
constexpr size_t kReadBuffer = 32 * 1024;  // holds a whole header
constexpr size_t kMaxConnections = 512;
constexpr int kBacklog = 512;
constexpr auto kRequestDeadline = std::chrono::seconds(10);
constexpr auto kWriteDeadline = std::chrono::seconds(10);
constexpr auto kEventKeepAlive = std::chrono::seconds(15);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// After a refusal the rest of what the client sends is read and dropped for
// a moment, so that it sees the answer instead of a reset connection.
constexpr size_t kMaxDrainBytes = 256 * 1024;
constexpr auto kDrainTime = std::chrono::milliseconds(500);

const char* const kSecurityHeaders =
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Content-Security-Policy: default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
    "form-action 'none'\r\n";

void addSecurityHeaders(http::response<http::string_body>& res) {
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("X-Frame-Options", "DENY");
    res.set("Referrer-Policy", "no-referrer");
    res.set("Content-Security-Policy",
            "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'none'");
}

bool assetName(std::string_view path) {
    if (path.size() < 2 || path[0] != '/') return false;
    for (char c : path.substr(1))
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-'))
            return false;
    return true;
}

std::string_view plain(beast::string_view view) {
    return {view.data(), view.size()};
}

void log(const std::string& method, const std::string& path, int status) {
    std::fprintf(stderr, "%s %s %d\n", method.c_str(), path.c_str(), status);
    std::fflush(stderr);
}

}  // namespace

class Session;

struct WebServer::Impl {
    explicit Impl(ApiRoutes& api) : api(api) {}

    void accept();
    void refuseConnection(tcp::socket& socket);
    void closeAll();

    ApiRoutes& api;
    const AccessGuard* guard = nullptr;
    // Sessions may end on any thread (the module's thread can hold the last
    // reference to one while its answer is on the way).
    std::mutex mutex;
    std::map<Session*, std::weak_ptr<Session>> sessions;
    bool stopping = false;  // the serving thread only
    // Last, so that handlers still queued go before the rest.
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    net::steady_timer retry{ioc};
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, WebServer::Impl& server)
        : stream_(std::move(socket)), buffer_(kReadBuffer), server_(server), timer_(server.ioc) {}

    ~Session() {
        if (events_) hub_->close(events_);
        std::lock_guard lock(server_.mutex);
        server_.sessions.erase(this);
    }

    void start() {
        {
            std::lock_guard lock(server_.mutex);
            server_.sessions.emplace(this, weak_from_this());
        }
        readRequest();
    }

    void close() {
        timer_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

  private:
    void readRequest() {
        parser_.emplace();
        parser_->header_limit(kMaxHeaderBytes);
        parser_->body_limit(kMaxBodyBytes);
        // From connecting, or from the last answer on a kept connection:
        // a client sending its header slowly is cut off all the same.
        stream_.expires_after(kRequestDeadline);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec) {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return refuse(431, "the request header is over 16 KiB");
        if (ec == http::error::body_limit) return refuse(413, "the request body is over 64 KiB");
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == net::error::operation_aborted || ec == net::error::connection_reset ||
            ec == net::error::eof)
            return close();
        if (ec) return refuse(400, "malformed request");
        handle();
    }

    // Answers, then ends the connection: what was sent is not read further.
    void refuse(int status, const std::string& text) {
        keepAlive_ = false;
        if (parser_ && parser_->is_header_done()) {
            method_ = std::string(parser_->get().method_string());
            logPath_ =
                loggable(splitTarget(plain(parser_->get().target())).path, server_.guard->token());
        }
        finish(errorReply(status, text));
    }

    void handle() {
        http::request<http::string_body>& req = parser_->get();
        method_ = std::string(req.method_string());
        RequestTarget target = splitTarget(plain(req.target()));
        logPath_ = loggable(target.path, server_.guard->token());
        keepAlive_ = req.keep_alive();
        head_ = req.method() == http::verb::head;
        if (static_cast<size_t>(std::distance(req.begin(), req.end())) > kMaxHeaderLines)
            return finish(errorReply(400, "too many header lines"));
        const AccessGuard& guard = *server_.guard;
        std::optional<std::string> origin;
        if (req.count(http::field::origin) != 0) origin = std::string(req[http::field::origin]);
        if (auto why = guard.refuseOrigin(std::string(req[http::field::host]), origin))
            return finish(errorReply(403, *why));
        const std::string& path = target.path;
        if (path.rfind("/api/", 0) == 0) {
            if (!guard.authorized(std::string(req[http::field::authorization]),
                                  std::string(req[http::field::cookie])))
                return finish(
                    errorReply(401, "a valid token is needed (the link `quillon serve` printed)"));
            if (path == "/api/events" && req.method() == http::verb::get)
                return openEvents(server_.api.moduleOf(target.query));
            ApiRequest api{method_, path, std::move(target.query), std::move(req.body())};
            net::io_context& ioc = server_.ioc;
            server_.api.handle(api, [self = shared_from_this(), &ioc](Reply reply) {
                net::post(ioc, [self, reply = std::move(reply)]() mutable {
                    self->finish(std::move(reply));
                });
            });
            return;
        }
        if (req.method() != http::verb::get && !head_)
            return finish(errorReply(405, "use GET for the page"));
        if (path == "/" && target.query.count("token") != 0) {
            if (!sameText(target.query["token"], guard.token()))
                return finish(errorReply(401, "this token is not the one `quillon serve` printed"));
            // The token moves into a cookie and out of the address bar and history.
            Reply reply{303, "", "text/plain", ""};
            extra_ = {{"Set-Cookie", guard.cookieName() + "=" + guard.token() +
                                         "; Path=/; HttpOnly; SameSite=Strict"},
                      {"Location", "/"}};
            return finish(std::move(reply));
        }
        const WebAsset* asset = path == "/" || assetName(path) ? findWebAsset(path) : nullptr;
        if (asset == nullptr) return finish(errorReply(404, "no such path"));
        finish(Reply{200, std::string(reinterpret_cast<const char*>(asset->data), asset->size),
                     asset->contentType, ""});
    }

    void finish(Reply reply) {
        if (server_.stopping) return;
        const bool keep = keepAlive_ && !server_.stopping;
        log(method_.empty() ? "-" : method_, logPath_.empty() ? "-" : logPath_, reply.status);
        response_ = {};
        response_.version(11);
        response_.result(static_cast<unsigned>(reply.status));
        addSecurityHeaders(response_);
        response_.set(http::field::content_type, reply.contentType);
        if (!reply.fileName.empty())
            response_.set(http::field::content_disposition,
                          "attachment; filename=\"" + reply.fileName + "\"");
        for (const auto& [name, value] : extra_) response_.set(name, value);
        extra_.clear();
        response_.keep_alive(keep);
        const size_t size = reply.body.size();
        response_.body() = std::move(reply.body);
        response_.prepare_payload();
        if (head_) {
            response_.body().clear();
            response_.content_length(size);
        }
        stream_.expires_after(kWriteDeadline);
        http::async_write(stream_, response_,
                          [self = shared_from_this(), keep](beast::error_code ec, size_t) {
                              if (ec) return self->close();
                              if (keep) return self->readRequest();
                              self->drainThenClose();
                          });
    }

    void drainThenClose() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kDrainTime);
        drain();
    }

    void drain() {
        stream_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ > kMaxDrainBytes) return self->close();
                                    self->drain();
                                });
    }

    // The event stream: the current state first, then every event as the hub
    // has it, and a comment now and then that finds clients that are gone.
    void openEvents(ModuleService* module) {
        if (module == nullptr) return finish(errorReply(404, "no such module"));
        std::weak_ptr<Session> weak = weak_from_this();
        net::io_context& ioc = server_.ioc;
        hub_ = &module->events();
        events_ = hub_->open([weak, &ioc] {
            net::post(ioc, [weak] {
                if (auto self = weak.lock()) self->pumpEvents();
            });
        });
        if (!events_) return finish(errorReply(503, "too many event streams are open"));
        log(method_, logPath_, 200);
        std::string head = std::string("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n") +
                           kSecurityHeaders + "Connection: close\r\n\r\n";
        writeEvents(head + "retry: 2000\nevent: status\ndata: " +
                    module->state().dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n");
        // Whatever the client sends now, or its leaving, ends the stream.
        stream_.expires_never();
        stream_.socket().async_read_some(
            net::buffer(scratch_),
            [self = shared_from_this()](beast::error_code, size_t) { self->close(); });
        keepAlive();
    }

    void keepAlive() {
        timer_.expires_after(kEventKeepAlive);
        timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
            if (ec) return;
            if (!self->writing_) self->writeEvents(":\n\n");
            self->keepAlive();
        });
    }

    void pumpEvents() {
        if (writing_ || !events_) return;
        std::optional<std::string> text = hub_->take(*events_);
        if (!text) return close();
        if (!text->empty()) writeEvents(std::move(*text));
    }

    void writeEvents(std::string text) {
        writing_ = true;
        out_ = std::move(text);
        stream_.expires_after(kWriteDeadline);
        net::async_write(stream_, net::buffer(out_),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             self->writing_ = false;
                             if (ec) return self->close();
                             self->pumpEvents();
                         });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    WebServer::Impl& server_;
    net::steady_timer timer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
    std::vector<std::pair<std::string, std::string>> extra_;
    std::string method_, logPath_;
    bool keepAlive_ = false;
    bool head_ = false;
    std::array<char, 4096> scratch_{};
    size_t drained_ = 0;
    EventHub* hub_ = nullptr;
    std::shared_ptr<EventHub::Stream> events_;
    std::string out_;
    bool writing_ = false;
};

void WebServer::Impl::refuseConnection(tcp::socket& socket) {
    // One short answer on a fresh socket fits its send buffer: no waiting.
    static const std::string kFull =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
        "Connection: close\r\nContent-Length: 42\r\n\r\n{\"error\":\"too many connections are "
        "open\"}";
    beast::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(net::buffer(kFull), ignored);
    socket.close(ignored);
}

void WebServer::Impl::accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (stopping || ec == net::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors, most likely: try again shortly.
            retry.expires_after(kAcceptRetry);
            retry.async_wait([this](beast::error_code ec) {
                if (!ec) accept();
            });
            return;
        }
        size_t open = 0;
        {
            std::lock_guard lock(mutex);
            open = sessions.size();
        }
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        if (open >= kMaxConnections)
            refuseConnection(socket);
        else
            std::make_shared<Session>(std::move(socket), *this)->start();
        accept();
    });
}

void WebServer::Impl::closeAll() {
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(mutex);
        for (auto& [raw, weak] : sessions)
            if (auto session = weak.lock()) open.push_back(std::move(session));
    }
    for (auto& session : open) session->close();
}

WebServer::WebServer(ApiRoutes& api) : impl_(std::make_unique<Impl>(api)) {}

WebServer::~WebServer() = default;

int WebServer::bind(const std::string& address, int port) {
    beast::error_code ec;
    const net::ip::address ip = net::ip::make_address(address, ec);
    if (ec) return -1;
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    tcp::acceptor& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    // SO_REUSEADDR only: a second server on the same port must fail
    // instead of sharing this one's connections.
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(kBacklog, ec);
    if (ec) return -1;
    return acceptor.local_endpoint().port();
}

void WebServer::serve(const AccessGuard& guard) {
    impl_->guard = &guard;
    impl_->accept();
    impl_->ioc.run();
}

void WebServer::stop() {
    net::post(impl_->ioc, [impl = impl_.get()] {
        impl->stopping = true;
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->retry.cancel();
        impl->closeAll();
        impl->ioc.stop();
    });
}

}  // namespace quillon::cli::serve
