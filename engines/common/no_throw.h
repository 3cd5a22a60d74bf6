// The one guard that keeps exceptions from crossing the engine interface:
// every public engine operation that may allocate or parse runs through it.
#pragma once

#include <exception>
#include <new>

#include "platform/error_codes.h"

namespace kestrel {

// body's result, or kErrNotEnoughMemory when it ran out of memory, or
// kErrGeneralFailure for any other exception (a parser fault that escaped
// its record; the caller cannot tell more than "it failed").
template <typename F>
int NoThrow(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  } catch (...) {
    return kErrGeneralFailure;
  }
}

}  // namespace kestrel
