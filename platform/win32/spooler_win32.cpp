// The print spooler on Win32: level-2 printer records, whose pPortName is the
// printer's port list. SetPrinter with level 2 writes back the whole record, so
// the security descriptor is left out (null keeps the printer's own).
#include <windows.h>
#include <winspool.h>

#include <vector>

#include "platform/spooler.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace {

class PrinterHandle {
 public:
  ~PrinterHandle() {
    if (h_) ::ClosePrinter(h_);
  }
  HANDLE* out() { return &h_; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_ = nullptr;
};

// The printer's level-2 record in `buffer`; null and a status on failure.
PRINTER_INFO_2A* ReadRecord(HANDLE printer, const std::string& name, std::vector<BYTE>* buffer,
                            Status* status) {
  DWORD need = 0;
  ::GetPrinterA(printer, 2, nullptr, 0, &need);
  if (need == 0) {
    *status = win32::Fail(::GetLastError(), "spooler: read printer '" + name + "'");
    return nullptr;
  }
  buffer->assign(need, 0);
  if (!::GetPrinterA(printer, 2, buffer->data(), need, &need)) {
    *status = win32::Fail(::GetLastError(), "spooler: read printer '" + name + "'");
    return nullptr;
  }
  *status = Status::Ok();
  return reinterpret_cast<PRINTER_INFO_2A*>(buffer->data());
}

class Win32Spooler final : public Spooler {
 public:
  Status EnumLocalPrinters(std::vector<PrinterPort>* out) override {
    out->clear();
    DWORD need = 0, count = 0;
    ::EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &need, &count);
    if (need == 0) {
      const DWORD error = ::GetLastError();
      // No printers at all leaves nothing to size.
      if (error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_SUCCESS) return Status::Ok();
      return win32::Fail(error, "spooler: list local printers");
    }
    std::vector<BYTE> buffer(need);
    if (!::EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), need, &need, &count)) {
      return win32::Fail(::GetLastError(), "spooler: list local printers");
    }
    const auto* records = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      out->push_back({records[i].pPrinterName ? records[i].pPrinterName : "",
                      records[i].pPortName ? records[i].pPortName : ""});
    }
    return Status::Ok();
  }

  Status GetPrinterPort(std::string_view printer, std::string* port) override {
    const std::string name(printer);
    PrinterHandle handle;
    if (!::OpenPrinterA(const_cast<char*>(name.c_str()), handle.out(), nullptr)) {
      return win32::Fail(::GetLastError(), "spooler: open printer '" + name + "'");
    }
    std::vector<BYTE> buffer;
    Status status;
    PRINTER_INFO_2A* record = ReadRecord(handle.get(), name, &buffer, &status);
    if (!record) return status;
    *port = record->pPortName ? record->pPortName : "";
    return Status::Ok();
  }

  Status SetPrinterPort(std::string_view printer, std::string_view port) override {
    const std::string name(printer);
    PRINTER_DEFAULTSA rights = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    PrinterHandle handle;
    if (!::OpenPrinterA(const_cast<char*>(name.c_str()), handle.out(), &rights)) {
      return win32::Fail(::GetLastError(), "spooler: open printer '" + name + "' to change it");
    }
    std::vector<BYTE> buffer;
    Status status;
    PRINTER_INFO_2A* record = ReadRecord(handle.get(), name, &buffer, &status);
    if (!record) return status;
    std::string new_port(port);
    record->pPortName = new_port.data();
    record->pSecurityDescriptor = nullptr;
    if (!::SetPrinterA(handle.get(), 2, reinterpret_cast<BYTE*>(record), 0)) {
      return win32::Fail(::GetLastError(), "spooler: set the port of '" + name + "'");
    }
    return Status::Ok();
  }
};

}  // namespace

Spooler& DefaultSpooler() {
  static Win32Spooler spooler;
  return spooler;
}

}  // namespace qz381::platform
