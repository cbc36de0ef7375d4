#include "host/response_records.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "host/host_value_codec.h"

namespace GoxHost {
namespace {

constexpr const char* kUnknownRelease = "release of a record the host did not fill or already released";
constexpr const char* kBadReadArguments = "stream read with a null buffer, length or flag";
constexpr const char* kReadAfterClose = "stream read after close";
constexpr const char* kSecondClose = "stream closed twice";

struct StreamState {
  RecordObserver* observer = nullptr;
  std::string text;
  std::size_t position = 0;
  std::vector<StreamChunk> script;
  std::size_t nextChunk = 0;
  bool closed = false;
};

// What one filled record owns.
struct Holder {
  RecordObserver* observer = nullptr;
  HostValue body{};
  std::string error;
  std::unique_ptr<StreamState> stream;
  std::vector<std::string> headerTexts;
  std::vector<const char*> headerPointers;
  std::string externalBody;

  ~Holder() { ReleaseHostValue(&body); }
};

// The table of filled records and the observers; one mutex, since the module may release from any
// thread it likes even though it should not.
struct Table {
  std::mutex mutex;
  std::unordered_map<const void*, std::unique_ptr<Holder>> holders;
  std::vector<RecordObserver*> observers;
};

Table& Records() {
  static Table table;
  return table;
}

void Store(const void* record, std::unique_ptr<Holder> holder) {
  Table& table = Records();
  std::lock_guard lock(table.mutex);
  table.holders.insert_or_assign(record, std::move(holder));
}

// Takes the holder of `record` out of the table; reports an unknown address to every observer.
std::unique_ptr<Holder> Take(const void* record) {
  Table& table = Records();
  std::vector<RecordObserver*> observers;
  {
    std::lock_guard lock(table.mutex);
    auto found = table.holders.find(record);
    if (found != table.holders.end()) {
      std::unique_ptr<Holder> holder = std::move(found->second);
      table.holders.erase(found);
      return holder;
    }
    observers = table.observers;
  }
  for (RecordObserver* observer : observers)
    observer->OnRecordProblem(kUnknownRelease);
  return nullptr;
}

void Notify(RecordObserver* observer, std::string_view entry, std::string summary) {
  if (observer != nullptr) observer->OnRecordCall(entry, std::move(summary));
}

void Problem(RecordObserver* observer, std::string message) {
  if (observer != nullptr) observer->OnRecordProblem(std::move(message));
}

int32_t ReadStream(void* context, char* buffer, uint32_t* length, uint8_t* more) {
  auto* stream = static_cast<StreamState*>(context);
  if (stream == nullptr) return 0;
  if (buffer == nullptr || length == nullptr || more == nullptr) {
    Problem(stream->observer, kBadReadArguments);
    return 0;
  }
  if (stream->closed) {
    Problem(stream->observer, kReadAfterClose);
    return 0;
  }
  const std::size_t capacity = *length;
  const std::size_t remaining = stream->text.size() - stream->position;
  std::size_t size = std::min(capacity, remaining);
  bool moreFollows = size < remaining;
  if (stream->nextChunk < stream->script.size()) {
    const StreamChunk chunk = stream->script[stream->nextChunk++];
    if (chunk.fail) {
      Notify(stream->observer, "stream.read", "failed");
      return 0;
    }
    size = std::min<std::size_t>(size, chunk.size);
    moreFollows = chunk.more;
  }
  std::memcpy(buffer, stream->text.data() + stream->position, size);
  stream->position += size;
  *length = static_cast<uint32_t>(size);
  *more = moreFollows ? 1 : 0;
  Notify(stream->observer, "stream.read", std::to_string(size) + (moreFollows ? " more" : " last"));
  return 1;
}

void CloseStream(void* context) {
  auto* stream = static_cast<StreamState*>(context);
  if (stream == nullptr) return;
  if (stream->closed) Problem(stream->observer, kSecondClose);
  stream->closed = true;
  Notify(stream->observer, "stream.close", std::to_string(stream->position) + " read");
}

void ReleaseResponse(PluginResponse* record) {
  std::unique_ptr<Holder> holder = Take(record);
  if (!holder) return;
  Notify(holder->observer, "response.release", {});
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

void ReleaseExternalResponse(PluginExternalResponse* record) {
  std::unique_ptr<Holder> holder = Take(record);
  if (!holder) return;
  Notify(holder->observer, "externalResponse.release", {});
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

}  // namespace

void AttachObserver(RecordObserver* observer) {
  Table& table = Records();
  std::lock_guard lock(table.mutex);
  table.observers.push_back(observer);
}

void DetachObserver(RecordObserver* observer) {
  Table& table = Records();
  std::lock_guard lock(table.mutex);
  std::erase(table.observers, observer);
  for (auto& [record, holder] : table.holders) {
    if (holder->observer == observer) holder->observer = nullptr;
    if (holder->stream && holder->stream->observer == observer) holder->stream->observer = nullptr;
  }
}

void FillResponse(PluginResponse& record, const ProviderAnswer& answer, RecordObserver* observer) {
  auto holder = std::make_unique<Holder>();
  holder->observer = observer;
  record.status = answer.status;
  record.reason = "";
  if (answer.error) {
    holder->error = *answer.error;
    record.error = holder->error.c_str();
  } else if (answer.stream) {
    auto stream = std::make_unique<StreamState>();
    stream->observer = observer;
    stream->text = answer.body.Text();
    stream->script = *answer.stream;
    record.read = &ReadStream;
    record.close = &CloseStream;
    record.expectedLength = static_cast<uint32_t>(stream->text.size());
    record.streamContext = stream.get();
    holder->stream = std::move(stream);
  } else {
    holder->body = ToHostValue(answer.body.Get());
    record.body = holder->body;
  }
  record.release = &ReleaseResponse;
  Store(&record, std::move(holder));
}

void FillExternalResponse(PluginExternalResponse& record, const ExternalResult& result,
                          RecordObserver* observer) {
  auto holder = std::make_unique<Holder>();
  holder->observer = observer;
  for (const auto& [name, value] : result.headers) {
    holder->headerTexts.push_back(name);
    holder->headerTexts.push_back(value);
  }
  for (const std::string& text : holder->headerTexts)
    holder->headerPointers.push_back(text.c_str());
  holder->externalBody = result.body;
  record.result = result.result;
  record.status = result.status;
  record.headers =
      holder->headerPointers.empty() || result.nullHeaders ? nullptr : holder->headerPointers.data();
  record.headerCount = static_cast<uint32_t>(result.headers.size());
  record.body = holder->externalBody.empty() || result.nullBody ? nullptr : holder->externalBody.data();
  record.bodyLength = static_cast<uint32_t>(holder->externalBody.size());
  record.release = &ReleaseExternalResponse;
  Store(&record, std::move(holder));
}

std::size_t OutstandingRecords(const RecordObserver* observer) {
  Table& table = Records();
  std::lock_guard lock(table.mutex);
  return static_cast<std::size_t>(
      std::count_if(table.holders.begin(), table.holders.end(),
                    [&](const auto& entry) { return entry.second->observer == observer; }));
}

}  // namespace GoxHost
