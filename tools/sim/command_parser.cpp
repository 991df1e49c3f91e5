#include "tools/sim/command_parser.h"

#include <algorithm>

#include "tools/sim/command_table.h"

namespace qz381::sim {

using namespace commands;

void CommandParser::Feed(std::span<const uint8_t> bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (phase_ == Phase::kPayload) {
      // Image data comes in bulk; copy it in one go rather than byte by byte.
      const uint64_t take = std::min<uint64_t>(payload_remaining_, bytes.size() - i);
      const size_t room = kMaxStoredPayload - std::min(kMaxStoredPayload, current_.data.size());
      current_.data.append(reinterpret_cast<const char*>(bytes.data() + i),
                           static_cast<size_t>(std::min<uint64_t>(take, room)));
      payload_remaining_ -= take;
      i += static_cast<size_t>(take);
      if (payload_remaining_ == 0) EndPayload();
      continue;
    }
    FeedByte(bytes[i++]);
  }
}

void CommandParser::FeedByte(uint8_t byte) {
  switch (phase_) {
    case Phase::kText:
      if (IsText(byte)) {
        text_ += static_cast<char>(byte);
        if (text_.size() >= kMaxTextRun) EmitText();
        return;
      }
      EmitText();
      StartCommand(byte);
      return;
    case Phase::kIdle:
      StartCommand(byte);
      return;
    case Phase::kHeader:
      HeaderByte(byte);
      return;
    case Phase::kTerminated:
      if (byte == kNul) {
        EmitCurrent();
        return;
      }
      current_.data += static_cast<char>(byte);
      ++current_.data_length;
      if (current_.data.size() >= terminated_limit_) EmitCurrent();
      return;
    case Phase::kSegmentHeader:
      SegmentHeaderByte(byte);
      return;
    case Phase::kPayload:
      return;  // handled in bulk by Feed
  }
}

void CommandParser::EndPayload() {
  if (segments_left_ > 0) {
    phase_ = Phase::kSegmentHeader;
    return;
  }
  EmitCurrent();
}

void CommandParser::SegmentHeaderByte(uint8_t byte) {
  const Entry& entry = *static_cast<const Entry*>(entry_);
  segment_header_.push_back(byte);
  if (current_.data.size() < kMaxStoredPayload) current_.data += static_cast<char>(byte);
  ++current_.data_length;
  if (segment_header_.size() < SegmentHeaderSize(entry)) return;
  const uint64_t length = SegmentLength(entry, current_.params, segment_header_);
  segment_header_.clear();
  --segments_left_;
  current_.data_length += length;
  if (length > 0) {
    payload_remaining_ = length;
    phase_ = Phase::kPayload;
  } else if (segments_left_ == 0) {
    EmitCurrent();
  }
}

void CommandParser::StartCommand(uint8_t byte) {
  if (IsText(byte)) {
    phase_ = Phase::kText;
    text_.assign(1, static_cast<char>(byte));
    return;
  }
  current_ = Command{};
  switch (byte) {
    case kNul:
      current_.op = Op::kNul;
      break;
    case kHt:
      current_.op = Op::kHorizontalTab;
      break;
    case kLf:
      current_.op = Op::kLineFeed;
      break;
    case kCr:
      current_.op = Op::kCarriageReturn;
      break;
    case kFf:
      current_.op = Op::kFormFeed;
      break;
    case kCan:
      current_.op = Op::kCancelPage;
      break;
    default:
      if (IsPrefix(byte)) {
        header_.assign(1, byte);
        entry_ = nullptr;
        phase_ = Phase::kHeader;
        return;
      }
      EmitUnknown(std::string(1, static_cast<char>(byte)));
      return;
  }
  current_.name = ControlName(byte);
  EmitCurrent();
}

void CommandParser::HeaderByte(uint8_t byte) {
  if (entry_ == nullptr) {
    header_.push_back(byte);
    bool need_more = false;
    const Entry* entry = MatchEntry(header_, &need_more);
    if (entry == nullptr && need_more) return;
    if (entry == nullptr) {
      // An unknown function. When the byte that made it unknown is itself a
      // control byte, it is more likely the start of the next command than a
      // parameter: leave it to be parsed again.
      header_.pop_back();
      if (byte >= 0x20) {
        header_.push_back(byte);
        EmitUnknown(std::string(header_.begin(), header_.end()));
        return;
      }
      EmitUnknown(std::string(header_.begin(), header_.end()));
      FeedByte(byte);
      return;
    }
    entry_ = entry;
    prefix_length_ = header_.size();
    current_ = Command{};
    current_.op = OpOf(*entry, header_);
    current_.name = Mnemonic(header_);
  } else {
    current_.params.push_back(byte);
  }
  const Entry& entry = *static_cast<const Entry*>(entry_);
  if (current_.params.size() < ParamsNeeded(entry, current_.params)) return;

  if (entry.form == Form::kUserChars || entry.form == Form::kNvImages) {
    segments_left_ = SegmentCount(entry, current_.params);
    segment_header_.clear();
    if (segments_left_ == 0) {
      EmitCurrent();
    } else {
      phase_ = Phase::kSegmentHeader;
    }
    return;
  }
  const uint64_t length = PayloadLength(entry, current_.params);
  if (length == kTerminatedData) {
    phase_ = Phase::kTerminated;
    terminated_limit_ = TerminatedLimit(entry);
    return;
  }
  current_.data_length = length;
  if (length == 0) {
    EmitCurrent();
    return;
  }
  payload_remaining_ = length;
  phase_ = Phase::kPayload;
}

void CommandParser::EmitCurrent() {
  phase_ = Phase::kIdle;
  header_.clear();
  entry_ = nullptr;
  payload_remaining_ = 0;
  segments_left_ = 0;
  sink_(current_);
}

void CommandParser::EmitText() {
  phase_ = Phase::kIdle;
  Command text;
  text.op = Op::kText;
  text.name = "TEXT";
  text.data = std::move(text_);
  text.data_length = text.data.size();
  text_.clear();
  sink_(text);
}

void CommandParser::EmitUnknown(std::string bytes) {
  phase_ = Phase::kIdle;
  header_.clear();
  entry_ = nullptr;
  Command unknown;
  unknown.op = Op::kUnknown;
  unknown.name = "UNKNOWN";
  unknown.data_length = bytes.size();
  unknown.data = std::move(bytes);
  sink_(unknown);
}

void CommandParser::FlushText() {
  if (phase_ == Phase::kText) EmitText();
}

void CommandParser::Finish() {
  switch (phase_) {
    case Phase::kIdle:
      return;
    case Phase::kText:
      EmitText();
      return;
    case Phase::kHeader:
      if (entry_ == nullptr) {
        // Not even the function byte arrived: the prefix is all there is.
        current_ = Command{};
        current_.op = Op::kIncomplete;
        current_.name = Mnemonic(header_);
        current_.truncated = true;
        EmitCurrent();
        return;
      }
      break;
    case Phase::kTerminated:
    case Phase::kPayload:
    case Phase::kSegmentHeader:
      break;
  }
  current_.truncated = true;
  EmitCurrent();
}

}  // namespace qz381::sim
