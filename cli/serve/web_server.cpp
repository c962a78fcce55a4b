#include "web_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "web_assets.h"

namespace quillon::cli::serve {
namespace {

// Bounds that keep one client from starving the others: request bodies,
// header lines, connections at once, and how long a silent client is waited for.
constexpr size_t kMaxBody = 64 * 1024;
constexpr size_t kMaxHeaders = 64;
constexpr size_t kWorkers = 48;     // connections served at once
constexpr size_t kMaxWaiting = 64;  // accepted connections waiting for a worker
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr auto kEventPoll = std::chrono::milliseconds(250);
constexpr auto kEventKeepAlive = std::chrono::seconds(15);

// A fixed set of workers with a bounded waiting line. When the line is full
// the accepting thread waits, so further connections stay in the kernel's
// backlog instead of in memory.
class BoundedPool : public httplib::TaskQueue {
  public:
    BoundedPool() {
        for (size_t i = 0; i < kWorkers; ++i) threads_.emplace_back([this] { work(); });
    }
    ~BoundedPool() override { shutdown(); }

    void enqueue(std::function<void()> fn) override {
        std::unique_lock lock(mutex_);
        roomLeft_.wait(lock, [this] { return stopping_ || waiting_.size() < kMaxWaiting; });
        waiting_.push_back(std::move(fn));
        jobReady_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && threads_.empty()) return;
            stopping_ = true;
        }
        jobReady_.notify_all();
        roomLeft_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

  private:
    void work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(mutex_);
                jobReady_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                if (waiting_.empty()) return;
                fn = std::move(waiting_.front());
                waiting_.pop_front();
            }
            roomLeft_.notify_one();
            fn();
        }
    }

    std::mutex mutex_;
    std::condition_variable jobReady_, roomLeft_;
    std::deque<std::function<void()>> waiting_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

void send(httplib::Response& res, const Reply& reply) {
    res.status = reply.status;
    if (!reply.fileName.empty())
        res.set_header("Content-Disposition", "attachment; filename=\"" + reply.fileName + "\"");
    res.set_content(reply.body, reply.contentType.c_str());
}

void sendError(httplib::Response& res, int status, const std::string& text) {
    send(res, errorReply(status, text));
}

// The JSON object a POST carries; a 400 is set on `res` when there is none.
std::optional<Json> bodyObject(const httplib::Request& req, httplib::Response& res) {
    Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        sendError(res, 400, "the request body must be a JSON object ({} when empty)");
        return std::nullopt;
    }
    return body;
}

const char* statusText(int status) {
    switch (status) {
        case 400:
            return "malformed request";
        case 404:
            return "no such path";
        case 413:
            return "the request body is over 64 KiB";
        case 414:
            return "the request line is too long";
        default:
            return "the request failed";
    }
}

}  // namespace

WebServer::WebServer(ModuleService& module, EventHub& events)
    : module_(module), events_(events), server_(std::make_unique<httplib::Server>()) {}

WebServer::~WebServer() = default;

int WebServer::bind(const std::string& address, int port) {
    // Without the library's default SO_REUSEPORT: a second server on the same
    // port must fail instead of sharing this one's connections.
    int listening = -1;
    server_->set_socket_options([&listening](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // Replies go out in two writes; the second must not wait for the
        // client's delayed acknowledgement of the first.
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        listening = sock;
    });
    const int bound = port == 0 ? server_->bind_to_any_port(address)
                                : (server_->bind_to_port(address, port) ? port : -1);
    // The library listens with a backlog of 5: connections beyond it would
    // wait a second for the SYN to be sent again while the workers start or
    // are all busy. Listening again only changes the backlog.
    if (bound >= 0 && listening >= 0) ::listen(listening, static_cast<int>(kMaxWaiting));
    return bound;
}

void WebServer::stop() {
    server_->stop();
}

