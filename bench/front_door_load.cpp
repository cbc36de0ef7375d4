// Requests per second and p99 latency through gox-host with 64 keep-alive clients, for a resource GET
// and for the inventory endpoint (which calls gox-services), and the memory 1,000 idle connections
// cost gox-host. The executables are the built ones unless --host and --services name others (for
// the same load against another build of them on the same machine).
//
//   build/default/bench/bench_front_door_load [--clients 64] [--seconds 10] [--host PATH --services PATH]

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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
#include "tests/support/raw_http_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Flag(int argc, char** argv, const char* name, std::string fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == name) return argv[i + 1];
  return fallback;
}

// Resident memory of a process in KiB.
long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

struct Result {
  double perSecond = 0;
  double p99Ms = 0;
  long failed = 0;
};

Result Load(int port, const std::string& path, int clients, int seconds) {
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<long> failed = 0;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_read_timeout(std::chrono::seconds(10));
      std::vector<double> mine;
      while (Clock::now() < end) {
        const auto start = Clock::now();
        httplib::Result result = client.Get(path);
        if (!result || result->status != 200) ++failed;
        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
      std::lock_guard lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  for (std::thread& thread : threads)
    thread.join();
  Result result;
  result.failed = failed;
  if (latencies.empty()) return result;
  std::sort(latencies.begin(), latencies.end());
  result.perSecond = static_cast<double>(latencies.size()) / seconds;
  result.p99Ms = latencies[latencies.size() * 99 / 100];
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const int clients = std::stoi(Flag(argc, argv, "--clients", "64"));
  const int seconds = std::stoi(Flag(argc, argv, "--seconds", "10"));
  const std::string hostPath = Flag(argc, argv, "--host", GOX_HOST_PATH);
  const std::string servicesPath = Flag(argc, argv, "--services", GOX_SERVICES_PATH);

  GoxHostTest::ChildProcess services(servicesPath, {"--listen", "127.0.0.1:0"});
  const int servicesPort = GoxHostTest::PortAfter(services.ReadLine(milliseconds(30000)),
                                                  "gox-services listening on http://127.0.0.1:");
  GoxHostTest::ChildProcess host(hostPath, {"--listen", "127.0.0.1:0", "--services-url",
                                            "http://127.0.0.1:" + std::to_string(servicesPort)});
  const int port =
      GoxHostTest::PortAfter(host.ReadLine(milliseconds(30000)), "gox-host listening on http://127.0.0.1:");
  if (servicesPort <= 0 || port <= 0) {
    std::fprintf(stderr, "the servers did not start:\n%s%s", services.ErrorOutput().c_str(),
                 host.ErrorOutput().c_str());
    return 1;
  }
  std::printf("%s: %d keep-alive clients, %d s per path\n", hostPath.c_str(), clients, seconds);
  const char* paths[] = {"/gox-loadouts/v1/enabled", "/gox-loadouts/v1/inventory?inventoryTypes="};
  for (const char* path : paths) {
    (void)Load(port, path, clients, 1);  // warm-up
    const Result result = Load(port, path, clients, seconds);
    std::printf("  GET %-45s %9.0f requests/s  p99 %7.2f ms  failed %ld\n", path, result.perSecond,
                result.p99Ms, result.failed);
  }
  const long before = ResidentKiB(host.Pid());
  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) {
    const char* sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    const int fd = GoxHostTest::ConnectFrom(port, sources[i % 4]);
    if (fd >= 0) idle.push_back(fd);
  }
  std::this_thread::sleep_for(milliseconds(1000));
  const long after = ResidentKiB(host.Pid());
  std::printf("  1,000 idle connections (%zu open): gox-host resident memory %ld KiB -> %ld KiB (%+ld KiB)\n",
              idle.size(), before, after, after - before);
  for (int fd : idle)
    close(fd);
  host.Signal(SIGTERM);
  services.Signal(SIGTERM);
  host.Wait(milliseconds(20000));
  services.Wait(milliseconds(20000));
  return 0;
}
