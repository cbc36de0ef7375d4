#include "tools/gox_host/front_door.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
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
constexpr const char* kModuleLate = "the module did not answer in time";
constexpr const char* kShuttingDown = "gox-host is shutting down";
constexpr const char* kReloading =
    "gox-host is reloading a module and did not get to this call in time; it was not made, try again";
constexpr const char* kAccessLine = "%s %s -> %d (%.2f ms)";

GoxTools::HttpResponse ToResponse(HttpAnswer answer) {
  GoxTools::HttpResponse response;
  response.status = answer.status;
  response.headers = std::move(answer.headers);
  response.body = std::move(answer.body);
  if (!response.body.empty() || !answer.contentType.empty())
    response.contentType = answer.contentType.empty() ? kJsonContentType : std::move(answer.contentType);
  return response;
}

// Runs blocking work one task at a time on a thread of its own, off the I/O threads.
class Worker {
 public:
  Worker() : thread_([this] { Main(); }) {}
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }

 private:
  void Main() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

// Moves the events of one hub stream into one HTTP stream, in order, whichever thread wakes it.
struct EventPump {
  std::mutex mutex;
  std::shared_ptr<EventHub::Stream> events;
  std::shared_ptr<GoxTools::HttpStream> out;

  // False once the HTTP stream is gone.
  bool Pump() {
    std::lock_guard lock(mutex);
    if (!out) return true;
    for (;;) {
      std::size_t dropped = 0;
      const std::string event = events->Next(std::chrono::milliseconds(0), &dropped);
      std::string chunk;
      if (dropped > 0) chunk = FormatText(": dropped %zu events\n\n", dropped);
      if (!event.empty()) chunk += "data: " + event + "\n\n";
      if (chunk.empty()) return true;
      if (!out->Write(std::move(chunk))) return false;
    }
  }
};

