#include "tools/standin-service/StandinService.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tools/standin-service/StandinBackend.hpp"
#include "tools/standin-service/StandinSockets.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <httplib.h>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace nuvel {

namespace {

using standin::Clock;

// True from the moment a request reaches our code until its answer is written: the server
// library's own error answers (malformed request, ...) come without it and are logged and given
// the JSON error body by the error handler.
thread_local bool answeredByService = false;

// Headers the server library adds to the request itself; the client never sent them.
bool isPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

StandinLoggedRequest logEntry(const httplib::Request& req, const std::string& body, std::size_t length) {
    StandinLoggedRequest entry;
    entry.method = req.method;
    entry.target = req.target;
    const std::size_t mark = req.target.find('?');
    entry.path = req.target.substr(0, mark);
    if (mark != std::string::npos)
        entry.query = req.target.substr(mark + 1);
    for (const auto& [name, value] : req.headers) {
        if (!isPseudoHeader(name))
            entry.headers.emplace_back(name, value);
    }
    entry.bodySha256 = hexString(Sha256::hash(viewOf(body)));
    entry.bodyLength = length;
    entry.time = Clock::now();
    return entry;
}

void write(const standin::Reply& reply, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name, value);
    if (!reply.body.empty() || !reply.contentType.empty()) {
        res.set_content(reply.body,
                        reply.contentType.empty() ? "application/octet-stream" : reply.contentType);
    }
}

standin::Reply faultReply(const StandinFault& fault) {
    standin::Reply reply;
    reply.status = fault.status;
    reply.body = fault.body;
    reply.contentType = fault.body.empty() ? "" : fault.contentType;
    reply.headers = fault.headers;
    return reply;
}

} // namespace

struct StandinService::Impl {
    struct Fault {
        int id;
        std::string method;
        std::regex pattern;
        StandinFault fault;
    };

    explicit Impl(StandinOptions o) : options(o), backend(o) {}

    StandinOptions options;
    mutable std::mutex mutex;
    mutable std::condition_variable logged; // a request was logged
    std::condition_variable wake;           // stop() ends delayed answers
    standin::Backend backend;
    std::vector<StandinLoggedRequest> log;
    std::uint64_t sequence = 0;
    std::vector<Fault> faults;
    int nextFaultId = 1;
    bool started = false;
    bool stopping = false;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    std::string keptText; // the state document last saved

