#include "tools/gox_host/event_hub.h"

#include <algorithm>

#include "tools/gox_host/call_mapping.h"

namespace GoxHostApp {

std::string EventJson(const GoxHost::QueuedEvent& event) {
  GoxHost::JsonValue line;
  GoxHost::JsonDocument& document = line.Edit();
  auto& allocator = document.GetAllocator();
  document.SetObject();
  document.AddMember("event", rapidjson::Value(event.name.c_str(), allocator), allocator);
  const rapidjson::Value& payload = event.payload.Get();
  const bool resource = payload.IsObject() && payload.HasMember("uri") && payload.HasMember("eventType");
  if (resource) {
    for (const char* member : {"uri", "eventType", "data"}) {
      rapidjson::Value copy;
      if (payload.HasMember(member)) GoxHost::CopyJson(payload[member], copy, allocator);
      document.AddMember(rapidjson::StringRef(member), copy, allocator);
    }
  } else {
    rapidjson::Value copy;
    GoxHost::CopyJson(payload, copy, allocator);
    document.AddMember("data", copy, allocator);
  }
  return ValidUtf8(line.Text());
}

std::string EventHub::Stream::Next(std::chrono::milliseconds timeout, std::size_t* dropped) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
  if (dropped != nullptr) *dropped = std::exchange(dropped_, 0);
  if (queue_.empty()) return {};
  std::string next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

std::shared_ptr<EventHub::Stream> EventHub::Open(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  if (streams_.size() >= maxStreams_) return nullptr;
  auto stream = std::make_shared<Stream>();
  stream->capacity_ = queueCapacity_;
  stream->wake_ = std::move(wake);
  streams_.push_back(stream);
  return stream;
}

void EventHub::Close(const std::shared_ptr<Stream>& stream) {
  std::lock_guard lock(mutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

void EventHub::Publish(const GoxHost::QueuedEvent& event) {
  std::vector<std::shared_ptr<Stream>> streams;
  {
    std::lock_guard lock(mutex_);
    if (streams_.empty()) return;
    streams = streams_;
  }
  const std::string text = EventJson(event);
  for (const std::shared_ptr<Stream>& stream : streams) {
    {
      std::lock_guard lock(stream->mutex_);
      if (stream->queue_.size() >= stream->capacity_) {
        stream->queue_.pop_front();
        ++stream->dropped_;
      }
      stream->queue_.push_back(text);
    }
    stream->ready_.notify_one();
    if (stream->wake_) stream->wake_();
  }
}

std::size_t EventHub::OpenStreams() const {
  std::lock_guard lock(mutex_);
  return streams_.size();
}

}  // namespace GoxHostApp