void WebServer::serve(const AccessGuard& guard) {
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new BoundedPool(); };
    s.set_payload_max_length(kMaxBody);
    s.set_read_timeout(kReadTimeoutSeconds, 0);
    s.set_write_timeout(kWriteTimeoutSeconds, 0);
    s.set_keep_alive_timeout(kReadTimeoutSeconds);
    s.set_keep_alive_max_count(100);
    s.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'none'"},
    });
    s.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        // The path only: the query may hold the token.
        std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
        std::fflush(stderr);
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) sendError(res, res.status, statusText(res.status));
    });
    s.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            sendError(res, 400, "the request could not be handled");
        });
    s.set_pre_routing_handler([&guard](const httplib::Request& req, httplib::Response& res) {
        if (req.headers.size() > kMaxHeaders) {
            sendError(res, 400, "too many header lines");
            return httplib::Server::HandlerResponse::Handled;
        }
        std::optional<std::string> origin;
        if (req.has_header("Origin")) origin = req.get_header_value("Origin");
        if (auto why = guard.refuseOrigin(req.get_header_value("Host"), origin)) {
            sendError(res, 403, *why);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.path.rfind("/api/", 0) == 0 &&
            !guard.authorized(req.get_header_value("Authorization"),
                              req.get_header_value("Cookie"))) {
            sendError(res, 401, "a valid token is needed (the link `quillon serve` printed)");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    addRoutes(guard);
    s.listen_after_bind();
}

void WebServer::addRoutes(const AccessGuard& guard) {
    httplib::Server& s = *server_;
    using httplib::Request;
    using httplib::Response;
    ModuleService& module = module_;

    s.Get("/api/module",
          [&](const Request&, Response& res) { send(res, jsonReply(module.state())); });
    s.Get("/api/configurations",
          [&](const Request&, Response& res) { send(res, jsonReply(module.configurations())); });
    s.Get("/api/tables",
          [&](const Request&, Response& res) { send(res, jsonReply(module.tables())); });
    s.Get("/api/max-patterns", [&](const Request& req, Response& res) {
        send(res, module.maxPatterns(req.get_param_value("start_nm"), req.get_param_value("end_nm"),
                                     req.get_param_value("width"), req.get_param_value("type")));
    });
    s.Get("/api/download", [&](const Request& req, Response& res) {
        send(res, module.download(req.get_param_value("spectrum"), req.get_param_value("format")));
    });

    // Every POST carries a JSON object; the handlers take it parsed.
    const auto post = [&](const char* path, std::function<Reply(const Json&)> handle) {
        s.Post(path, [handle](const Request& req, Response& res) {
            if (auto body = bodyObject(req, res)) send(res, handle(*body));
        });
    };
    post("/api/scan", [&](const Json& body) { return module.scan(body); });
    post("/api/dark", [&](const Json&) { return module.capture("dark"); });
    post("/api/reference", [&](const Json&) { return module.capture("reference"); });
    post("/api/lamp", [&](const Json& body) { return module.lamp(body); });
    post("/api/activate", [&](const Json& body) { return module.activate(body); });
    post("/api/configurations", [&](const Json& body) { return module.addConfiguration(body); });
    post("/api/configurations/remove",
         [&](const Json& body) { return module.removeConfiguration(body); });
    post("/api/series", [&](const Json& body) { return module.startSeries(body); });
    post("/api/series/stop", [&](const Json&) { return module.stopSeries(); });

    s.Get("/api/events", [this](const Request&, Response& res) {
        std::shared_ptr<EventHub::Stream> stream = events_.open();
        if (!stream) {
            sendError(res, 503, "too many event streams are open");
            return;
        }
        // The stream starts with the current state, so a page never misses one.
        res.set_header("Connection", "close");  // no waiting for a next request at the end
        std::string first = "retry: 2000\nevent: status\ndata: " + module_.state().dump() + "\n\n";
        auto lastWrite = std::chrono::steady_clock::now();
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream, first, lastWrite](size_t, httplib::DataSink& sink) mutable {
                if (!first.empty()) {
                    const bool ok = sink.write(first.data(), first.size());
                    first.clear();
                    return ok;
                }
                std::optional<std::string> text = events_.next(*stream, kEventPoll);
                if (!text) {
                    sink.done();
                    return true;
                }
                const auto now = std::chrono::steady_clock::now();
                if (text->empty()) {
                    if (now - lastWrite < kEventKeepAlive) return true;
                    *text = ":\n\n";  // a comment: finds clients that are gone
                }
                lastWrite = now;
                return sink.write(text->data(), text->size());
            },
            [this, stream](bool) { events_.close(stream); });
    });

    s.Get("/", [&guard](const Request& req, Response& res) {
        if (req.has_param("token")) {
            if (!sameText(req.get_param_value("token"), guard.token())) {
                sendError(res, 401, "this token is not the one `quillon serve` printed");
                return;
            }
            // The token moves into a cookie and out of the address bar and history.
            res.set_header("Set-Cookie", guard.cookieName() + "=" + guard.token() +
                                             "; Path=/; HttpOnly; SameSite=Strict");
            res.set_redirect("/", 303);
            return;
        }
        const WebAsset* page = findWebAsset("/");
        res.set_content(reinterpret_cast<const char*>(page->data), page->size, page->contentType);
    });
    s.Get(R"(/[A-Za-z0-9_.-]+)", [](const Request& req, Response& res) {
        const WebAsset* asset = findWebAsset(req.path);
        if (asset == nullptr) {
            sendError(res, 404, "no such path");
            return;
        }
        res.set_content(reinterpret_cast<const char*>(asset->data), asset->size,
                        asset->contentType);
    });
}

}  // namespace quillon::cli::serve