    // Under the lock.
    std::uint64_t append(StandinLoggedRequest entry) {
        entry.sequence = ++sequence;
        log.push_back(std::move(entry));
        logged.notify_all();
        return sequence;
    }
    void setStatus(std::uint64_t seq, int status) {
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            if (it->sequence == seq) {
                it->status = status;
                return;
            }
        }
    }
    std::optional<StandinFault> takeFault(const std::string& method, const std::string& path) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if ((!it->method.empty() && it->method != method) || !std::regex_match(path, it->pattern))
                continue;
            StandinFault hit = it->fault;
            if (it->fault.remaining && --*it->fault.remaining <= 0)
                faults.erase(it);
            return hit;
        }
        return std::nullopt;
    }

    // `length` is what the client sent; `body` is empty when that was more than the limit.
    // `unreadable`: the body could not be read to its end.
    void serve(const httplib::Request& req, httplib::Response& res, const std::string& body,
               std::size_t length, bool unreadable = false) {
        answeredByService = true;
        StandinLoggedRequest entry = logEntry(req, body, length);
        standin::Reply reply;
        {
            std::unique_lock lock(mutex);
            const std::uint64_t seq = append(std::move(entry));
            const std::optional<StandinFault> fault = takeFault(req.method, log.back().path);
            if (fault && fault->delay.count() > 0 &&
                wake.wait_for(lock, fault->delay, [&] { return stopping; })) {
                reply = standin::errorReply(503, "stopping", "the service is stopping");
            } else if (fault && fault->action == StandinFault::Action::drop) {
                setStatus(seq, 0);
                lock.unlock();
                standin::shutdownConnection(req.local_port, req.remote_port);
                return;
            } else if (fault && fault->action == StandinFault::Action::lose && !unreadable &&
                       length <= options.maxBodyBytes) {
                answer(req, body);
                setStatus(seq, 0);
                lock.unlock();
                standin::shutdownConnection(req.local_port, req.remote_port);
                return;
            } else if (fault && fault->action == StandinFault::Action::respond) {
                reply = faultReply(*fault);
            } else if (unreadable) {
                reply = standin::errorReply(400, "bad_request", "the request body could not be read");
            } else if (length > options.maxBodyBytes) {
                reply = standin::errorReply(413, "too_large", "the request body is too large");
            } else {
                reply = answer(req, body);
                if (mayChange(req))
                    keep();
            }
            setStatus(seq, reply.status);
        }
        // The server library applies a request's "Range" to any answer; only a partial answer
        // (206) is cut, so an error body or a canned fault reaches the client whole.
        if (reply.status != 206)
            const_cast<httplib::Request&>(req).ranges.clear();
        write(reply, res);
    }

    // Whether a request may change the world: every method but GET and HEAD, and a meeting's status
    // read, which moves its processing on.
    bool mayChange(const httplib::Request& req) const {
        if (options.stateFolder.empty())
            return false;
        if (req.method != "GET" && req.method != "HEAD")
            return true;
        return options.advanceOnRead && req.path.starts_with("/api/meetings/");
    }

    // Under the lock: saves the world to the state folder when it changed. A failed save is said
    // on the standard error stream and tried again after the next change.
    void keep() {
        try {
            const std::filesystem::path folder(options.stateFolder);
            standin::BlobFolder blobs{folder / "audio", {}};
            files::createOwnerOnlyDirectories(blobs.folder);
            std::string text = backend.saveState(blobs).dump();
            if (text == keptText)
                return;
            files::atomicWrite(folder / "state.json", viewOf(text));
            keptText = std::move(text);
            blobs.removeUnused();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "nuvel-standin: the state could not be kept: %s\n", error.what());
        }
    }

    // Loads a kept world; false when the folder holds none. Throws for a damaged one.
    bool loadKept() {
        const std::filesystem::path folder(options.stateFolder);
        if (!std::filesystem::exists(folder / "state.json"))
            return false;
        const Bytes text = files::readFile(folder / "state.json");
        backend.loadState(json::Ordered::parse(text.begin(), text.end()),
                          standin::BlobFolder{folder / "audio", {}});
        keptText = stringOf(text);
        return true;
    }

    // Under the lock.
    standin::Reply answer(const httplib::Request& req, const std::string& body) {
        standin::Request request;
        try {
            standin::Target target = standin::parseTarget(req.target);
            request.segments = std::move(target.segments);
            request.query = std::move(target.query);
        } catch (const standin::ApiFailure& failure) {
            return standin::errorReply(failure.status(), failure.code(), failure.what());
        }
        request.method = req.method;
        for (const auto& [name, value] : req.headers) {
            if (!isPseudoHeader(name))
                request.headers.emplace_back(name, value);
        }
        request.body = body;
        return backend.handle(request, Clock::now());
    }

    // Refuses what the body readers below cannot bound: a Content-Length that is not a number, and a
    // chunked body on a method whose body the server library reads whole on its own. The
    // connection is closed, as the body is left unread.
    httplib::Server::HandlerResponse screen(const httplib::Request& req, httplib::Response& res) {
        answeredByService = false;
        int status = 0;
        std::string message;
        const bool bodyMethod =
            req.method == "POST" || req.method == "PUT" || req.method == "PATCH" || req.method == "DELETE";
        if (req.has_header("Transfer-Encoding") && !bodyMethod) {
            status = 411;
            message = "request bodies need a Content-Length";
        } else if (req.has_header("Content-Length")) {
            const std::string text = req.get_header_value("Content-Length");
            if (text.empty() || text.size() > 19 ||
                !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                status = 400;
                message = "Content-Length is not a number";
            }
        }
        if (status == 0)
            return httplib::Server::HandlerResponse::Unhandled;
        answeredByService = true;
        StandinLoggedRequest entry = logEntry(req, "", 0);
        entry.status = status;
        {
            std::lock_guard lock(mutex);
            append(std::move(entry));
        }
        write(standin::errorReply(status, standin::codeForStatus(status), message), res);
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    }

    // The server library's own error answers get the service's JSON error body and a log entry.
    void libraryError(const httplib::Request& req, httplib::Response& res) {
        if (answeredByService)
            return;
        StandinLoggedRequest entry = logEntry(req, "", 0);
        entry.status = res.status;
        {
            std::lock_guard lock(mutex);
            append(std::move(entry));
        }
        if (res.body.empty()) {
            const std::string code = standin::codeForStatus(res.status);
            write(standin::errorReply(res.status, code, "the request could not be read"), res);
            // The library writes no length on some of its own error paths.
            if (!res.has_header("Content-Length"))
                res.set_header("Content-Length", std::to_string(res.body.size()));
        }
    }
};

StandinService::StandinService(StandinOptions options) : impl_(std::make_unique<Impl>(options)) {
    std::lock_guard lock(impl_->mutex);
    if (!options.stateFolder.empty() && impl_->loadKept())
        return;
    if (options.seed)
        impl_->backend.seedMeetings(3, defaultAccountId, std::nullopt, Clock::now());
    if (!options.stateFolder.empty())
        impl_->keep();
}

