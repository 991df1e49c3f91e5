// No spooler on POSIX yet: there are no printers to take off a serial port.
#include "platform/spooler.h"

namespace qz381::platform {
namespace {

class NoPrinters final : public Spooler {
 public:
  Status EnumLocalPrinters(std::vector<PrinterPort>* out) override {
    out->clear();
    return Status::Ok();
  }
  Status GetPrinterPort(std::string_view printer, std::string*) override {
    return Status::Fail(Outcome::kNotFound,
                        "spooler: no printers here: '" + std::string(printer) + "'");
  }
  Status SetPrinterPort(std::string_view printer, std::string_view) override {
    return Status::Fail(Outcome::kNotFound,
                        "spooler: no printers here: '" + std::string(printer) + "'");
  }
};

}  // namespace

Spooler& DefaultSpooler() {
  static NoPrinters spooler;
  return spooler;
}

}  // namespace qz381::platform
