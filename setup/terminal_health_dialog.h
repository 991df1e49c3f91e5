#pragma once
// The interactive health check's dialog on a terminal, for `qz381-setup
// health` at a keyboard: the device's description and status, then a prompt
// that prints the test page or ends the dialog.
#include <iosfwd>

#include "co/pos_printer.h"

namespace qz381::setup {

class TerminalHealthDialog : public co::HealthDialogProvider {
 public:
  TerminalHealthDialog(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  // "p" prints (the status is shown again before each prompt), "e" or the end
  // of the input ends the dialog; anything else asks again.
  void ShowHealthDialog(co::HealthDialog& dialog) override;

 private:
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace qz381::setup
