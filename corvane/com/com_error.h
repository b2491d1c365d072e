#pragma once
// The boundary between the core's exceptions and COM result codes. Every method of the server
// runs its body through com_call(): an escaping platform::AutomationError becomes the result
// code of its number (0x800A0000 + n) with the thread's error information set to its source
// and description; any other exception becomes a fitting automation error the same way.

#include <windows.h>
#include <ole2.h>

#include <exception>

#include "platform/automation_error.h"

namespace corvane::com {

// The result code of an automation error number: 0x800A0000 + n for 1..65535; a negative
// number is already a result code and is passed on; anything else is E_FAIL.
HRESULT hresult_of(int32_t number) noexcept;

// The automation error number a result code carries: n for 0x800A0000 + n, else the code.
int32_t number_of(HRESULT hr) noexcept;

// Builds an error object with the error's source and description, the interface's identifier
// and the number as its help context.
IErrorInfo* make_error_info(const platform::AutomationError& error) noexcept;

// Sets the thread's error information from the error and answers its result code.
HRESULT report(const platform::AutomationError& error) noexcept;

// The error the current exception stands for; call inside a catch block.
platform::AutomationError current_exception_error() noexcept;

// Runs body (returning void) and answers S_OK, or the reported result code of its failure.
template <class Body>
HRESULT com_call(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return report(current_exception_error());
  }
}

}  // namespace corvane::com
