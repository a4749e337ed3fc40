// The error that leaves a class or a host call: VB's Err with number, description and source.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fern {

class HostError : public std::runtime_error {
 public:
  HostError(int32_t number, std::string description, std::string source = {});

  int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& source() const noexcept { return source_; }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The numbers the program raises itself.
namespace err {
inline constexpr int32_t kInvalidValue = 50015;
inline constexpr int32_t kNoInterface = 50016;  // also: schema file missing
inline constexpr int32_t kPathNotFound = 50017;
inline constexpr int32_t kStoppedByScript = 50021;
// VB run-time errors that the platform layer raises.
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscript = 9;
inline constexpr int32_t kDivByZero = 11;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kInvalidArgument = 5;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kNoMember = 438;
inline constexpr int32_t kWrongArgCount = 450;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kFileNotFound = 53;
inline constexpr int32_t kPathFileAccess = 75;  // path/file access error
}  // namespace err

}  // namespace fern