StandinService::~StandinService() {
    stop();
}

void StandinService::start() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (d.started)
            throw std::runtime_error("the stand-in service was already started");
        d.started = true;
    }
    d.server = std::make_unique<httplib::Server>();
    // Every idle keep-alive connection holds a worker; leave room for the ones a test keeps open.
    d.server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    d.server->set_pre_routing_handler(
        [&d](const httplib::Request& req, httplib::Response& res) { return d.screen(req, res); });
    d.server->set_error_handler(
        httplib::Server::HandlerWithResponse([&d](const httplib::Request& req, httplib::Response& res) {
            d.libraryError(req, res);
            return httplib::Server::HandlerResponse::Unhandled;
        }));
    d.server->set_logger(
        [](const httplib::Request&, const httplib::Response&) { answeredByService = false; });
    // A declared length beyond the limit is read and dropped by the library itself (413). Bodies
    // that reach us are read here, so a chunked one is bounded too: past the limit the rest is
    // still read, so the client gets its answer instead of a reset connection, but not kept.
    d.server->set_payload_max_length(d.options.maxBodyBytes);
    auto serveRead = [&d](const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader) {
        std::string body;
        std::size_t length = 0;
        const bool read = reader([&](const char* data, std::size_t size) {
            length += size;
            if (length <= d.options.maxBodyBytes) {
                body.append(data, size);
            } else if (!body.empty()) {
                std::string().swap(body);
            }
            return true;
        });
        // The library refuses a declared length beyond the limit without handing over any of it.
        const std::size_t declared =
            std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
        if (!read && declared > d.options.maxBodyBytes)
            length = declared;
        d.serve(req, res, body, length, !read && declared <= d.options.maxBodyBytes);
    };
    auto serve = [&d](const httplib::Request& req, httplib::Response& res) {
        d.serve(req, res, req.body, req.body.size());
    };
    d.server->Get(".*", serve);
    d.server->Post(".*", serveRead);
    d.server->Put(".*", serveRead);
    d.server->Patch(".*", serveRead);
    d.server->Delete(".*", serveRead); // a DELETE with a body
    d.server->Delete(".*", serve);     // and without one
    d.server->Options(".*", serve);

    // The library listens with a backlog of 5, so a burst of connections would wait for SYN
    // retransmits; the listening socket is handed over here and given a longer queue once bound.
    int listening = -1;
    d.server->set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    const int port = d.options.port == 0
                         ? d.server->bind_to_any_port("127.0.0.1")
                         : (d.server->bind_to_port("127.0.0.1", d.options.port) ? d.options.port : -1);
    if (port <= 0)
        throw std::runtime_error("the stand-in service cannot bind 127.0.0.1:" +
                                 std::to_string(d.options.port));
    d.port = port;
    {
        std::lock_guard lock(d.mutex);
        d.backend.setWebOrigin(origin());
    }
    if (listening >= 0)
        ::listen(listening, SOMAXCONN);
    d.thread = std::thread([&d] { d.server->listen_after_bind(); });
    // stop() only reaches a server that is already listening.
    while (!d.server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void StandinService::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.started || d.stopping)
            return;
        d.stopping = true;
    }
    d.wake.notify_all();
    d.server->stop();
    // Idle keep-alive connections would otherwise hold their workers until they time out.
    standin::shutdownConnections(d.port);
    if (d.thread.joinable())
        d.thread.join();
}

int StandinService::port() const {
    return impl_->port;
}

std::string StandinService::origin() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port);
}

std::vector<StandinLoggedRequest> StandinService::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

void StandinService::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

bool StandinService::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->logged.wait_for(lock, timeout, [&] { return impl_->log.size() >= count; });
}

int StandinService::addFault(std::string method, std::string pathPattern, StandinFault fault) {
    std::regex pattern(pathPattern, std::regex::ECMAScript);
    std::lock_guard lock(impl_->mutex);
    const int id = impl_->nextFaultId++;
    if (!fault.remaining || *fault.remaining > 0) {
        impl_->faults.push_back(Impl::Fault{id, std::move(method), std::move(pattern), std::move(fault)});
    }
    return id;
}

void StandinService::removeFault(int id) {
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->faults, [&](const Impl::Fault& f) { return f.id == id; });
}

void StandinService::clearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

// --- knobs ---

namespace {

StandinAccount& requireAccount(standin::Backend& backend, const std::string& id) {
    StandinAccount* account = backend.findAccount(id);
    if (account == nullptr)
        throw std::invalid_argument("unknown account " + id);
    return *account;
}

standin::Meeting& requireMeeting(standin::Backend& backend, const std::string& id) {
    standin::Meeting* meeting = backend.findMeeting(id);
    if (meeting == nullptr)
        throw std::invalid_argument("unknown meeting " + id);
    return *meeting;
}

} // namespace

