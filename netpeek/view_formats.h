// The fixed text forms of the views: addresses, durations, dates, amounts of
// storage, speeds, the services of a system, LLDP capabilities and MAU modes.
// Pure: numbers and bytes in, text out; local times come in already converted.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace torvane::netpeek {

// An IPv4 address as 4 bytes in the order received (network order).
using Ipv4 = std::array<uint8_t, 4>;

// "%u.%u.%u.%u".
std::string ipv4_to_text(const Ipv4& address);
inline bool is_zero(const Ipv4& address) { return address == Ipv4{}; }
// The first 4 bytes of a value (zeros where it is shorter).
Ipv4 ipv4_from_bytes(std::span<const uint8_t> bytes);

// Each byte as "%2.2x", joined by separator ("" runs them together).
std::string hex_joined(std::span<const uint8_t> bytes, std::string_view separator);

// strftime of a converted local time; "" when there is none (a time that could
// not be converted) or the result does not fit 127 characters.
std::string local_time_text(const std::tm* time, const char* format);

// "%uh %umin %usec" of seconds.
std::string duration_text(uint32_t seconds);

// A DateAndTime (its first 7 bytes: year big-endian, month, day, hours, minutes,
// seconds; missing bytes count as 0) as "%4.4u-%2.2u-%2.2u %2.2u:%2.2u:%2.2u".
std::string date_and_time_text(std::span<const uint8_t> bytes);

// sysServices: "physical ", "datalink ", "internet ", "end-to-end ",
// "applications" for the bits 0x01, 0x02, 0x04, 0x08, 0x40, run together.
std::string services_text(uint32_t services);

// hrStorageAllocationUnits: "%u" up to 4096, else "%u KB".
std::string storage_unit_text(uint32_t unit);
// An amount of bytes: over 2^32 "%u GB", over 2^22 "%u MB", over small_limit
// "%u KB", else "%u" (sizes use 4096 as the small limit, used amounts 1024).
std::string storage_amount_text(uint64_t bytes, uint64_t small_limit);

// ifSpeed: above 1000000 "%uM", up to 1000 "%u", else "%uK".
std::string speed_text(uint32_t bits_per_second);

// Up to 4 bytes read big-endian (a longer value gives its first 4).
uint32_t fold_big_endian(std::span<const uint8_t> bytes);

// O, E, B, A, R, T, C, S for the capability bits 0x01 to 0x80: upper case when
// enabled, lower case when only supported.
std::string capability_letters(uint32_t supported, uint32_t enabled);

// A MAU type as "10M ", "100M " or "1000M ", with "FD" for the full-duplex
// types; "" for 0.
std::string mau_mode_text(uint32_t mau_type);

}  // namespace torvane::netpeek
