// The printing methods: each checks the device state and its arguments, turns its
// data into printer commands and hands them to the output queue.
#include <algorithm>
#include <cstdio>

#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/port_channel.h"
#include "so/core/pos_printer.h"
#include "so/output/barcode.h"
#include "so/output/binary_conversion.h"
#include "so/output/translate.h"

namespace qz381::so {

using namespace qz381::opos;

std::string CPOSPrinter::Translate(std::string data, int32_t* translation_result) {
  output::ApplyBinaryConversion(data, props_.BinaryConversion());
  std::string bytes;
  PropertyTable::Locked settings = props_.Lock();
  int32_t rc = output::TranslatePrintData(settings.out, data, bytes);
  if (translation_result) *translation_result = rc;
  return bytes;
}

int32_t CPOSPrinter::Submit(bool async, std::vector<std::string> list) {
  output::ResultPair r = queue_->SubmitOutput(async, std::move(list));
  return Fail(r.result, r.extended);
}

int32_t CPOSPrinter::PrintNormal(int32_t station, const std::string& data) {
  if (!CheckState(kClaimedEnabledIdle)) return result_code_;
  if (station != PTR_S_RECEIPT) return Fail(OPOS_E_ILLEGAL);
  return Submit(async_mode_ != 0, {Translate(data)});
}

int32_t CPOSPrinter::PrintImmediate(int32_t station, const std::string& data) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if (station != PTR_S_RECEIPT) return Fail(OPOS_E_ILLEGAL);
  return Submit(false, {Translate(data)});
}

int32_t CPOSPrinter::PrintTwoNormal(int32_t, const std::string&, const std::string&) {
  return Fail(OPOS_E_ILLEGAL);  // no second station
}

int32_t CPOSPrinter::CutPaper(int32_t percentage) {
  if (!CheckState(kClaimedEnabledIdle)) return result_code_;
  if (percentage < 0 || percentage > 100 || props_.Lock().out.CapRecPapercut == 0)
    return Fail(OPOS_E_ILLEGAL);
  char sequence[16];
  std::snprintf(sequence, sizeof sequence, "\x1B|%dP", static_cast<int>(percentage));
  std::string bytes;
  {
    PropertyTable::Locked settings = props_.Lock();
    output::TranslatePrintData(settings.out, sequence, bytes);
  }
  return Submit(async_mode_ != 0, {std::move(bytes)});
}

int32_t CPOSPrinter::RotatePrint(int32_t station, int32_t rotation) {
  if (!CheckState(kClaimedEnabledIdle)) return result_code_;
  if (station != PTR_S_RECEIPT || (rotation != PTR_RP_NORMAL && rotation != PTR_RP_RIGHT90 &&
                                   rotation != PTR_RP_LEFT90 && rotation != PTR_RP_ROTATE180))
    return Fail(OPOS_E_ILLEGAL);
  PropertyTable::Locked settings = props_.Lock();
  settings.out.rotation = rotation;
  settings.out.PendingSettings |= output::kPendingRotation;
  return Fail(OPOS_SUCCESS);
}

int32_t CPOSPrinter::TransactionPrint(int32_t station, int32_t control) {
  if (!CheckState(kClaimedEnabledIdle)) return result_code_;
  if (station != PTR_S_RECEIPT) return Fail(OPOS_E_ILLEGAL);
  if (control == PTR_TP_TRANSACTION) {
    queue_->BeginTransaction();
    return Fail(OPOS_SUCCESS);
  }
  if (!queue_->InTransaction()) return Fail(OPOS_E_ILLEGAL);
  output::ResultPair r = queue_->EndTransaction(async_mode_ != 0);
  return Fail(r.result, r.extended);
}

