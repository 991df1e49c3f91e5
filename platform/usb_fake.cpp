#include "platform/usb_fake.h"

#include <algorithm>
#include <atomic>

namespace qz381::platform {

namespace {

struct Printer {
  UsbPrinterInfo info;
  std::shared_ptr<FakeSerialLine> line;
  std::shared_ptr<std::atomic<bool>> unplugged = std::make_shared<std::atomic<bool>>(false);
};

class FakeWatch;

}  // namespace

struct FakeUsbPrinters::Tree {
  std::mutex mutex;
  FakeSerialPorts lines;  // by node
  std::vector<Printer> printers;
  std::vector<FakeWatch*> watches;
  int next_node = 0;
  UsbPrinterInfo last;

  void Tell(const UsbChangeNote& note);  // mutex held
};

namespace {

class FakeWatch final : public UsbWatch {
 public:
  FakeWatch(std::shared_ptr<FakeUsbPrinters::Tree> tree, std::function<void()> changed)
      : tree_(std::move(tree)), changed_(std::move(changed)) {
    std::lock_guard hold(tree_->mutex);
    tree_->watches.push_back(this);
  }
  ~FakeWatch() override {
    std::lock_guard hold(tree_->mutex);
    std::erase(tree_->watches, this);
  }
  // Under the tree's mutex, on the plugging thread (the watch thread of this
  // backend), so the callback never runs once the destructor has returned.
  void Note(const UsbChangeNote& note) {
    if (notes_.Push(note)) changed_();
  }
  std::vector<UsbChangeNote> Take() override { return notes_.Take(); }
  bool Overflowed() override { return notes_.Overflowed(); }

 private:
  std::shared_ptr<FakeUsbPrinters::Tree> tree_;
  std::function<void()> changed_;
  UsbNoteQueue notes_;
};

// The printer's line as a USB device: once it is unplugged every failure, and
// every call after it, says the printer is gone.
class FakeUsbDevice final : public UsbDevice {
 public:
  FakeUsbDevice(UsbPrinterInfo info, std::unique_ptr<SerialDevice> line,
                std::shared_ptr<std::atomic<bool>> unplugged)
      : info_(std::move(info)), line_(std::move(line)), unplugged_(std::move(unplugged)) {}

  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (*unplugged_) return Gone("read");
    const Status status = line_->Read(buffer, timeout_ms, got);
    return !status.ok() && *unplugged_ ? Gone("read") : status;
  }
  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    if (*unplugged_) return Gone("write");
    line_->SetTimeouts({0, 0, 0, 0, std::max<uint32_t>(timeout_ms, 1)});
    const Status status = line_->Write(data, written);
    return !status.ok() && *unplugged_ ? Gone("write") : status;
  }
  void Interrupt() override { line_->Interrupt(); }
  const std::string& path() const override { return info_.path; }
  const std::string& node() const override { return info_.node; }

 private:
  Status Gone(const char* operation) const {
    return Status::Fail(Outcome::kNotFound, info_.path + ": " + operation + ": unplugged");
  }
  UsbPrinterInfo info_;
  std::unique_ptr<SerialDevice> line_;
  std::shared_ptr<std::atomic<bool>> unplugged_;
};

}  // namespace

void FakeUsbPrinters::Tree::Tell(const UsbChangeNote& note) {
  for (FakeWatch* watch : watches) watch->Note(note);
}

FakeUsbPrinters::FakeUsbPrinters() : tree_(std::make_shared<Tree>()) {}
FakeUsbPrinters::~FakeUsbPrinters() = default;

std::shared_ptr<FakeSerialLine> FakeUsbPrinters::Plug(UsbPrinterInfo info,
                                                      const std::string& port_chain) {
  if (info.path.empty()) {
    info.path = UsbInterfacePath(info.vendor, info.product, info.serial, port_chain);
  }
  std::lock_guard hold(tree_->mutex);
  if (info.node.empty()) info.node = "/dev/usb/lp" + std::to_string(tree_->next_node++);
  std::erase_if(tree_->printers, [&](const Printer& p) { return p.info.path == info.path; });
  Printer printer{info, tree_->lines.AddLine(info.node)};
  tree_->printers.push_back(printer);
  tree_->last = info;
  tree_->Tell({UsbChange::kArrival, info.path, info.node});
  return printer.line;
}

bool FakeUsbPrinters::Unplug(const std::string& path) {
  std::lock_guard hold(tree_->mutex);
  auto it = std::find_if(tree_->printers.begin(), tree_->printers.end(),
                         [&](const Printer& p) { return p.info.path == path; });
  if (it == tree_->printers.end()) return false;
  *it->unplugged = true;
  it->line->HangUp();
  const UsbChangeNote note{UsbChange::kRemoval, it->info.path, it->info.node};
  tree_->printers.erase(it);
  tree_->Tell(note);
  return true;
}

