#include "HttpServer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "HttpFile.h"
#include "WorkerPool.h"

namespace rivlo::collector {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using beast::error_code;

namespace {

// After an answer that closes the connection, what the client still sends is read and dropped
// for a moment, so it sees the answer rather than a reset caused by unread bytes.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr uint64_t kLingerBytes = 4ull << 20;
constexpr size_t kChunkBytes = 64 * 1024;

std::string text(beast::string_view view) {
    return std::string(view.data(), view.size());
}

std::string lower(std::string value) {
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return value;
}

// Control characters of client text become '?' in log lines, and long texts are cut.
std::string printable(const std::string& value) {
    std::string out = value.substr(0, 200);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    return value.size() > 200 ? out + "..." : out;
}

}  // namespace

// What the server's registry knows of a connection; the calls post to its strand.
class ConnectionBase {
  public:
    virtual ~ConnectionBase() = default;
    virtual void serverStopping() = 0;
    virtual void forceClose() = 0;
};

struct HttpServer::Impl {
    Impl(HttpLimits l, HttpRouter r, Log lg)
        : limits(std::move(l)), router(std::move(r)), log(std::move(lg)) {}

    HttpLimits limits;
    HttpRouter router;
    Log log;
    WorkerPool pool;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::map<ConnectionBase*, std::weak_ptr<ConnectionBase>> connections;
    std::map<std::string, size_t> perAddress;
    size_t admitted = 0;
    std::atomic<bool> stopping{false};
    bool started = false;
    bool stopped = false;
    std::atomic<int64_t> lastCapLog{0};
    std::atomic<int> boundPort{0};
    std::unique_ptr<asio::ssl::context> tls;

    // Declared last: destroyed first, with whatever handlers it still holds, while the
    // members above (which connection destructors touch) are alive.
    asio::io_context ioc;
    std::optional<asio::strand<asio::io_context::executor_type>> acceptStrand;
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> acceptRetry;
    std::vector<std::thread> ioThreads;

    void write(const std::string& line) const {
        if (log) log(line);
    }
    void accept();
    bool admit(const std::string& address);
    void enroll(const std::shared_ptr<ConnectionBase>& connection);
    void release(ConnectionBase* connection, const std::string& address);
    void refuseConnection(tcp::socket socket, const std::string& address, size_t open);
    std::vector<std::shared_ptr<ConnectionBase>> liveConnections() const;
    bool waitUntilNoConnections(std::chrono::milliseconds bound);
};

namespace {

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

template <class Stream>
class Connection : public ConnectionBase, public std::enable_shared_from_this<Connection<Stream>> {
  public:
    Connection(HttpServer::Impl& server, Stream stream, std::string address)
        : server_(server),
          limits_(server.limits),
          stream_(std::move(stream)),
          address_(std::move(address)),
          buffer_(server.limits.headerBytes + kChunkBytes),
          timer_(stream_.get_executor()) {}
    ~Connection() override {
        if (request_ && request_->sink) request_->sink->finish(false);
        server_.release(this, address_);
    }

    void run() {
        auto self = this->shared_from_this();
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            lowest().expires_after(limits_.headerTimeout);
            stream_.async_handshake(asio::ssl::stream_base::server, [self](error_code ec) {
                if (ec) return self->closeNow();
                self->readHead();
            });
        } else {
            asio::dispatch(stream_.get_executor(), [self] { self->readHead(); });
        }
    }

    void serverStopping() override {
        asio::post(stream_.get_executor(), [self = this->shared_from_this()] {
            self->stopSeen_ = true;
            if (self->waitingForHead_) return self->closeNow();
            if (self->delayed_) self->timer_.cancel();  // the held answer goes out now
        });
    }

    void forceClose() override {
        asio::post(stream_.get_executor(), [self = this->shared_from_this()] { self->closeNow(); });
    }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }
    std::string label() const {
        return route_ && !route_->label.empty() ? route_->label : "connection from " + address_;
    }

