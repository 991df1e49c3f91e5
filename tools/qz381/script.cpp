#include "tools/qz381/script.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <istream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "co/pos_printer.h"
#include "common/dispatch_methods.h"
#include "common/opos.h"
#include "common/properties.h"

namespace qz381::tool {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

std::optional<std::vector<Token>> Tokenize(std::string_view line, std::string* error) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    Token t;
    if (line[i] != '"') {
      while (i < line.size() && !IsBlank(line[i])) t.text.push_back(line[i++]);
      tokens.push_back(std::move(t));
      continue;
    }
    t.quoted = true;
    ++i;
    bool closed = false;
    while (i < line.size()) {
      char c = line[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c != '\\') {
        t.text.push_back(c);
        continue;
      }
      if (i >= line.size()) break;
      char e = line[i++];
      switch (e) {
        case 'n':
          t.text.push_back('\n');
          break;
        case 'r':
          t.text.push_back('\r');
          break;
        case 't':
          t.text.push_back('\t');
          break;
        case '\\':
          t.text.push_back('\\');
          break;
        case '"':
          t.text.push_back('"');
          break;
        case 'x': {
          int hi = i < line.size() ? HexValue(line[i]) : -1;
          int lo = i + 1 < line.size() ? HexValue(line[i + 1]) : -1;
          if (hi < 0 || lo < 0) {
            *error = "\\x needs two hexadecimal digits";
            return std::nullopt;
          }
          t.text.push_back(static_cast<char>(hi * 16 + lo));
          i += 2;
          break;
        }
        default:
          *error = std::string("unknown escape \\") + e;
          return std::nullopt;
      }
    }
    if (!closed) {
      *error = "unterminated string";
      return std::nullopt;
    }
    tokens.push_back(std::move(t));
  }
  return tokens;
}

std::string Quote(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

std::optional<int32_t> ParseNumber(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  int64_t v = 0;
  for (char c : s) {
    int d = HexValue(c);
    if (d < 0 || d >= base) return std::nullopt;
    v = v * base + d;
    if (v > 0xFFFFFFFFll) return std::nullopt;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(v & 0xFFFFFFFF));
}

namespace {

// Prints events as the control object receives them and lets the script wait
// for them.
class EventLog : public co::EventListener {
 public:
  explicit EventLog(std::ostream& out) : out_(out) {}

  void OnStatusUpdate(int32_t data) override {
    Record("StatusUpdate", data, "event StatusUpdate " + std::to_string(data));
  }
  void OnOutputComplete(int32_t id) override {
    Record("OutputComplete", id, "event OutputComplete " + std::to_string(id));
  }
  void OnError(int32_t rc, int32_t rce, int32_t locus, int32_t* response) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (respond_) *response = *respond_;
    }
    Record("Error", rc,
           "event Error " + std::to_string(rc) + " " + std::to_string(rce) + " " +
               std::to_string(locus) + " " + std::to_string(*response));
  }
  void OnDirectIO(int32_t number, int32_t* data, std::string* text) override {
    Record("DirectIO", number,
           "event DirectIO " + std::to_string(number) + " " + std::to_string(*data) + " " +
               Quote(*text));
  }

  void Print(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex_);
    out_ << line << '\n' << std::flush;
  }
  void SetResponse(int32_t response) {
    std::lock_guard<std::mutex> guard(mutex_);
    respond_ = response;
  }
  // Takes the oldest event of that kind (and value) not yet waited for.
  bool Wait(const std::string& kind, std::optional<int32_t> value, int32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto match = [&] {
      for (auto it = pending_.begin(); it != pending_.end(); ++it)
        if (it->kind == kind && (!value || it->value == *value)) {
          pending_.erase(it);
          return true;
        }
      return false;
    };
    return cv_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), match);
  }

 private:
  struct Seen {
    std::string kind;
    int32_t value;
  };
  void Record(const char* kind, int32_t value, const std::string& line) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      out_ << line << '\n' << std::flush;
      pending_.push_back(Seen{kind, value});
    }
    cv_.notify_all();
  }

  std::ostream& out_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Seen> pending_;
  std::optional<int32_t> respond_;
};

bool IsEventKind(const std::string& k) {
  return k == "StatusUpdate" || k == "OutputComplete" || k == "Error" || k == "DirectIO";
}

}  // namespace