int32_t CPOSPrinter::ValidateData(int32_t, const std::string& data) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  std::string converted = data;
  output::ApplyBinaryConversion(converted, props_.BinaryConversion());
  // Checked on a copy: validating must not consume pending settings or change
  // the character size that later output relies on.
  output::SharedOutputState scratch_shared;
  output::DeviceSettings scratch;
  {
    PropertyTable::Locked settings = props_.Lock();
    scratch = settings.out;
    scratch_shared.SetUnits(settings.out.shared->Units());
    scratch_shared.SetCharacterSize(settings.out.shared->CharacterSize());
  }
  scratch.shared = &scratch_shared;
  scratch.trace = nullptr;
  std::string bytes;
  return Fail(output::TranslatePrintData(scratch, converted, bytes));
}

int32_t CPOSPrinter::SetLogo(int32_t location, const std::string& data) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if (location != 1 && location != 2) return Fail(OPOS_E_ILLEGAL);
  std::string bytes = data;
  output::ApplyBinaryConversion(bytes, props_.BinaryConversion());
  PropertyTable::Locked settings = props_.Lock();
  (location == 1 ? settings.out.top_logo : settings.out.bottom_logo) = std::move(bytes);
  return Fail(OPOS_SUCCESS);
}

int32_t CPOSPrinter::pageModePrint(int32_t control) {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  if (props_.Lock().page.PageModeStation != PTR_S_RECEIPT || props_.caps().CapRecPageMode == 0 ||
      control < PTR_PM_PAGE_MODE || control > PTR_PM_CANCEL)
    return Fail(OPOS_E_ILLEGAL);
  switch (control) {
    case PTR_PM_PAGE_MODE:
      queue_->EnterPageMode();
      return Fail(OPOS_SUCCESS);
    case PTR_PM_PRINT_SAVE:
    case PTR_PM_NORMAL: {
      // A page that did not print is reported, not answered with success.
      output::ResultPair r = queue_->PrintPage(control == PTR_PM_PRINT_SAVE);
      return Fail(r.result, r.extended);
    }
    default:
      queue_->CancelPageMode();
      return Fail(OPOS_SUCCESS);
  }
}

int32_t CPOSPrinter::ClearPrintArea() {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  props_.ResetPrintArea();
  return pageModePrint(PTR_PM_CANCEL);
}

int32_t CPOSPrinter::ClearOutput() {
  if (!CheckState(kClaimedEnabled)) return result_code_;
  queue_->ClearOutput();
  return Fail(OPOS_SUCCESS);
}

int32_t CPOSPrinter::PrintBarCode(int32_t station, const std::string& data, int32_t symbology,
                                  int32_t height, int32_t width, int32_t alignment,
                                  int32_t text_position) {
  if (!CheckState(kClaimedEnabledIdle)) return result_code_;
  platform::Trace("data : %s", data.c_str());
  platform::Trace("Symbology : %d   Height : %d  Width : %d  Alignment:%d TextPosition:%d",
                  static_cast<int>(symbology), static_cast<int>(height), static_cast<int>(width),
                  static_cast<int>(alignment), static_cast<int>(text_position));
  if (props_.caps().CapRecBarCode == 0 || station != PTR_S_RECEIPT ||
      props_.RotateSpecial() != PTR_RP_NORMAL) {
    return Fail(OPOS_E_ILLEGAL);
  }
  output::BarcodeRequest request;
  {
    PropertyTable::Locked settings = props_.Lock();
    if (width > settings.metrics.RecLineWidth) return Fail(OPOS_E_ILLEGAL, OPOS_EPTR_TOOBIG);
    const output::UnitTables units = settings.out.shared->Units();
    request.width = width > 0
                        ? output::MapUnits(width, units.UnitsToHorizontalDots, settings.out.MapMode)
                        : width;
    // A height too small to reach one dot is still a height: one dot.
    request.height =
        height > 0 ? std::max<int32_t>(1, output::MapUnits(height, units.UnitsToHorizontalDots,
                                                           settings.out.MapMode))
                   : height;
    request.compressed_font = settings.out.RecLineChars > settings.out.LinecharsNormal;
  }
  request.symbology = symbology;
  request.alignment = alignment;
  request.text_position = text_position;
  request.data = data;
  output::ApplyBinaryConversion(request.data, props_.BinaryConversion());
  std::string bytes;
  if (output::EncodeBarcode(request, &bytes) != OPOS_SUCCESS) {
    platform::Trace("PrintBarCode: symbology %d does not take this data",
                    static_cast<int>(symbology));
    return Fail(OPOS_E_ILLEGAL);
  }
  return Submit(async_mode_ != 0, {std::move(bytes)});
}

