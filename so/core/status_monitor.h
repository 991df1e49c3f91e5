#pragma once
// StatusMonitor: what the printer's status blocks and the port's power state mean
// for one device: the printer status properties (CoverOpen, RecEmpty,
// RecNearEnd, PowerState, the cartridges), the failure that stops output, and
// which status events to raise, each change once.
#include <cstdint>
#include <mutex>

#include "so/output/output_queue.h"

namespace qz381::so {

class StatusMonitor {
 public:
  // Called with no lock of the monitor held, on the thread that fed the block.
  class Listener {
   public:
    virtual void PostStatus(int32_t code) = 0;
    // The printer has come on line: it has forgotten everything it was told.
    virtual void PrinterCameOnline() = 0;

   protected:
    ~Listener() = default;
  };
  // Which conditions the printer has sensors for (the capability profile).
  struct Sensors {
    bool cover = false;
    bool paper = false;  // receipt empty or near its end
  };

  explicit StatusMonitor(Listener& listener);
  StatusMonitor(const StatusMonitor&) = delete;
  StatusMonitor& operator=(const StatusMonitor&) = delete;

  // Every method may be called from any thread.

  // As a newly opened device: nothing known or reported, notifications off.
  void Reset(const Sensors& sensors);
  // Claimed: nothing reported yet in this claim.
  void ForgetReported();
  // Blocks and power states count only while enabled. Disabling forgets the
  // power and cartridge states and what was reported.
  void Enable();
  void Disable();

  // A 4-byte automatic status block, a cartridge block, a power state.
  void OnAsbBlock(const uint8_t* block);
  void OnCartridgeBlock(const uint8_t* block);
  void OnPowerState(int32_t code);

  // The status that stops output, first match: the printer's failure, cover
  // open, paper out, power off or off-line. (0, 0) when output may go.
  output::ResultPair OutputCheck();
  // Whether a status event with this code still describes the condition last
  // reported (codes outside the printer's status ranges always do).
  bool StillCurrent(int32_t code);

  // The properties.
  int32_t PowerState();
  int32_t CoverOpen();
  int32_t RecEmpty();
  int32_t RecNearEnd();
  int32_t RecCartridgeState();
  int32_t PowerNotify();
  int32_t CartridgeNotify();
  int32_t RecCurrentCartridge();
  // The callers have checked the values against the device state and the
  // capabilities. Choosing a cartridge makes its state unknown until reported.
  void SetPowerNotify(int32_t value);
  void SetCartridgeNotify(int32_t value);
  void SetRecCurrentCartridge(int32_t number);

 private:
  int32_t Read(const int32_t& field);

  Listener& listener_;
  std::mutex mutex_;  // everything below
  Sensors sensors_;
  bool enabled_ = false;
  int32_t power_notify_ = 0, cartridge_notify_ = 0, rec_current_cartridge_ = 1;
  int32_t power_state_;
  int32_t rec_cartridge_state_, primary_cartridge_, second_cartridge_;
  int32_t cartridge_extended_ = 0;
  int32_t cover_open_ = 0, rec_empty_ = 0, rec_near_end_ = 0, failure_code_ = 0;
  // The status last reported of each kind; -1 (or 0) when none yet.
  int32_t last_cover_ = -1, last_paper_ = -1, last_power_ = -1, last_cartridge_ = 0;
};

}  // namespace qz381::so
