// Load run against gox-host and gox-services together: many clients store, read back and delete their
// own loadouts through gox-host's endpoints for a while, and the run reports failed calls, read-backs
// that differ from what the client stored, throughput and the memory of both processes.
//
//   build/default/bench/bench_services_load [--clients 200] [--seconds 30] [--warmup 5] [--no-keep-alive]
//
// Clients join over the first second and keep their connection alive between calls unless told not to;
// with --no-keep-alive every call is a new connection to gox-host. A call closed unanswered counts as a
// failure.
// Exit status 0 when no call failed, every read-back matched and neither process grew by more than
// kMaxGrowthKiB after warm-up; 1 otherwise. A load run, not a timed test: it belongs to bench/.

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using GoxHostTest::ChildProcess;
using std::chrono::milliseconds;

constexpr long kMaxGrowthKiB = 8 * 1024;

struct Owned {
  const char* type;
  int ids[3];
  int count;
};
// What gox-host's default player owns.
constexpr Owned kOwned[] = {
    {"BANNER", {1, 2, 3}, 3}, {"EMOTE", {10, 11, 0}, 2}, {"COMPANION", {100, 0, 0}, 1}};

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return -1;
}

struct Totals {
  int clients = 0;
  bool keepAlive = true;
  std::atomic<long> calls = 0;
  std::atomic<long> failed = 0;
  std::atomic<long> mixedUp = 0;
  std::mutex mutex;
  std::vector<std::string> firstProblems;
  std::vector<double> latenciesMs;

  void Problem(const std::string& text) {
    const std::lock_guard lock(mutex);
    if (firstProblems.size() < 10) firstProblems.push_back(text);
  }
};

// One client: its own loadout id, a value no other client stores, store-read-delete-read until `end`.
void Client(int port, int index, Clock::time_point end, Totals& totals) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(totals.keepAlive);
  client.set_connection_timeout(std::chrono::seconds(30));
  client.set_read_timeout(std::chrono::seconds(120));
  const Owned& owned = kOwned[index % 3];
  const std::string id = std::to_string(10000 + index);
  const std::string itemsPath = "/gox-loadouts/v2/items/" + id;
  const std::string readPath = itemsPath + "/" + owned.type;
  const std::string deletePath = itemsPath + "?inventoryType=" + owned.type;
  std::vector<double> latencies;
  const auto call = [&](const char* what, auto&& send, int wantStatus, const std::string& wantBody) {
    const auto start = Clock::now();
    httplib::Result result = send();
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    ++totals.calls;
    if (!result) {
      ++totals.failed;
      totals.Problem(std::string(what) + " " + id + ": " + httplib::to_string(result.error()));
      return;
    }
    if (result->status != wantStatus) {
      ++totals.failed;
      totals.Problem(std::string(what) + " " + id + ": " + std::to_string(result->status) + " " +
                     result->body);
    } else if (result->body != wantBody) {
      ++totals.mixedUp;
      totals.Problem(std::string(what) + " " + id + ": read " + result->body + " after storing " + wantBody);
    }
  };
  // Clients join over the first second, as players would, rather than in one burst of connections.
  std::this_thread::sleep_for(milliseconds(index * 1000 / std::max(1, totals.clients)));
  for (long round = 0; Clock::now() < end; ++round) {
    const std::string value = R"({"itemId":)" + std::to_string(owned.ids[round % owned.count]) +
                              R"(,"tag":"client )" + std::to_string(index) + " round " +
                              std::to_string(round) + R"("})";
    const std::string body = std::string(R"({")") + owned.type + R"(":)" + value + "}";
    call(
        "store", [&] { return client.Post(itemsPath, body, "application/json"); }, 204, "");
    call(
        "read", [&] { return client.Get(readPath); }, 200, value);
    call(
        "delete", [&] { return client.Delete(deletePath); }, 204, "");
    call(
        "read deleted", [&] { return client.Get(readPath); }, 204, "");
  }
  const std::lock_guard lock(totals.mutex);
  totals.latenciesMs.insert(totals.latenciesMs.end(), latencies.begin(), latencies.end());
}