    void readHead() {
        if (server_.stopping || stopSeen_) return closeNow();
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(limits_.headerBytes));
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        request_.reset();
        route_ = nullptr;
        waitingForHead_ = true;
        lowest().expires_after(limits_.headerTimeout);
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](error_code ec, size_t) { self->onHead(ec); });
    }

    void onHead(error_code ec) {
        waitingForHead_ = false;
        if (ec == beast::error::timeout) {
            // An idle connection kept open between requests just ends; one that began a
            // request and did not finish its head is a slow or stuck client.
            if (buffer_.size() > 0) {
                server_.write("connection from " + address_ +
                              ": the request head did not arrive within " +
                              std::to_string(limits_.headerTimeout.count()) + " ms, closed");
            }
            return closeNow();
        }
        if (ec == http::error::end_of_stream || ec == asio::error::eof ||
            ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
            ec == asio::ssl::error::stream_truncated) {
            return closeNow();
        }
        if (ec == http::error::header_limit) {
            return refuse(
                431,
                "the request head is larger than " + std::to_string(limits_.headerBytes) + " bytes",
                "connection from " + address_ +
                    ": refused, the request head is larger "
                    "than " +
                    std::to_string(limits_.headerBytes) + " bytes");
        }
        if (ec) {
            return refuse(400, "malformed HTTP request",
                          "connection from " + address_ + ": malformed HTTP request (" +
                              ec.message() + "), answered 400");
        }
        auto& message = parser_->get();
        request_ = std::make_unique<HttpRequest>();
        HttpRequest& request = *request_;
        request.method = text(message.method_string());
        request.target = text(message.target());
        const size_t question = request.target.find('?');
        request.path = request.target.substr(0, question);
        if (question != std::string::npos) request.query = request.target.substr(question + 1);
        for (const auto& field : message)
            request.headers.emplace(lower(text(field.name_string())), text(field.value()));
        request.remoteAddress = address_;

        HttpRouter::Match match = server_.router.match(request.method, request.path);
        const std::string what = printable(request.method) + " " + printable(request.path);
        if (match.status == 404) {
            return refuse(404, "no such service: " + request.path, what + ": no such service");
        }
        if (match.status == 405) {
            return refuse(405, "method " + request.method + " not allowed",
                          what + ": method not allowed");
        }
        route_ = match.route;
        request.params = std::move(match.params);
        const std::string encoding = lower(request.header("content-encoding"));
        if (!encoding.empty() && encoding != "identity") {
            return refuse(415, "compressed bodies are not accepted",
                          label() + ": refused, compressed bodies (Content-Encoding \"" +
                              printable(encoding) + "\") are not accepted");
        }
        const uint64_t limit = route_->maxBodyBytes;
        if (auto declared = parser_->content_length(); declared && *declared > limit) {
            return refuseTooLarge();
        }
        parser_->body_limit(limit);
        if (route_->openBody) {
            HttpResponse refusal;
            request.sink = route_->openBody(request, refusal);
            if (!request.sink) {
                refusal.close = true;
                return answer(std::move(refusal));
            }
        }
        if (lower(request.header("expect")) == "100-continue" && !parser_->is_done()) {
            auto reply =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            lowest().expires_after(limits_.writeTimeout);
            http::async_write(stream_, *reply,
                              [self = this->shared_from_this(), reply](error_code e, size_t) {
                                  if (e) return self->abandonBody(), self->closeNow();
                                  self->startBody();
                              });
            return;
        }
        startBody();
    }

    void startBody() {
        bodyStart_ = Clock::now();
        received_ = 0;
        readBody();
    }

    void readBody() {
        if (parser_->is_done()) return bodyDone();
        auto& body = parser_->get().body();
        body.data = chunk_.data();
        body.size = chunk_.size();
        // The body keeps its deadline only by arriving at the minimum rate on average.
        auto allowed = limits_.bodyGrace;
        if (limits_.minBytesPerSecond > 0) {
            allowed += std::chrono::milliseconds(received_ * 1000 / limits_.minBytesPerSecond);
        } else {
            allowed = std::chrono::hours(24);
        }
        lowest().expires_at(bodyStart_ + allowed);
        http::async_read_some(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](error_code ec, size_t) { self->onBody(ec); });
    }

    void onBody(error_code ec) {
        const size_t got = chunk_.size() - parser_->get().body().size;
        if (ec == http::error::need_buffer) ec = {};
        if (got > 0) {
            received_ += got;
            if (request_->sink) {
                if (!request_->sink->write(chunk_.data(), got)) {
                    abandonBody();
                    return resetNow();
                }
            } else {
                request_->body.append(chunk_.data(), got);
            }
        }
        if (ec == http::error::body_limit) {
            abandonBody();
            return refuseTooLarge();
        }
        if (ec == beast::error::timeout) {
            abandonBody();
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - bodyStart_);
            server_.write(label() + ": refused, the body came slower than " +
                          std::to_string(limits_.minBytesPerSecond) + " bytes a second (" +
                          std::to_string(received_) + " bytes in " +
                          std::to_string(seconds.count()) + " s), closed");
            return closeNow();
        }
        if (ec) {
            abandonBody();
            server_.write(label() + ": refused, malformed or incomplete body (" +
                          std::to_string(received_) + " bytes read)");
            return closeNow();
        }
        readBody();
    }

    void abandonBody() {
        if (request_ && request_->sink) {
            request_->sink->finish(false);
            request_->sink.reset();
        }
    }

    void refuseTooLarge() {
        const std::string limit = std::to_string(route_->maxBodyBytes);
        refuse(413, "the body is larger than the limit of " + limit + " bytes",
               label() + ": refused, the body is larger than " + limit + " bytes");
    }

    void bodyDone() {
        if (request_->sink) request_->sink->finish(true);
        keepAlive_ = parser_->get().keep_alive();
        std::shared_ptr<HttpRequest> request(std::move(request_));
        const HttpRoute* route = route_;
        auto self = this->shared_from_this();
        HttpServer::Impl& server = server_;
        const bool posted = server_.pool.tryPost([self, request, route, &server] {
            HttpResponse response;
            try {
                response = route->handle(*request);
            } catch (const std::exception& e) {
                server.write(route->label + ": internal error: " + e.what());
                response = HttpResponse::error(500, "internal error");
            }
            request->sink.reset();  // on this worker, before the answer goes out
            asio::post(self->stream_.get_executor(),
                       [self, response = std::move(response)]() mutable {
                           self->answer(std::move(response));
                       });
        });
        if (!posted) {
            server_.write(label() + ": refused, every worker is busy and " +
                          std::to_string(server_.pool.queued()) + " requests wait");
            HttpResponse busy = HttpResponse::error(503, "the collector is busy, try again later");
            busy.headers.emplace("Retry-After", "5");
            busy.close = true;
            answer(std::move(busy));
        }
    }

    // Answers and closes; what the client still sends is drained for a moment.
    void refuse(int status, const std::string& message, const std::string& line) {
        server_.write(line);
        HttpResponse response = HttpResponse::error(status, message);
        response.close = true;
        answer(std::move(response));
    }

    void answer(HttpResponse response) {
        if (response.reset) return resetNow();
        if (response.delay.count() > 0 && !server_.stopping && !stopSeen_) {
            delayed_ = true;
            timer_.expires_after(response.delay);
            response.delay = std::chrono::milliseconds(0);
            timer_.async_wait(
                [self = this->shared_from_this(), held = std::move(response)](error_code) mutable {
                    self->delayed_ = false;
                    self->answer(std::move(held));
                });
            return;
        }
        if (response.file) return answerFile(std::move(response));
        auto reply = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), 11);
        reply->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            reply->set(name, value);
        reply->body() = std::move(response.body);
        const bool keep = keepAlive_ && !response.close && !server_.stopping && !stopSeen_;
        reply->keep_alive(keep);
        reply->prepare_payload();
        lowest().expires_after(limits_.writeTimeout);
        http::async_write(stream_, *reply,
                          [self = this->shared_from_this(), reply, keep](error_code ec, size_t) {
                              if (ec) return self->closeNow();
                              if (!keep) return self->lingerClose();
                              self->readHead();
                          });
    }

    // An answer whose body is a span of a file: the head, then the file in pieces of the
    // connection's buffer, each written before the next is read (so a slow reader costs one
    // piece of memory), each within the write deadline.
    struct FileAnswer {
        http::response<http::buffer_body> message;
        std::optional<http::response_serializer<http::buffer_body>> serializer;
        HttpFileSpan span;
        uint64_t sent = 0;
        bool keep = false;
    };

    void answerFile(HttpResponse response) {
        auto out = std::make_shared<FileAnswer>();
        out->message.result(static_cast<http::status>(response.status));
        out->message.version(11);
        out->message.set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            out->message.set(name, value);
        out->span = std::move(*response.file);
        out->keep = keepAlive_ && !response.close && !server_.stopping && !stopSeen_;
        out->message.keep_alive(out->keep);
        out->message.content_length(out->span.length);
        out->message.body().data = nullptr;
        out->message.body().more = true;
        out->serializer.emplace(out->message);
        lowest().expires_after(limits_.writeTimeout);
        http::async_write_header(stream_, *out->serializer,
                                 [self = this->shared_from_this(), out](error_code ec, size_t) {
                                     if (ec) return self->closeNow();
                                     self->sendFilePiece(out);
                                 });
    }

    void sendFilePiece(const std::shared_ptr<FileAnswer>& out) {
        auto& body = out->message.body();
        const uint64_t left = out->span.length - out->sent;
        if (left == 0) {
            body.data = nullptr;
            body.size = 0;
            body.more = false;
        } else {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk_.size()));
            const long got =
                out->span.file->read(out->span.offset + out->sent, chunk_.data(), want);
            if (got <= 0) {
                // The file is shorter than it was when the answer was made: the client sees
                // the transfer broken off rather than a body of the wrong length.
                server_.write(label() + ": the file being sent became shorter, closed");
                return closeNow();
            }
            out->sent += static_cast<uint64_t>(got);
            body.data = chunk_.data();
            body.size = static_cast<size_t>(got);
            body.more = true;
        }
        lowest().expires_after(limits_.writeTimeout);
        http::async_write(
            stream_, *out->serializer,
            [self = this->shared_from_this(), out, last = left == 0](error_code ec, size_t) {
                if (ec == http::error::need_buffer) ec = {};
                if (ec) return self->closeNow();
                if (!last) return self->sendFilePiece(out);
                if (!out->keep) return self->lingerClose();
                self->readHead();
            });
    }

    void lingerClose() {
        error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
        lowest().expires_after(kLingerTime);
        drain();
    }

    void drain() {
        lowest().async_read_some(asio::buffer(chunk_),
                                 [self = this->shared_from_this()](error_code ec, size_t n) {
                                     self->drained_ += n;
                                     if (ec || self->drained_ > kLingerBytes) {
                                         return self->closeNow();
                                     }
                                     self->drain();
                                 });
    }

    void closeNow() {
        error_code ignored;
        timer_.cancel();
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    // The peer sees a reset: no orderly end of the stream.
    void resetNow() {
        error_code ignored;
        timer_.cancel();
        lowest().socket().set_option(asio::socket_base::linger(true, 0), ignored);
        lowest().close();
    }

    HttpServer::Impl& server_;
    const HttpLimits& limits_;
    Stream stream_;
    std::string address_;
    beast::flat_buffer buffer_;
    asio::steady_timer timer_;
    std::optional<http::request_parser<http::buffer_body>> parser_;
    std::unique_ptr<HttpRequest> request_;
    const HttpRoute* route_ = nullptr;
    std::array<char, kChunkBytes> chunk_{};
    Clock::time_point bodyStart_;
    uint64_t received_ = 0;
    uint64_t drained_ = 0;
    bool keepAlive_ = false;
    bool waitingForHead_ = false;
    bool stopSeen_ = false;
    bool delayed_ = false;
};

}  // namespace