int RunScript(std::istream& in, std::ostream& out, std::ostream& err,
              platform::Registry& registry) {
  EventLog log(out);
  co::PosPrinter printer(registry);
  printer.AddListener(&log);

  std::string line;
  int line_no = 0;
  auto fail = [&](const std::string& why) {
    err << "qz381 script: line " << line_no << ": " << why << std::endl;
    return 2;
  };

  while (std::getline(in, line)) {
    ++line_no;
    std::string error;
    auto tokens = Tokenize(line, &error);
    if (!tokens) return fail(error);
    if (tokens->empty() || (*tokens)[0].text.empty()) continue;
    if (!(*tokens)[0].quoted && (*tokens)[0].text[0] == '#') continue;
    const std::string word = (*tokens)[0].text;
    std::vector<Token> args(tokens->begin() + 1, tokens->end());

    auto number_arg = [&](size_t i) -> std::optional<int32_t> {
      if (i >= args.size() || args[i].quoted) return std::nullopt;
      return ParseNumber(args[i].text);
    };

    if (word == "open") {
      if (args.size() != 1) return fail("open takes one device name");
      int32_t rc = printer.Open(args[0].text);
      int32_t rce = printer.IsOpen() ? printer.ResultCodeExtended() : 0;
      log.Print("result Open " + std::to_string(rc) + " " + std::to_string(rce));
    } else if (word == "get") {
      if (args.size() != 1) return fail("get takes one property name");
      const opos::PropertyInfo* p = opos::FindProperty(args[0].text);
      if (!p) return fail("unknown property '" + args[0].text + "'");
      if (p->kind == opos::PropertyKind::kNumber) {
        int32_t v = 0;
        printer.GetNumber(p->name, &v);
        log.Print("value " + std::string(p->name) + " " + std::to_string(v));
      } else {
        std::string v;
        printer.GetString(p->name, &v);
        log.Print("value " + std::string(p->name) + " " + Quote(v));
      }
    } else if (word == "set") {
      if (args.size() != 2) return fail("set takes a property name and a value");
      const opos::PropertyInfo* p = opos::FindProperty(args[0].text);
      if (!p) return fail("unknown property '" + args[0].text + "'");
      int32_t rc = 0;
      if (p->kind == opos::PropertyKind::kNumber) {
        auto v = number_arg(1);
        if (!v) return fail("'" + std::string(p->name) + "' takes a number");
        printer.SetNumber(p->name, *v, &rc);
      } else {
        printer.SetString(p->name, args[1].text, &rc);
      }
      int32_t rce = printer.IsOpen() ? printer.ResultCodeExtended() : 0;
      log.Print("result " + std::string(p->name) + " " + std::to_string(rc) + " " +
                std::to_string(rce));
    } else if (word == "sleep") {
      auto ms = number_arg(0);
      if (args.size() != 1 || !ms || *ms < 0) return fail("sleep takes milliseconds");
      std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
    } else if (word == "respond") {
      auto n = number_arg(0);
      if (args.size() != 1 || !n) return fail("respond takes a number");
      log.SetResponse(*n);
    } else if (word == "wait-event") {
      if (args.empty() || args.size() > 3 || !IsEventKind(args[0].text))
        return fail("wait-event takes an event kind, an optional value and milliseconds");
      std::optional<int32_t> value;
      if (args.size() == 3) {
        value = number_arg(1);
        if (!value) return fail("wait-event: the value must be a number");
      }
      auto ms = number_arg(args.size() - 1);
      if (args.size() < 2 || !ms) return fail("wait-event: milliseconds missing");
      if (!log.Wait(args[0].text, value, *ms)) log.Print("timeout " + args[0].text);
    } else if (int id = opos::DispatchIdOf(word); id != 0) {
      const opos::DispatchMethod& m = opos::kDispatchMethods[id - 1];
      if (m.name == "OpenService") return fail("use 'open NAME' to open a device");
      if (args.size() != m.params.size())
        return fail(std::string(m.name) + " takes " + std::to_string(m.params.size()) +
                    " argument(s)");
      std::vector<co::Arg> call;
      for (size_t i = 0; i < m.params.size(); ++i) {
        char kind = m.params[i];
        if (kind == 'S' || kind == 's') {
          call.push_back(co::Arg::String(args[i].text));
        } else {
          auto v = number_arg(i);
          if (!v)
            return fail(std::string(m.name) + ": argument " + std::to_string(i + 1) +
                        " must be a number");
          call.push_back(co::Arg::Long(*v));
        }
      }
      int32_t rc = printer.Call(m.name, call);
      int32_t rce = printer.IsOpen() ? printer.ResultCodeExtended() : 0;
      log.Print("result " + std::string(m.name) + " " + std::to_string(rc) + " " +
                std::to_string(rce));
    } else {
      return fail("unknown command '" + word + "'");
    }
  }
  printer.RemoveListener(&log);
  return 0;
}

}  // namespace qz381::tool
