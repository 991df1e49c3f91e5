#pragma once
// The print spooler as Vexlink uses it: list the local printers with their
// ports, and change the port of one printer. While the service holds a serial
// port it moves every printer on that port to "FILE:" and puts them back later.
//
// POSIX has no spooler of ours yet: DefaultSpooler() knows no printers, so the
// move and the move back do nothing. A CUPS backend can come later; a Win32 one
// maps these calls onto EnumPrinters / OpenPrinter / GetPrinter / SetPrinter.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qz381::platform {

struct PrinterPort {
  std::string printer;  // the printer's name
  std::string port;     // its port string; pooled printers list several ("COM1:,COM2:")
};

// All methods may block on the spooler for a moment; safe from any thread.
class Spooler {
 public:
  virtual ~Spooler() = default;
  // The local printers in the spooler's order; Ok and empty when there are none.
  virtual Status EnumLocalPrinters(std::vector<PrinterPort>* out) = 0;
  // kNotFound when no printer has that name (the caller skips it); any other
  // failure means the spooler refused to read it.
  virtual Status GetPrinterPort(std::string_view printer, std::string* port) = 0;
  virtual Status SetPrinterPort(std::string_view printer, std::string_view port) = 0;
};

Spooler& DefaultSpooler();

}  // namespace qz381::platform