std::string ServerUrl(const std::string& host, int port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

struct FrontDoor::Impl {
  FrontDoorOptions options;
  PluginThread& plugin;
  EventHub& events;
  AdminApi* admin;
  HostLog& log;
  ConsoleFiles console;
  std::mutex openApiMutex;
  std::string openApi;  // built for the snapshot of openApiGeneration
  std::uint64_t openApiGeneration = 0;
  std::atomic<std::uint32_t> nextRequestId = 1;
  Worker adminWorker;
  GoxTools::HttpServer server;
  std::mutex serveMutex;
  std::condition_variable serveDone;
  bool serving = false;
  bool stopped = false;

  using Send = std::function<void(HttpAnswer)>;

  Impl(FrontDoorOptions givenOptions, PluginThread& givenPlugin, EventHub& givenEvents, AdminApi* givenAdmin,
       HostLog& givenLog)
      : options(std::move(givenOptions)),
        plugin(givenPlugin),
        events(givenEvents),
        admin(givenAdmin),
        log(givenLog),
        console(options.consoleFolder),
        server(GoxTools::HttpServerOptions{options.host, options.port, options.ioThreads, options.http},
               [this](GoxTools::HttpRequest request, GoxTools::HttpReply reply) {
                 Handle(std::move(request), std::move(reply));
               }) {}

  void Handle(GoxTools::HttpRequest request, GoxTools::HttpReply reply) {
    Send send = [reply](HttpAnswer answer) { reply.Send(ToResponse(std::move(answer))); };
    if (options.accessLog) {
      send = [this, reply, start = std::chrono::steady_clock::now(), method = request.method,
              target = ValidUtf8(request.target)](HttpAnswer answer) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        log.Info(FormatText(kAccessLine, method.c_str(), target.c_str(), answer.status, ms));
        reply.Send(ToResponse(std::move(answer)));
      };
    }
    Dispatch(std::move(request), reply, send);
  }

  void Dispatch(GoxTools::HttpRequest request, const GoxTools::HttpReply& reply, const Send& send) {
    const bool isGet = request.method == "GET" || request.method == "HEAD";
    if (isGet && request.path == kOpenApiPath) return send(JsonAnswer(OpenApi()));
    if (isGet)
      if (std::optional<ConsoleFile> file = console.Find(request.path))
        return send(HttpAnswer{200, std::move(file->contentType), std::move(file->bytes), {}});
    if (isGet && request.path == kEventsPath) return StreamEvents(reply);
    if (admin != nullptr && request.path.starts_with(kAdminPrefix)) {
      auto adminRequest = std::make_shared<AdminRequest>(
          AdminRequest{request.method, request.path, std::move(request.body), request.remoteAddress});
      return adminWorker.Post([this, adminRequest, send] { send(admin->Handle(*adminRequest)); });
    }
    std::string rawPath = request.target.substr(0, request.target.find('?'));
    std::uint32_t method = MethodCode(request.method);
    bool pathMatched = false;
    const std::shared_ptr<const ModuleSnapshot> modules = plugin.Snapshot();
    const GoxHost::EndpointInfo* endpoint =
        FindEndpoint(modules->description, method, request.method, rawPath, &pathMatched);
    // HEAD is GET without the body (the HTTP layer drops it) where the module has no HEAD of its own.
    if (endpoint == nullptr && method == kHttpMethodHead) {
      endpoint = FindEndpoint(modules->description, kHttpMethodGet, "GET", rawPath, nullptr);
      if (endpoint != nullptr) method = kHttpMethodGet;
    }
    if (endpoint != nullptr) return CallModule(std::move(rawPath), std::move(request), method, reply, send);
    if (isGet && request.path.starts_with(kResourcesPrefix)) {
      std::string path = request.path.substr(std::string_view(kResourcesPrefix).size() - 1);
      return ReadResource(path, reply, send,
                          [send, path] { send(FailureAnswer(404, FormatText(kNoResource, path.c_str()))); });
    }
    if (isGet)
      return ReadResource(request.path, reply, send,
                          [send, method = request.method, path = request.path, pathMatched] {
                            NotFound(method, path, pathMatched, send);
                          });
    NotFound(request.method, request.path, pathMatched, send);
  }

  static void NotFound(const std::string& method, const std::string& path, bool pathMatched,
                       const Send& send) {
    if (pathMatched) return send(FailureAnswer(405, FormatText(kWrongMethod, method.c_str(), path.c_str())));
    send(FailureAnswer(404, FormatText(kNothingThere, method.c_str(), path.c_str())));
  }

  // Hands `task` to the plugin thread; a late or refused task is answered here. Behind a reload the
  // task waits at most options.reloadWait to start: then it is answered 503 and never runs, so that
  // a client told to try again knows the call was not made.
  void OnPluginThread(PluginThread::Task task, const GoxTools::HttpReply& reply, const Send& send) {
    reply.SendUnlessAnsweredWithin(options.callTimeout, ToResponse(FailureAnswer(504, kModuleLate)));
    if (plugin.ReloadPending()) {
      auto claimed = std::make_shared<std::atomic<bool>>(false);
      reply.After(options.reloadWait, [claimed, send] {
        if (!claimed->exchange(true)) send(FailureAnswer(503, kReloading));
      });
      task = [claimed, task = std::move(task)](GoxHost::HostCore& host) {
        if (!claimed->exchange(true)) task(host);
      };
    }
    if (!plugin.Post(std::move(task))) send(FailureAnswer(503, kShuttingDown));
  }

  // The endpoint is found again on the plugin thread, in the modules serving when the call runs: a
  // reload in between may have replaced the module (and its call entries) or dropped the endpoint.
  void CallModule(std::string rawPath, GoxTools::HttpRequest request, std::uint32_t method,
                  const GoxTools::HttpReply& reply, const Send& send) {
    auto call = std::make_shared<GoxHost::CallRequest>();
    call->method = method;
    if (method == kHttpMethodOther) call->customMethod = request.method;
    call->path = std::move(request.target);
    call->contentType = request.Header("Content-Type");
    call->headers = std::move(request.headers);
    call->body = std::move(request.body);
    call->requestId = nextRequestId++;
    const std::string methodName = method == kHttpMethodGet ? "GET" : request.method;
    OnPluginThread(
        [call, rawPath = std::move(rawPath), methodName, send](GoxHost::HostCore& host) {
          bool pathMatched = false;
          const GoxHost::EndpointInfo* endpoint =
              FindEndpoint(host.Description(), call->method, methodName, rawPath, &pathMatched);
          if (endpoint == nullptr) return NotFound(methodName, rawPath, pathMatched, send);
          send(AnswerFromCall(host.Call(*endpoint, *call)));
        },
        reply, send);
  }

  std::string OpenApi() {
    const std::shared_ptr<const ModuleSnapshot> modules = plugin.Snapshot();
    std::lock_guard lock(openApiMutex);
    if (openApiGeneration != modules->generation) {
      // The document names the URL clients reach, which is known only once the port is bound.
      openApi = BuildOpenApi(modules->description, "gox-host: " + modules->shortName, modules->versionText,
                             ServerUrl(options.host, server.Port()), admin != nullptr)
                    .Text();
      openApiGeneration = modules->generation;
    }
    return openApi;
  }

  // The resource at `path`; `absent` answers when there is none.
  void ReadResource(std::string path, const GoxTools::HttpReply& reply, const Send& send,
                    std::function<void()> absent) {
    OnPluginThread(
        [path = std::move(path), send, absent = std::move(absent)](GoxHost::HostCore& host) {
          const GoxHost::JsonValue* value = host.Resource(path);
          if (value == nullptr) return absent();
          send(JsonAnswer(ValidUtf8(value->Text())));
        },
        reply, send);
  }

  void StreamEvents(const GoxTools::HttpReply& reply) {
    auto pump = std::make_shared<EventPump>();
    std::weak_ptr<EventPump> weakPump = pump;
    pump->events = events.Open([this, weakPump] {
      const auto pumping = weakPump.lock();
      if (pumping && !pumping->Pump()) events.Close(pumping->events);
    });
    GoxTools::HttpResponse head{200, "text/event-stream", {}, {{"Cache-Control", "no-cache"}}, false};
    std::shared_ptr<GoxTools::HttpStream> out =
        reply.Stream(std::move(head), ": keep-alive\n\n", options.eventKeepAlive,
                     [this, pump] { events.Close(pump->events); });
    out->Write(": connected\n\n");  // tells the reader that the stream is open
    {
      std::lock_guard lock(pump->mutex);
      pump->out = std::move(out);
    }
    if (!pump->Pump()) events.Close(pump->events);
  }
};

FrontDoor::FrontDoor(FrontDoorOptions options, PluginThread& plugin, EventHub& events, AdminApi* admin,
                     HostLog& log)
    : impl_(std::make_unique<Impl>(std::move(options), plugin, events, admin, log)) {}

FrontDoor::~FrontDoor() {
  Stop();
}

std::optional<std::string> FrontDoor::Bind() {
  if (auto error = impl_->server.Bind()) return error;
  (void)impl_->OpenApi();
  return std::nullopt;
}

int FrontDoor::Port() const {
  return impl_->server.Port();
}

std::size_t FrontDoor::OpenConnections() const {
  return impl_->server.OpenConnections();
}

void FrontDoor::Serve() {
  std::unique_lock lock(impl_->serveMutex);
  if (impl_->stopped) return;
  impl_->server.Start();
  impl_->serving = true;
  impl_->serveDone.wait(lock, [&] { return impl_->stopped; });
}

void FrontDoor::Stop() {
  bool serving = false;
  {
    std::lock_guard lock(impl_->serveMutex);
    impl_->stopped = true;
    serving = impl_->serving;
  }
  impl_->serveDone.notify_all();
  if (serving) impl_->server.Stop();
}

}  // namespace GoxHostApp
