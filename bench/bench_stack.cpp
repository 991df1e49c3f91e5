#include "bench/bench_stack.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/registry.h"
#include "setup/install.h"

namespace qz381::bench {

namespace fs = std::filesystem;

Stack::Stack(const StackOptions& options, co::EventListener* listener) {
  dir_ = fs::temp_directory_path() /
         ("qz381-bench-" +
          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir_);
  setenv("QZ381_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
  auto& reg = platform::DefaultRegistry();
  setup::InstallLayout layout;
  layout.install_dir = QZ381_INSTALL_FILES;
  layout.vexlink = QZ381_VEXLINK_MODULE;
  layout.com = QZ381_COM_MODULE;
  layout.usb = (dir_ / "no-usb").string();
  for (const auto& st :
       {setup::WriteProductKey(reg, layout), setup::RegisterServiceObject(QZ381_SO_MODULE),
        setup::CreateDevice(reg, QZ381_INSTALL_FILES, options.device, options.port, true)}) {
    if (!st.ok()) std::fprintf(stderr, "bench stack: %s\n", st.ToString().c_str());
  }
  sim::SimulatorOptions sim_options;
  sim_options.port_name = options.port;
  sim_options.keep_in_memory = options.keep_in_memory;
  if (options.raw_file) sim_options.raw_path = RawPath().string();
  std::string error;
  printer_ = sim::Simulator::Start(sim_options, &error);
  if (!printer_) std::fprintf(stderr, "bench stack: the virtual printer: %s\n", error.c_str());
  co_ = std::make_unique<co::PosPrinter>();  // after the registry is chosen
  co_->AddListener(listener);
  int32_t rc = 0;
  ok_ = printer_ && co_->Open(options.device) == 0 && co_->ClaimDevice(1000) == 0 &&
        co_->SetNumber("DeviceEnabled", 1, &rc) && rc == 0 && co_->SetNumber("AsyncMode", 1, &rc);
}

Stack::~Stack() {
  co_->ReleaseDevice();
  co_->Close();
  co_.reset();
  if (printer_) printer_->Stop();
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

}  // namespace qz381::bench
