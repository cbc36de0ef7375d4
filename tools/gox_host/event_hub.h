// EventHub: hands every event the host delivers to the open /events streams.
//
// Each stream has its own bounded queue, so a slow reader never holds up the plugin thread or the
// other readers: when a queue is full its oldest event is dropped and the stream is told how many it
// missed. Publish may be called from any thread; a stream opened with a wake callback has it called
// (on the publishing thread, outside the hub's locks) after each event it queues, so that its reader
// takes the event without polling.

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/event_router.h"

namespace GoxHostApp {

// The one-line JSON text of an event: {"event": name, "uri", "eventType", "data"} for resource events
// ({uri, eventType, data} payloads), {"event": name, "data": payload} for any other.
[[nodiscard]] std::string EventJson(const GoxHost::QueuedEvent& event);

class EventHub {
 public:
  class Stream {
   public:
    // The next event's JSON text, waiting at most `timeout`; empty when none came. `dropped` tells how
    // many events were dropped before it because the queue was full.
    [[nodiscard]] std::string Next(std::chrono::milliseconds timeout, std::size_t* dropped);

   private:
    friend class EventHub;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queue_;
    std::size_t dropped_ = 0;
    std::size_t capacity_ = 0;
    std::function<void()> wake_;
  };

  // By default there is no cap on streams beyond the front door's connection caps.
  explicit EventHub(std::size_t maxStreams = std::numeric_limits<std::size_t>::max(),
                    std::size_t queueCapacity = 1024)
      : maxStreams_(maxStreams), queueCapacity_(queueCapacity) {}

  // A new stream that receives every event published from now on; null when maxStreams are open.
  [[nodiscard]] std::shared_ptr<Stream> Open(std::function<void()> wake = {});
  void Close(const std::shared_ptr<Stream>& stream);
  void Publish(const GoxHost::QueuedEvent& event);
  [[nodiscard]] std::size_t OpenStreams() const;

 private:
  std::size_t maxStreams_;
  std::size_t queueCapacity_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Stream>> streams_;
};

}  // namespace GoxHostApp