bool HttpServer::Impl::admit(const std::string& address) {
    size_t open = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t& mine = perAddress[address];
        if (!stopping && admitted < limits.maxConnections &&
            mine < limits.maxConnectionsPerAddress) {
            ++mine;
            ++admitted;
            return true;
        }
        open = mine;
        if (mine == 0) perAddress.erase(address);
    }
    // At most one line a second, however many connections are refused.
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
    if (lastCapLog.exchange(now) != now) {
        write("connection from " + address + " refused: " + std::to_string(open) +
              " connections from that address and " + std::to_string(admitted) +
              " in all are open");
    }
    return false;
}

void HttpServer::Impl::enroll(const std::shared_ptr<ConnectionBase>& connection) {
    std::lock_guard<std::mutex> lock(mutex);
    connections[connection.get()] = connection;
}

void HttpServer::Impl::release(ConnectionBase* connection, const std::string& address) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        connections.erase(connection);
        auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second == 0) perAddress.erase(it);
        --admitted;
    }
    changed.notify_all();
}

void HttpServer::Impl::refuseConnection(tcp::socket socket, const std::string& address,
                                        size_t open) {
    // A short answer that fits the socket's buffer, sent without waiting, then closed.
    static const std::string kBusy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
        "Retry-After: 5\r\nConnection: close\r\nContent-Length: 45\r\n\r\n"
        "{\"error\":\"too many connections, try later\"}\n";
    error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(kBusy), ignored);
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

