// The output methods. Until the output queue is in place they check the device
// state as every device method does and then refuse with a trace line, so an
// application learns at once that nothing was printed.
#include "common/opos.h"
#include "platform/trace.h"
#include "so/core/pos_printer.h"

namespace qz381::so {

using namespace qz381::opos;

namespace {
int32_t NotAvailable(const char* method) {
  platform::Trace("%s: output is not available in this build", method);
  return OPOS_E_FAILURE;
}
}  // namespace

#define QZ381_OUTPUT_METHOD(name)          \
  if (!CheckState(3)) return result_code_; \
  return Fail(NotAvailable(name))

int32_t CPOSPrinter::CheckHealth(int32_t) {
  QZ381_OUTPUT_METHOD("CheckHealth");
}
int32_t CPOSPrinter::DirectIO(int32_t, int32_t*, std::string*) {
  QZ381_OUTPUT_METHOD("DirectIO");
}
int32_t CPOSPrinter::CutPaper(int32_t) {
  QZ381_OUTPUT_METHOD("CutPaper");
}
int32_t CPOSPrinter::PrintBarCode(int32_t, const std::string&, int32_t, int32_t, int32_t, int32_t,
                                  int32_t) {
  QZ381_OUTPUT_METHOD("PrintBarCode");
}
int32_t CPOSPrinter::PrintBitmap(int32_t, const std::string&, int32_t, int32_t) {
  QZ381_OUTPUT_METHOD("PrintBitmap");
}
int32_t CPOSPrinter::PrintImmediate(int32_t, const std::string&) {
  QZ381_OUTPUT_METHOD("PrintImmediate");
}
int32_t CPOSPrinter::PrintNormal(int32_t, const std::string&) {
  QZ381_OUTPUT_METHOD("PrintNormal");
}
int32_t CPOSPrinter::PrintTwoNormal(int32_t, const std::string&, const std::string&) {
  QZ381_OUTPUT_METHOD("PrintTwoNormal");
}
int32_t CPOSPrinter::RotatePrint(int32_t, int32_t) {
  QZ381_OUTPUT_METHOD("RotatePrint");
}
int32_t CPOSPrinter::SetBitmap(int32_t, int32_t, const std::string&, int32_t, int32_t) {
  QZ381_OUTPUT_METHOD("SetBitmap");
}
int32_t CPOSPrinter::SetLogo(int32_t, const std::string&) {
  QZ381_OUTPUT_METHOD("SetLogo");
}
int32_t CPOSPrinter::TransactionPrint(int32_t, int32_t) {
  QZ381_OUTPUT_METHOD("TransactionPrint");
}
int32_t CPOSPrinter::ValidateData(int32_t, const std::string&) {
  QZ381_OUTPUT_METHOD("ValidateData");
}
int32_t CPOSPrinter::ClearPrintArea() {
  QZ381_OUTPUT_METHOD("ClearPrintArea");
}
int32_t CPOSPrinter::pageModePrint(int32_t) {
  QZ381_OUTPUT_METHOD("pageModePrint");
}

#undef QZ381_OUTPUT_METHOD

// Nothing is queued yet, so there is nothing to discard.
int32_t CPOSPrinter::ClearOutput() {
  if (!CheckState(1)) return result_code_;
  return Fail(OPOS_SUCCESS);
}

}  // namespace qz381::so
