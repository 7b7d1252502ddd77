#include "nmhost/native_frames.h"

#include <algorithm>
#include <cstring>

namespace ruzazuv::nmhost {

FrameDecoder::Status FrameDecoder::feed(std::string_view bytes, std::vector<SecretString>* frames) {
  while (status_ == Status::kOk && !bytes.empty()) {
    if (pending_ == 0) {
      const std::size_t take = std::min(kFrameHeaderBytes - header_.size(), bytes.size());
      header_.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      if (header_.size() < kFrameHeaderBytes) break;
      std::uint32_t length = 0;
      std::memcpy(&length, header_.data(), sizeof length);
      header_.clear();
      if (length == 0) {
        status_ = Status::kEmpty;
      } else if (length > kMaxInputFrameBytes) {
        status_ = Status::kTooLarge;
      } else {
        pending_ = length;
        payload_.reserve(length);
      }
      continue;
    }
    const std::size_t take = std::min(pending_, bytes.size());
    payload_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    pending_ -= take;
    if (pending_ == 0) {
      frames->push_back(std::move(payload_));
      payload_ = SecretString();
    }
  }
  return status_;
}

std::string_view FrameDecoder::failureReason() const {
  switch (status_) {
    case Status::kOk:
      return {};
    case Status::kTooLarge:
      return "a frame longer than 65536 bytes";
    case Status::kEmpty:
      return "a frame of length zero";
  }
  return {};
}

SecretString encodeFrame(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  SecretString frame;
  frame.reserve(kFrameHeaderBytes + payload.size());
  frame.append(reinterpret_cast<const char*>(&length), sizeof length);
  frame.append(payload);
  return frame;
}

}  // namespace ruzazuv::nmhost
