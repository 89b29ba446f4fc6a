// The one error type thrown by service hooks: a 32-bit system error code.
// The service base catches it apart from every other exception, so the code
// ends up in the event log and as the service's exit code.
#pragma once

#include <cstdint>
#include <exception>

namespace vt {

class SystemError : public std::exception {
  public:
    explicit SystemError(uint32_t code) : code_(code) {}
    uint32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return "system error"; }

  private:
    uint32_t code_;
};

// Well-known system error codes the core refers to by value.
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceExists = 1073;

}  // namespace vt
