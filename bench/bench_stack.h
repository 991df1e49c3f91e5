#pragma once
// The whole stack on a virtual printer, for the programs here that drive it as
// an application would: a private registry file with the service installed, a
// virtual printer on a pseudo-terminal as the device's port, and the control
// object with the device opened, claimed, enabled and in asynchronous mode.
#include <filesystem>
#include <memory>
#include <string>

#include "co/pos_printer.h"
#include "tools/sim/simulator.h"

namespace qz381::bench {

struct StackOptions {
  std::string device = "QZ381Bench";
  std::string port = "COM39";
  bool keep_in_memory = false;  // the printer's received bytes, for RawBytes()
  bool raw_file = false;        // the received bytes in `dir`/raw.bin
};

class Stack {
 public:
  // `listener` is added before the device opens; it must outlive the stack.
  Stack(const StackOptions& options, co::EventListener* listener);
  ~Stack();
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  bool ok() const { return ok_; }
  sim::Simulator& printer() { return *printer_; }
  co::PosPrinter& control() { return *co_; }
  std::filesystem::path RawPath() const { return dir_ / "raw.bin"; }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<sim::Simulator> printer_;
  std::unique_ptr<co::PosPrinter> co_;
  bool ok_ = false;
};

}  // namespace qz381::bench