UsbPrinterInfo FakeUsbPrinters::LastPlugged() const {
  std::lock_guard hold(tree_->mutex);
  return tree_->last;
}

Status FakeUsbPrinters::Enumerate(std::vector<UsbPrinterInfo>* out) {
  std::lock_guard hold(tree_->mutex);
  out->clear();
  for (const Printer& p : tree_->printers) out->push_back(p.info);
  return Status::Ok();
}

std::unique_ptr<UsbDevice> FakeUsbPrinters::Open(std::string_view path, Status* status) {
  Printer printer;
  {
    std::lock_guard hold(tree_->mutex);
    auto it = std::find_if(tree_->printers.begin(), tree_->printers.end(),
                           [&](const Printer& p) { return p.info.path == path; });
    if (it == tree_->printers.end()) {
      if (status) {
        *status = Status::Fail(Outcome::kNotFound,
                               "USB printer '" + std::string(path) + "' is not attached");
      }
      return nullptr;
    }
    printer = *it;
  }
  std::unique_ptr<SerialDevice> line = tree_->lines.Open(printer.info.node, status);
  if (!line) return nullptr;
  return std::make_unique<FakeUsbDevice>(printer.info, std::move(line), printer.unplugged);
}

std::unique_ptr<UsbWatch> FakeUsbPrinters::Watch(std::function<void()> changed, Status* status) {
  if (status) *status = Status::Ok();
  return std::make_unique<FakeWatch>(tree_, std::move(changed));
}

namespace {

Status Injected(UsbCall call, Outcome outcome, std::string_view name) {
  static const char* const kNames[] = {"enumerate", "open", "watch", "read", "write"};
  return Status::Fail(
      outcome, std::string(name) + ": injected failure of " + kNames[static_cast<int>(call)]);
}

class FaultInjectingUsbDevice final : public UsbDevice {
 public:
  FaultInjectingUsbDevice(std::unique_ptr<UsbDevice> inner,
                          std::shared_ptr<FaultPlan<UsbCall>> faults)
      : inner_(std::move(inner)), faults_(std::move(faults)) {}
  Status Read(std::span<uint8_t> buffer, uint32_t timeout_ms, size_t* got) override {
    *got = 0;
    if (auto fail = faults_->Next(UsbCall::kRead)) return Injected(UsbCall::kRead, *fail, path());
    return inner_->Read(buffer, timeout_ms, got);
  }
  Status Write(std::span<const uint8_t> data, uint32_t timeout_ms, size_t* written) override {
    *written = 0;
    if (auto fail = faults_->Next(UsbCall::kWrite)) return Injected(UsbCall::kWrite, *fail, path());
    return inner_->Write(data, timeout_ms, written);
  }
  void Interrupt() override { inner_->Interrupt(); }
  const std::string& path() const override { return inner_->path(); }
  const std::string& node() const override { return inner_->node(); }

 private:
  std::unique_ptr<UsbDevice> inner_;
  std::shared_ptr<FaultPlan<UsbCall>> faults_;
};

}  // namespace

FaultInjectingUsbPrinters::FaultInjectingUsbPrinters(UsbPrinters& inner)
    : inner_(inner), faults_(std::make_shared<FaultPlan<UsbCall>>()) {}

void FaultInjectingUsbPrinters::FailCall(UsbCall call, int nth, FaultMode mode, Outcome outcome) {
  faults_->Fail(call, nth, mode, outcome);
}
void FaultInjectingUsbPrinters::ClearFaults() {
  faults_->Clear();
}
int FaultInjectingUsbPrinters::Calls(UsbCall call) const {
  return faults_->Count(call);
}

Status FaultInjectingUsbPrinters::Enumerate(std::vector<UsbPrinterInfo>* out) {
  if (auto fail = faults_->Next(UsbCall::kEnumerate)) {
    out->clear();
    return Injected(UsbCall::kEnumerate, *fail, "USB printers");
  }
  return inner_.Enumerate(out);
}

std::unique_ptr<UsbDevice> FaultInjectingUsbPrinters::Open(std::string_view path, Status* status) {
  if (auto fail = faults_->Next(UsbCall::kOpen)) {
    if (status) *status = Injected(UsbCall::kOpen, *fail, path);
    return nullptr;
  }
  std::unique_ptr<UsbDevice> device = inner_.Open(path, status);
  if (!device) return nullptr;
  return std::make_unique<FaultInjectingUsbDevice>(std::move(device), faults_);
}

std::unique_ptr<UsbWatch> FaultInjectingUsbPrinters::Watch(std::function<void()> changed,
                                                           Status* status) {
  if (auto fail = faults_->Next(UsbCall::kWatch)) {
    if (status) *status = Injected(UsbCall::kWatch, *fail, "USB watch");
    return nullptr;
  }
  return inner_.Watch(std::move(changed), status);
}

}  // namespace qz381::platform