void HttpServer::Impl::accept() {
    acceptor->async_accept(asio::make_strand(ioc), [this](error_code ec, tcp::socket socket) {
        if (ec) {
            if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
            // Out of descriptors or the like: try again shortly instead of spinning.
            acceptRetry->expires_after(std::chrono::milliseconds(50));
            acceptRetry->async_wait([this](error_code e) {
                if (!e && acceptor->is_open()) accept();
            });
            return;
        }
        error_code peerError;
        const auto peer = socket.remote_endpoint(peerError);
        const std::string address = peerError ? std::string("?") : peer.address().to_string();
        if (!admit(address)) {
            refuseConnection(std::move(socket), address, 0);
        } else if (tls) {
            auto connection = std::make_shared<Connection<TlsStream>>(
                *this, TlsStream(beast::tcp_stream(std::move(socket)), *tls), address);
            enroll(connection);
            connection->run();
        } else {
            auto connection = std::make_shared<Connection<PlainStream>>(
                *this, PlainStream(std::move(socket)), address);
            enroll(connection);
            connection->run();
        }
        accept();
    });
}

std::vector<std::shared_ptr<ConnectionBase>> HttpServer::Impl::liveConnections() const {
    std::vector<std::shared_ptr<ConnectionBase>> out;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [raw, weak] : connections) {
        if (auto strong = weak.lock()) out.push_back(std::move(strong));
    }
    return out;
}

