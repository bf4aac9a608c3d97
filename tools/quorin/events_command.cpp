#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <latch>
#include <sstream>
#include <thread>

#include "formats/json.hpp"
#include "host.hpp"
#include "stdin_value.hpp"

namespace quorin::cli {
namespace {

using formats::Value;

class EventPrinter {
 public:
  explicit EventPrinter(bool json) : json_(json) {}

  void print(std::string_view event) const {
    if (json_) {
      std::cout << formats::writeJson(Value(formats::Dictionary{{"event", std::string(event)}}))
                       .value_or("{}")
                << std::endl;
    } else {
      std::cout << event << std::endl;
    }
  }

  // An event that reports the storefront's country: null in JSON when there is none.
  void printCountry(std::string_view event, const std::optional<std::string>& country) const {
    if (json_) {
      formats::Dictionary line{{"event", std::string(event)},
                               {"country", country ? Value(*country) : Value()}};
      std::cout << formats::writeJson(visibleInJson(Value(line))).value_or("{}") << std::endl;
    } else {
      std::cout << event << " " << country.value_or("none") << std::endl;
    }
  }

 private:
  bool json_;
};

// What a host line asks for, applied on the main thread as the system would post it.
bool apply(const std::string& line, Host& host, const EventPrinter& printer) {
  std::istringstream words(line);
  std::string command, country, identifier;
  words >> command >> country >> identifier;
  auto& platform = *host.platform;
  auto post = [&](std::string_view name) {
    platform.notificationCenter().post({std::string(name), &platform.application(), std::nullopt});
  };
  if (command == "foreground") {
    post(platform::kWillEnterForegroundNotification);
  } else if (command == "background") {
    post(platform::kDidEnterBackgroundNotification);
  } else if (command == "active") {
    post(platform::kDidBecomeActiveNotification);
  } else if (command == "resign") {
    post(platform::kWillResignActiveNotification);
  } else if (command == "storefront" && country.empty()) {
    std::cerr << "quorin: storefront needs a country code (storefront CODE [ID]) or none\n";
  } else if (command == "storefront") {
    std::optional<platform::Storefront> storefront;
    if (country != "none") storefront = platform::Storefront{country, identifier};
    platform.simulatedPaymentQueue().changeStorefront(storefront);
    printer.printCountry("storefront", host.client->storeCountry());
  } else if (command == "quit") {
    return false;
  } else if (!command.empty()) {
    std::cerr << "quorin: unknown event '" << command
              << "' (foreground, background, active, resign, storefront CODE|none, quit)\n";
  }
  return true;
}

// A stop counts only while the loop runs, and the main thread may not have started it yet;
// a stop posted as a task always lands inside the run.
void endRun(platform::common::RunLoop& loop) {
  loop.async([&loop] { loop.stop(); });
}

// Reads host lines from standard input and watches for SIGINT and SIGTERM, handing both
// to the main loop; ends at end of input, on a signal, or on "quit".
void feed(int signals, Host& host, const EventPrinter& printer) {
  auto& loop = host.platform->mainLoop();
  std::string pending;
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
  while (true) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) break;
    char buffer[4096];
    ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    for (auto newline = pending.find('\n'); newline != std::string::npos;
         newline = pending.find('\n')) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      bool more = true;
      std::latch applied(1);
      loop.async([&] {
        more = apply(line, host, printer);
        applied.count_down();
      });
      applied.wait();
      if (!more) return endRun(loop);
    }
  }
  endRun(loop);
}

}  // namespace

int runEvents(const GlobalOptions& options) {
  if (standardInputWasClosed()) {
    std::cerr << "quorin: standard input is closed; events reads the system's side from it\n";
    return 2;
  }
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  int signals = ::signalfd(-1, &mask, SFD_CLOEXEC);
  if (signals < 0) {
    std::cerr << "quorin: cannot watch signals\n";
    return 2;
  }

  Host host(options);
  EventPrinter printer(options.json);
  auto& client = *host.client;
  client.setOnApplicationEnterForeground([&] { printer.print("onApplicationEnterForeground"); });
  client.setOnApplicationEnterBackground([&] { printer.print("onApplicationEnterBackground"); });
  client.setOnApplicationDidBecomeActive([&] { printer.print("onApplicationDidBecomeActive"); });
  client.setOnApplicationWillResignActive([&] { printer.print("onApplicationWillResignActive"); });
  printer.printCountry("ready", client.storeCountry());

  std::thread feeder(feed, signals, std::ref(host), std::cref(printer));
  host.platform->mainLoop().run();
  feeder.join();
  client.dispose();
  ::close(signals);
  return 0;
}

}  // namespace quorin::cli
