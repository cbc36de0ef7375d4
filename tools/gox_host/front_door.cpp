#include "tools/gox_host/front_door.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tools/gox_host/console_files.h"
#include "tools/gox_host/openapi.h"

namespace GoxHostApp {
namespace {

constexpr const char* kOpenApiPath = "/openapi.json";
constexpr const char* kEventsPath = "/events";
constexpr const char* kResourcesPrefix = "/resources/";

constexpr const char* kNothingThere = "nothing at %s %s";
constexpr const char* kWrongMethod = "%s is not allowed on %s";
constexpr const char* kNoResource = "no resource at %s";
constexpr const char* kTooManyStreams = "too many event streams are open";
constexpr const char* kHandlerThrew = "the request failed inside gox-host";
constexpr const char* kHttpError = "the request could not be read (HTTP %d)";
constexpr const char* kAccessLine = "%s %s -> %d (%.2f ms)";

void Send(const HttpAnswer& answer, httplib::Response& response) {
  response.status = answer.status;
  for (const auto& [name, value] : answer.headers)
    response.set_header(name.c_str(), value);
  if (!answer.body.empty() || !answer.contentType.empty())
    response.set_content(answer.body,
                         answer.contentType.empty() ? kJsonContentType : answer.contentType.c_str());
}

// The HTTP library notes the connection's addresses among the request headers; they are not the client's.
bool IsConnectionNote(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

std::string ServerUrl(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string PathWithoutQuery(const std::string& target) {
  return target.substr(0, target.find('?'));
}

}  // namespace

struct FrontDoor::Impl {
  FrontDoorOptions options;
  PluginThread& plugin;
  EventHub& events;
  AdminApi* admin;
  HostLog& log;
  httplib::Server server;
  ConsoleFiles console;
  std::string openApi;
  std::atomic<bool> stopping = false;
  std::atomic<bool> serving = false;
  std::atomic<bool> served = false;
  std::atomic<std::uint32_t> nextRequestId = 1;
  int port = 0;

  Impl(FrontDoorOptions givenOptions, PluginThread& givenPlugin, EventHub& givenEvents, AdminApi* givenAdmin,
       HostLog& givenLog)
      : options(std::move(givenOptions)),
        plugin(givenPlugin),
        events(givenEvents),
        admin(givenAdmin),
        log(givenLog),
        console(options.consoleFolder) {
    const int threads = options.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    // Answers go out as headers and body in separate writes; without this, Nagle's algorithm holds the
    // body back until the client's delayed acknowledgement, some 40 ms per call.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(options.bodyLimit);
    server.set_read_timeout(options.readTimeout);
    server.set_write_timeout(options.writeTimeout);
    server.set_keep_alive_timeout(options.idleTimeoutSeconds);
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
      if (response.body.empty())
        Send(FailureAnswer(response.status, FormatText(kHttpError, response.status)), response);
    });
    server.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
          log.Error(kHandlerThrew);
          Send(FailureAnswer(500, kHandlerThrew), response);
        });
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
      const auto start = std::chrono::steady_clock::now();
      Dispatch(request, response);
      if (options.accessLog) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        log.Info(FormatText(kAccessLine, request.method.c_str(), ValidUtf8(request.target).c_str(),
                            response.status, ms));
      }
    };
    // Every path goes to Dispatch; the routing is gox-host's own.
    const char* const kEverything = "/.*";
    server.Get(kEverything, handler);
    server.Post(kEverything, handler);
    server.Put(kEverything, handler);
    server.Patch(kEverything, handler);
    server.Delete(kEverything, handler);
    server.Options(kEverything, handler);
  }

  void Dispatch(const httplib::Request& request, httplib::Response& response) {
    const bool isGet = request.method == "GET" || request.method == "HEAD";
    if (isGet && request.path == kOpenApiPath) return Send(JsonAnswer(openApi), response);
    if (isGet)
      if (std::optional<ConsoleFile> file = console.Find(request.path))
        return Send(HttpAnswer{200, std::move(file->contentType), std::move(file->bytes), {}}, response);
    if (isGet && request.path == kEventsPath) return StreamEvents(response);
    if (admin != nullptr && request.path.starts_with(kAdminPrefix)) {
      const AdminRequest adminRequest{request.method, request.path, request.body, request.remote_addr};
      return Send(admin->Handle(adminRequest), response);
    }
    const std::string rawPath = PathWithoutQuery(request.target);
    std::uint32_t method = MethodCode(request.method);
    bool pathMatched = false;
    const GoxHost::EndpointInfo* endpoint =
        FindEndpoint(plugin.Description(), method, request.method, rawPath, &pathMatched);
    // HEAD is GET without the body (the HTTP layer drops it) where the module has no HEAD of its own.
    if (endpoint == nullptr && method == kHttpMethodHead) {
      endpoint = FindEndpoint(plugin.Description(), kHttpMethodGet, "GET", rawPath, nullptr);
      if (endpoint != nullptr) method = kHttpMethodGet;
    }
    if (endpoint != nullptr) return Send(CallModule(*endpoint, request, method), response);
    if (isGet && request.path.starts_with(kResourcesPrefix))
      return Send(ReadResource(request.path.substr(std::string_view(kResourcesPrefix).size() - 1)), response);
    if (isGet) {
      HttpAnswer answer = ReadResource(request.path);
      if (answer.status != 404) return Send(answer, response);
    }
    if (pathMatched)
      return Send(FailureAnswer(405, FormatText(kWrongMethod, request.method.c_str(), request.path.c_str())),
                  response);
    Send(FailureAnswer(404, FormatText(kNothingThere, request.method.c_str(), request.path.c_str())),
         response);
  }

  HttpAnswer CallModule(const GoxHost::EndpointInfo& endpoint, const httplib::Request& request,
                        std::uint32_t method) {
    auto call = std::make_shared<GoxHost::CallRequest>();
    call->method = method;
    if (method == kHttpMethodOther) call->customMethod = request.method;
    call->path = request.target;
    for (const auto& [name, value] : request.headers)
      if (!IsConnectionNote(name)) call->headers.emplace_back(name, value);
    call->contentType = request.get_header_value("Content-Type");
    call->body = request.body;
    call->requestId = nextRequestId++;
    auto answer = std::make_shared<HttpAnswer>();
    const GoxHost::EndpointInfo* target = &endpoint;
    return AnswerOnPluginThread(
        plugin, options.callTimeout,
        [call, answer, target](GoxHost::HostCore& host) {
          *answer = AnswerFromCall(host.Call(*target, *call));
        },
        answer);
  }

  HttpAnswer ReadResource(const std::string& path) {
    auto answer = std::make_shared<HttpAnswer>();
    return AnswerOnPluginThread(
        plugin, options.callTimeout,
        [answer, path](GoxHost::HostCore& host) {
          const GoxHost::JsonValue* value = host.Resource(path);
          *answer = value != nullptr ? JsonAnswer(ValidUtf8(value->Text()))
                                     : FailureAnswer(404, FormatText(kNoResource, path.c_str()));
        },
        answer);
  }

  void StreamEvents(httplib::Response& response) {
    std::shared_ptr<EventHub::Stream> stream = events.Open();
    if (!stream) return Send(FailureAnswer(503, kTooManyStreams), response);
    response.set_header("Cache-Control", "no-cache");
    auto lastWrite =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream, lastWrite](std::size_t offset, httplib::DataSink& sink) {
          if (stopping) {
            sink.done();
            return true;
          }
          std::string chunk;
          if (offset == 0) chunk = ": connected\n\n";  // tells the reader that the stream is open
          std::size_t dropped = 0;
          const std::string event = stream->Next(std::chrono::milliseconds(offset == 0 ? 0 : 200), &dropped);
          if (dropped > 0) chunk += FormatText(": dropped %zu events\n\n", dropped);
          if (!event.empty()) chunk += "data: " + event + "\n\n";
          const auto now = std::chrono::steady_clock::now();
          if (chunk.empty() && now - *lastWrite >= options.eventKeepAlive) chunk = ": keep-alive\n\n";
          if (chunk.empty()) return true;
          *lastWrite = now;
          return sink.write(chunk.data(), chunk.size());
        },
        [this, stream](bool) { events.Close(stream); });
  }
};