bool HttpServer::Impl::waitUntilNoConnections(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, bound, [this] { return admitted == 0; });
}

HttpServer::HttpServer(HttpLimits limits, HttpRouter router, Log log)
    : impl_(std::make_shared<Impl>(std::move(limits), std::move(router), std::move(log))) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::listen(const std::string& host, int port, const std::string& certFile,
                        const std::string& keyFile, std::string& error) {
    Impl& d = *impl_;
    if (!certFile.empty() || !keyFile.empty()) {
        d.tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        error_code ec;
        d.tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                               asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                               asio::ssl::context::no_tlsv1_1,
                           ec);
        d.tls->use_certificate_chain_file(certFile, ec);
        if (!ec) d.tls->use_private_key_file(keyFile, asio::ssl::context::pem, ec);
        if (ec) {
            error =
                "cannot use certificate " + certFile + " with key " + keyFile + ": " + ec.message();
            return false;
        }
    }
    error_code ec;
    const auto address = asio::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
    if (ec) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": not an address";
        return false;
    }
    d.acceptStrand.emplace(asio::make_strand(d.ioc));
    d.acceptor.emplace(*d.acceptStrand);
    d.acceptRetry.emplace(*d.acceptStrand);
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    d.acceptor->open(endpoint.protocol(), ec);
    // Address reuse lets a restarted collector take its port back at once; port sharing stays
    // off, so a second collector on the same port fails to start instead of splitting traffic.
    if (!ec) d.acceptor->set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) d.acceptor->bind(endpoint, ec);
    if (!ec) d.acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
        d.acceptor.reset();
        return false;
    }
    d.boundPort = d.acceptor->local_endpoint().port();
    return true;
}

void HttpServer::start() {
    Impl& d = *impl_;
    if (d.started || !d.acceptor) return;
    d.started = true;
    d.pool.start(std::max<size_t>(1, d.limits.workerThreads), d.limits.queueLimit);
    asio::post(*d.acceptStrand, [&d] { d.accept(); });
    for (size_t i = 0; i < std::max<size_t>(1, d.limits.ioThreads); ++i)
        d.ioThreads.emplace_back([&d] { d.ioc.run(); });
}

void HttpServer::stop() {
    Impl& d = *impl_;
    if (!d.started || d.stopped) return;
    d.stopped = true;
    d.stopping = true;
    asio::post(*d.acceptStrand, [&d] {
        error_code ignored;
        d.acceptor->close(ignored);
        d.acceptRetry->cancel();
    });
    // Idle connections close now; requests in progress get the grace period to finish.
    for (const auto& connection : d.liveConnections())
        connection->serverStopping();
    if (!d.waitUntilNoConnections(d.limits.shutdownGrace)) {
        for (const auto& connection : d.liveConnections())
            connection->forceClose();
    }
    d.pool.stop();
    d.waitUntilNoConnections(std::chrono::milliseconds(2000));
    d.ioc.stop();
    for (std::thread& t : d.ioThreads)
        t.join();
    d.ioThreads.clear();
}

int HttpServer::port() const {
    return impl_->boundPort;
}

size_t HttpServer::openConnections() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->admitted;
}

}  // namespace rivlo::collector
