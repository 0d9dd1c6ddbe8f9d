// The client library's handle and status types under the data layer's own names, so
// that its headers, which the sync and service code include, need not bring in
// <ibase.h>. firebird_client.cpp checks at compile time that they are the client's.
#pragma once

#include <cstdint>
#include <type_traits>

namespace zendrel {

// An attachment's, transaction's or statement's handle (FB_API_HANDLE, which the
// 64-bit client declares as an unsigned int and the 32-bit one as a pointer).
using ClientHandle = std::conditional_t<sizeof(void*) == 8, unsigned int, void*>;

// One element of a status vector (ISC_STATUS).
using ClientStatus = std::intptr_t;

}  // namespace zendrel