FrontDoor::FrontDoor(FrontDoorOptions options, PluginThread& plugin, EventHub& events, AdminApi* admin,
                     HostLog& log)
    : impl_(std::make_unique<Impl>(std::move(options), plugin, events, admin, log)) {}

FrontDoor::~FrontDoor() {
  Stop();
}

std::optional<std::string> FrontDoor::Bind() {
  const int port =
      impl_->options.port == 0
          ? impl_->server.bind_to_any_port(impl_->options.host)
          : (impl_->server.bind_to_port(impl_->options.host, impl_->options.port) ? impl_->options.port : -1);
  if (port <= 0)
    return "could not listen on " + impl_->options.host + ":" + std::to_string(impl_->options.port);
  impl_->port = port;
  // The document names the URL clients reach, which is known only once the port is bound.
  impl_->openApi = BuildOpenApi(impl_->plugin.Description(), "gox-host: " + impl_->plugin.ShortName(),
                                impl_->plugin.VersionText(), ServerUrl(impl_->options.host, port))
                       .Text();
  return std::nullopt;
}

int FrontDoor::Port() const {
  return impl_->port;
}

void FrontDoor::Serve() {
  impl_->serving = true;
  if (!impl_->stopping) impl_->server.listen_after_bind();
  impl_->served = true;
}

void FrontDoor::Stop() {
  impl_->stopping = true;
  // The server only stops once it runs: wait (bounded) for a Serve that has begun to get going.
  for (int i = 0; i < 2000 && impl_->serving && !impl_->served && !impl_->server.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl_->server.stop();
}

}  // namespace GoxHostApp