void StandinService::putAccount(StandinAccount account) {
    std::lock_guard lock(impl_->mutex);
    impl_->backend.putAccount(std::move(account));
}

std::optional<StandinAccount> StandinService::account(const std::string& accountId) const {
    std::lock_guard lock(impl_->mutex);
    const StandinAccount* account = impl_->backend.findAccount(accountId);
    return account == nullptr ? std::nullopt : std::optional<StandinAccount>(*account);
}

void StandinService::setCapabilities(const std::string& accountId, StandinCapabilities capabilities) {
    std::lock_guard lock(impl_->mutex);
    requireAccount(impl_->backend, accountId).capabilities = capabilities;
}

void StandinService::setLimits(const std::string& accountId, StandinLimits limits) {
    std::lock_guard lock(impl_->mutex);
    requireAccount(impl_->backend, accountId).limits = limits;
}

void StandinService::setWorkspaces(const std::string& accountId, std::vector<StandinWorkspace> workspaces,
                                   std::string defaultWorkspaceId) {
    std::lock_guard lock(impl_->mutex);
    StandinAccount& account = requireAccount(impl_->backend, accountId);
    account.workspaces = std::move(workspaces);
    account.defaultWorkspaceId = std::move(defaultWorkspaceId);
}

std::string StandinService::approveSignIn(const std::string& challenge, const std::string& accountId) {
    std::lock_guard lock(impl_->mutex);
    return impl_->backend.approveSignIn(challenge, accountId, Clock::now());
}

std::string StandinService::issueToken(const std::string& accountId, const std::string& deviceName) {
    std::lock_guard lock(impl_->mutex);
    return impl_->backend.issueToken(accountId, deviceName);
}

void StandinService::revokeToken(const std::string& token) {
    std::lock_guard lock(impl_->mutex);
    impl_->backend.revokeToken(token);
}

std::vector<std::string> StandinService::meetingIds() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->backend.meetingIds();
}

std::optional<std::string> StandinService::processingState(const std::string& meetingId) const {
    std::lock_guard lock(impl_->mutex);
    const standin::Meeting* meeting = impl_->backend.findMeeting(meetingId);
    return meeting == nullptr ? std::nullopt : std::optional<std::string>(meeting->state);
}

void StandinService::setProcessingState(const std::string& meetingId, const std::string& state) {
    std::lock_guard lock(impl_->mutex);
    impl_->backend.setProcessingState(requireMeeting(impl_->backend, meetingId), state);
}

std::optional<std::string> StandinService::storedAudio(const std::string& meetingId) const {
    std::lock_guard lock(impl_->mutex);
    const standin::Meeting* meeting = impl_->backend.findMeeting(meetingId);
    if (meeting == nullptr || !meeting->committed())
        return std::nullopt;
    return impl_->backend.audioOf(*meeting);
}

void StandinService::setAudioDeleted(const std::string& meetingId, bool deleted) {
    std::lock_guard lock(impl_->mutex);
    requireMeeting(impl_->backend, meetingId).audioDeleted = deleted;
}

void StandinService::setMeetingAccess(const std::string& meetingId, StandinAccess access) {
    std::lock_guard lock(impl_->mutex);
    requireMeeting(impl_->backend, meetingId).access = std::move(access);
}

std::optional<StandinNotepad> StandinService::notepad(const std::string& meetingId) const {
    std::lock_guard lock(impl_->mutex);
    const standin::Meeting* meeting = impl_->backend.findMeeting(meetingId);
    if (meeting == nullptr)
        return std::nullopt;
    return StandinNotepad{meeting->notepadRevision, json::dump(meeting->notepadLines)};
}

void StandinService::setNotepad(const std::string& meetingId, StandinNotepad notepad) {
    json::Value lines;
    try {
        lines = json::parse(notepad.linesJson);
    } catch (const json::JsonError&) {
        throw std::invalid_argument("the notepad lines are not JSON");
    }
    if (!lines.is_array())
        throw std::invalid_argument("the notepad lines must be a JSON array");
    std::lock_guard lock(impl_->mutex);
    standin::Meeting& meeting = requireMeeting(impl_->backend, meetingId);
    meeting.notepadRevision = notepad.revision;
    meeting.notepadLines = json::Ordered::parse(notepad.linesJson);
}

std::vector<std::string> StandinService::seedMeetings(std::size_t count, const std::string& accountId,
                                                      const std::optional<std::string>& workspaceId) {
    std::lock_guard lock(impl_->mutex);
    return impl_->backend.seedMeetings(count, accountId, workspaceId, Clock::now());
}

} // namespace nuvel