// --- the output queue's view of this device --------------------------------

std::string CPOSPrinter::BuildPrologue() {
  PropertyTable::Locked settings = props_.Lock();
  const uint8_t before = settings.out.PendingSettings;
  std::string prologue = output::BuildModePrologue(settings.out);
  last_prologue_settings_ = before & static_cast<uint8_t>(~settings.out.PendingSettings);
  return prologue;
}

void CPOSPrinter::PrologueNotSent() {
  PropertyTable::Locked settings = props_.Lock();
  settings.out.PendingSettings |= last_prologue_settings_;
}

void CPOSPrinter::OutputDiscarded() {
  PropertyTable::Locked settings = props_.Lock();
  settings.out.PendingSettings = output::kPendingAll;
}

std::string CPOSPrinter::PageModeHeader() {
  std::string header = "\x1B\x4C\x1B\x54";
  header.push_back(static_cast<char>(props_.Lock().page.PageModePrintDirection - 1));
  return header;
}

output::ResultPair CPOSPrinter::StatusCheck() {
  return status_.OutputCheck();
}

void CPOSPrinter::ResetRotation() {
  PropertyTable::Locked settings = props_.Lock();
  settings.out.rotation = PTR_RP_NORMAL;
  settings.out.PendingSettings |= output::kPendingRotation;
}

bool CPOSPrinter::LockPort(int32_t timeout_ms) {
  PortChannel* channel = channel_.get();
  return channel && channel->LockChannel(timeout_ms);
}

void CPOSPrinter::UnlockPort() {
  if (PortChannel* channel = channel_.get()) channel->UnlockChannel();
}

int32_t CPOSPrinter::WritePortBytes(const uint8_t* bytes, int32_t count) {
  PortChannel* channel = channel_.get();
  if (!channel) return 0;
  port_writes_.fetch_add(1);
  const int32_t written = port_writes_aborted_.load() ? 0 : channel->WriteChannel(bytes, count);
  port_writes_.fetch_sub(1);
  return written;
}

void CPOSPrinter::AbortPortWrites() {
  port_writes_aborted_.store(true);
  PortChannel* channel = channel_.get();
  if (channel && port_writes_.load() != 0) channel->AbortWrite();
}

int32_t CPOSPrinter::ReadPortBytes(uint8_t* buffer, int32_t count, uint32_t timeout_ms) {
  PortChannel* channel = channel_.get();
  return channel ? channel->ReadChannel(buffer, count, timeout_ms) : 0;
}

void CPOSPrinter::ClearPort() {
  if (PortChannel* channel = channel_.get()) channel->ClearChannel();
}

uint32_t CPOSPrinter::PortLosses() {
  PortChannel* channel = channel_.get();
  return channel ? channel->power_losses() : 0;
}

void CPOSPrinter::SetState(int32_t state) {
  std::lock_guard<std::mutex> guard(state_mutex_);
  if (state_ != OPOS_S_CLOSED) state_ = state;
}

void CPOSPrinter::PostOutputComplete(int32_t output_id) {
  delivery_.Post(EventRecord::OutputComplete(output_id));
}

void CPOSPrinter::PostError(int32_t rc, int32_t rce, int32_t locus, int32_t response) {
  delivery_.ExpectErrorResponse();
  delivery_.Post(EventRecord::Error(rc, rce, locus, response));
}

void CPOSPrinter::PostIdle() {
  delivery_.Post(EventRecord::StatusUpdate(PTR_SUE_IDLE));
}

bool CPOSPrinter::WaitErrorResponse(platform::Event& stop, int32_t* response) {
  return delivery_.WaitErrorResponse(stop, response);
}

}  // namespace qz381::so
