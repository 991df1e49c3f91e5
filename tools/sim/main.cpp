// qz381-sim: the virtual QZ381 receipt printer on a pseudo-terminal or on TCP.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "tools/sim/control.h"
#include "tools/sim/control_server.h"
#include "tools/sim/simulator.h"

namespace {

constexpr const char* kUsage =
    "usage: qz381-sim [--port COMn | --tcp ADDRESS:PORT] [--registry FILE]\n"
    "                 [--journal FILE] [--raw FILE] [--control SOCKET]\n"
    "                 [--scenario FILE] [--baud N] [--print-path]\n"
    "                 [--render DIR] [--two-colour] [--no-stdin]\n"
    "Plays a QZ381 printer on a new pseudo-terminal. With --port the terminal is\n"
    "registered as that serial port name (in --registry FILE, or the default\n"
    "registry) until the simulator ends; without it, its path is printed.\n"
    "With --tcp it is a network printer instead, listening on a loopback address\n"
    "(127.0.0.1:9100; port 0 picks a free one), and prints ADDRESS:PORT.\n"
    "--render DIR draws the receipt: one PNG per cut, DIR/receipt-NNN.png;\n"
    "with --two-colour as a two-colour model (the second colour in red).\n"
    "What cannot be drawn is journaled as RENDER lines.\n"
    "Operator commands come one per line from standard input (unless --no-stdin),\n"
    "from the control socket and from the scenario file; see tools/sim/README.md.\n"
    "Ends on 'quit', SIGINT, SIGTERM, or the end of standard input.\n";

struct Arguments {
  std::string port, tcp, registry, journal, raw, control, scenario, render;
  uint32_t baud = 0;
  bool print_path = false;
  bool use_stdin = true;
  bool two_colour = false;
};

bool ParseArguments(int argc, char** argv, Arguments* a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (arg == "--port") {
      if (!value(&a->port)) return false;
    } else if (arg == "--tcp") {
      if (!value(&a->tcp)) return false;
    } else if (arg == "--registry") {
      if (!value(&a->registry)) return false;
    } else if (arg == "--journal") {
      if (!value(&a->journal)) return false;
    } else if (arg == "--raw") {
      if (!value(&a->raw)) return false;
    } else if (arg == "--render") {
      if (!value(&a->render)) return false;
    } else if (arg == "--two-colour") {
      a->two_colour = true;
    } else if (arg == "--control") {
      if (!value(&a->control)) return false;
    } else if (arg == "--scenario") {
      if (!value(&a->scenario)) return false;
    } else if (arg == "--baud") {
      std::string text;
      if (!value(&text)) return false;
      char* end = nullptr;
      const unsigned long baud = std::strtoul(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || baud > 4000000) return false;
      a->baud = static_cast<uint32_t>(baud);
    } else if (arg == "--print-path") {
      a->print_path = true;
    } else if (arg == "--no-stdin") {
      a->use_stdin = false;
    } else {
      return false;
    }
  }
  return a->port.empty() || a->tcp.empty();
}

// Reads operator commands from standard input until it ends or `wake_fd`
// becomes readable; the end of input asks the program to quit.
void StdinLoop(qz381::sim::Simulator& sim, int wake_fd) {
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return;
    char buffer[1024];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string reply = sim.Execute(pending.substr(0, end));
      pending.erase(0, end + 1);
      std::printf("%s\n", reply.c_str());
      std::fflush(stdout);
    }
  }
  kill(getpid(), SIGUSR1);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!ParseArguments(argc, argv, &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::vector<qz381::sim::ScenarioStep> scenario;
  if (!args.scenario.empty()) {
    std::ifstream file(args.scenario);
    std::string error;
    if (!file) {
      std::fprintf(stderr, "qz381-sim: cannot open scenario %s\n", args.scenario.c_str());
      return 2;
    }
    if (!qz381::sim::ParseScenario(file, &scenario, &error)) {
      std::fprintf(stderr, "qz381-sim: %s: %s\n", args.scenario.c_str(), error.c_str());
      return 2;
    }
  }

  // Signals are taken by sigwait below only; every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);  // quit from a command or from the end of input
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<qz381::platform::Registry> registry;
  qz381::sim::SimulatorOptions options;
  options.port_name = args.port;
  options.tcp_address = args.tcp;
  if (!args.registry.empty()) {
    registry = qz381::platform::OpenRegistryFile(args.registry);
    options.registry = registry.get();
  }
  options.journal_path = args.journal;
  options.raw_path = args.raw;
  options.render_path = args.render;
  options.two_colour = args.two_colour;
  options.baud = args.baud;
  options.keep_in_memory = false;
  options.on_quit = [] { kill(getpid(), SIGUSR1); };

  std::string error;
  auto sim = qz381::sim::Simulator::Start(std::move(options), &error);
  if (!sim) {
    std::fprintf(stderr, "qz381-sim: %s\n", error.c_str());
    return 1;
  }
  if (!args.tcp.empty()) {
    std::printf("%s\n", sim->NetworkAddress().c_str());
    std::fflush(stdout);
  } else if (args.print_path || args.port.empty()) {
    std::printf("%s\n", sim->SlavePath().c_str());
    std::fflush(stdout);
  }
  if (!args.port.empty()) {
    std::fprintf(stderr, "qz381-sim: %s is %s\n", args.port.c_str(), sim->SlavePath().c_str());
  }

  std::unique_ptr<qz381::sim::ControlServer> control;
  if (!args.control.empty()) {
    control = qz381::sim::ControlServer::Start(*sim, args.control, &error);
    if (!control) {
      std::fprintf(stderr, "qz381-sim: %s\n", error.c_str());
      return 1;
    }
  }
  if (!scenario.empty()) sim->RunScenario(std::move(scenario));

  int stdin_wake[2] = {-1, -1};
  std::thread stdin_thread;
  if (args.use_stdin) {
    if (pipe(stdin_wake) != 0) {
      std::perror("qz381-sim: pipe");
      return 1;
    }
    stdin_thread = std::thread(StdinLoop, std::ref(*sim), stdin_wake[0]);
  }

  int signal_number = 0;
  sigwait(&signals, &signal_number);

  // The simulator first: that cuts short a `sleep` the control thread may be in.
  sim->Stop();
  if (control) control->Stop();
  if (stdin_thread.joinable()) {
    const char b = 1;
    [[maybe_unused]] auto n = write(stdin_wake[1], &b, 1);
    stdin_thread.join();
    close(stdin_wake[0]);
    close(stdin_wake[1]);
  }
  return 0;
}
