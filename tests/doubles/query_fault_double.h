#pragma once
// What the misbehaving query library doubles and their tests share.
#include <windows.h>

#include <cstddef>

namespace query_fault {

// The huge title's length, and the size of the unreadable reservation.
constexpr size_t HugeTitleBytes = 1024 * 1024;

// The slow double sets SlowQueryEntered once its first getgamewinx has begun
// and waits for SlowQueryRelease (both made by the test) before answering.
constexpr char SlowQueryEntered[] = "DovemarlSlowQueryEntered";
constexpr char SlowQueryRelease[] = "DovemarlSlowQueryRelease";
constexpr DWORD SlowQueryLimitMs = 5 * 60 * 1000;

} // namespace query_fault
