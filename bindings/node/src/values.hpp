#pragma once

// Moving values between JavaScript and the C interface.

#include <string>

#include <napi.h>

namespace quorin_node {

// A string the library returned, released here: null for NULL.
Napi::Value takeString(Napi::Env env, char* text);
// The argument at `index`, which must be a string.
std::string stringArgument(const Napi::CallbackInfo& info, size_t index);
// An Error whose `code` says what went wrong, for the JavaScript side to make a QuorinError of.
Napi::Error codedError(Napi::Env env, const char* code, const std::string& message);

}  // namespace quorin_node