int Flag(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == name) return std::stoi(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int clients = Flag(argc, argv, "--clients", 200);
  const int seconds = Flag(argc, argv, "--seconds", 30);
  const int warmup = Flag(argc, argv, "--warmup", 5);
  signal(SIGPIPE, SIG_IGN);

  ChildProcess services(GOX_SERVICES_PATH, {"--listen", "127.0.0.1:0"});
  const int servicesPort = GoxHostTest::PortAfter(services.ReadLine(milliseconds(30000)),
                                                  "gox-services listening on http://127.0.0.1:");
  if (servicesPort <= 0) {
    std::fprintf(stderr, "gox-services did not start:\n%s", services.ErrorOutput().c_str());
    return 1;
  }
  ChildProcess host(GOX_HOST_PATH, {"--listen", "127.0.0.1:0", "--services-url",
                                    "http://127.0.0.1:" + std::to_string(servicesPort)});
  const int hostPort =
      GoxHostTest::PortAfter(host.ReadLine(milliseconds(30000)), "gox-host listening on http://127.0.0.1:");
  if (hostPort <= 0) {
    std::fprintf(stderr, "gox-host did not start:\n%s", host.ErrorOutput().c_str());
    return 1;
  }
  Totals totals;
  totals.clients = clients;
  for (int i = 1; i < argc; ++i)
    totals.keepAlive = totals.keepAlive && std::string(argv[i]) != "--no-keep-alive";
  std::printf("%d clients (%s) for %d s against gox-host :%d and gox-services :%d\n", clients,
              totals.keepAlive ? "keep-alive" : "a connection per call", seconds, hostPort, servicesPort);

  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back(Client, hostPort, i, end, std::ref(totals));

  // Memory once a second; the warm-up's samples are not compared.
  long hostAtWarmup = -1, servicesAtWarmup = -1, hostPeak = 0, servicesPeak = 0;
  for (int second = 1; Clock::now() < end; ++second) {
    std::this_thread::sleep_until(start + std::chrono::seconds(second));
    const long hostKiB = ResidentKiB(host.Pid());
    const long servicesKiB = ResidentKiB(services.Pid());
    if (second == warmup) {
      hostAtWarmup = hostKiB;
      servicesAtWarmup = servicesKiB;
    }
    if (second >= warmup) {
      hostPeak = std::max(hostPeak, hostKiB);
      servicesPeak = std::max(servicesPeak, servicesKiB);
    }
    std::printf("  %3d s  calls %8ld  failed %ld  mixed up %ld  RSS host %ld KiB  services %ld KiB\n", second,
                totals.calls.load(), totals.failed.load(), totals.mixedUp.load(), hostKiB, servicesKiB);
    std::fflush(stdout);
  }
  for (std::thread& thread : threads)
    thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const long hostEnd = ResidentKiB(host.Pid());
  const long servicesEnd = ResidentKiB(services.Pid());

  std::sort(totals.latenciesMs.begin(), totals.latenciesMs.end());
  const auto percentile = [&](double p) {
    return totals.latenciesMs.empty()
               ? 0.0
               : totals.latenciesMs[static_cast<std::size_t>(p * (totals.latenciesMs.size() - 1))];
  };
  std::printf("calls %ld in %.1f s: %.0f calls/s; latency p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              totals.calls.load(), elapsed, totals.calls.load() / elapsed, percentile(0.5), percentile(0.99),
              percentile(1.0));
  std::printf("failed calls %ld, mixed-up read-backs %ld\n", totals.failed.load(), totals.mixedUp.load());
  for (const std::string& problem : totals.firstProblems)
    std::printf("  %s\n", problem.c_str());
  const long hostGrowth = hostPeak - hostAtWarmup;
  const long servicesGrowth = servicesPeak - servicesAtWarmup;
  std::printf(
      "RSS after warm-up -> peak -> end: gox-host %ld -> %ld -> %ld KiB (+%ld), gox-services %ld -> %ld -> "
      "%ld KiB (+%ld)\n",
      hostAtWarmup, hostPeak, hostEnd, hostGrowth, servicesAtWarmup, servicesPeak, servicesEnd,
      servicesGrowth);

  host.Signal(SIGTERM);
  services.Signal(SIGTERM);
  const bool stopped = host.Wait(milliseconds(30000)) == 0 && services.Wait(milliseconds(30000)) == 0;
  const bool flat = hostGrowth <= kMaxGrowthKiB && servicesGrowth <= kMaxGrowthKiB;
  const bool ok = totals.failed == 0 && totals.mixedUp == 0 && flat && stopped && totals.calls > 0;
  if (!ok) {
    const auto tail = [](const std::string& log) {
      return log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
    };
    std::printf("gox-host log (end):\n%s\ngox-services log (end):\n%s\n", tail(host.ErrorOutput()).c_str(),
                tail(services.ErrorOutput()).c_str());
  }
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
