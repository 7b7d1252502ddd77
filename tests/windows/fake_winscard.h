// What the stand-in winscard.dll records of the last call (see fake_winscard.cpp).
#pragma once

#include <windows.h>

struct FakeWinscardCall {
  char function[32];
  ULONG_PTR handle;  // the context or card handle passed in
  DWORD arg[5];      // the other arguments, per function
  char reader[64];   // the reader name passed in, if any
};

// The handles the stand-in gives out: wider than 32 bits on 64-bit systems, to catch truncation.
inline constexpr ULONG_PTR kFakeContext = static_cast<ULONG_PTR>(0x1234567890ABCDEFull);
inline constexpr ULONG_PTR kFakeCard = static_cast<ULONG_PTR>(0x0FEDCBA987654321ull);

using FakeWinscardSetResultFn = void(WINAPI*)(LONG);
using FakeWinscardLastCallFn = void(WINAPI*)(FakeWinscardCall*);
