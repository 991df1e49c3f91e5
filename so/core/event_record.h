#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/opos.h"

namespace qz381::so {

// One event on its way to the control object; the queue owns it until delivery.
struct EventRecord {
  int32_t kind = 0;  // opos::kEvent*
  // DirectIO: event number, data.      Error: result code, extended, locus, response.
  // OutputComplete: output id.         StatusUpdate: status code.
  int32_t a = 0, b = 0, c = 0, d = 0;
  std::string text;  // DirectIO string

  static std::unique_ptr<EventRecord> Make(int32_t kind, int32_t a, int32_t b = 0, int32_t c = 0,
                                           int32_t d = 0, std::string text = {}) {
    auto r = std::make_unique<EventRecord>();
    r->kind = kind;
    r->a = a;
    r->b = b;
    r->c = c;
    r->d = d;
    r->text = std::move(text);
    return r;
  }
  static std::unique_ptr<EventRecord> StatusUpdate(int32_t code) {
    return Make(opos::kEventStatusUpdate, code);
  }
  static std::unique_ptr<EventRecord> OutputComplete(int32_t id) {
    return Make(opos::kEventOutputComplete, id);
  }
  static std::unique_ptr<EventRecord> Error(int32_t rc, int32_t rce, int32_t locus,
                                            int32_t response) {
    return Make(opos::kEventError, rc, rce, locus, response);
  }
  static std::unique_ptr<EventRecord> DirectIO(int32_t number, int32_t data, std::string text) {
    return Make(opos::kEventDirectIO, number, data, 0, 0, std::move(text));
  }
};

}  // namespace qz381::so
