#include "netpeek/enum_texts.h"

#include <iterator>
#include <span>

namespace torvane::netpeek {

namespace {

// Entry 0 of every table is empty: no MIB enumeration here starts at 0.
constexpr std::string_view kArpType[] = {"", "unknown", "invalid", "dynamic", "static"};

constexpr std::string_view kInterfaceType[] = {
    "",          "other",     "regular1822", "hdh1822",     "ddn-x25",     "x25",          "ethernet",
    "iso88023",  "tokenBus",  "tokenRing",   "man",         "starlan",     "proteon10Mb",  "proteon80Mb",
    "hyperchannel", "fddi",   "lapb",        "sdlc",        "T-1",         "e1",           "basicISDN",
    "priISDN",   "serial",    "ppp",         "loopback",    "eon",         "ethernet3Mb",  "nsip",
    "slip",      "ultra",     "T-3",         "sip",         "frame-relay"};

// ifAdminStatus 4 and later states have no name here.
constexpr std::string_view kInterfaceStatus[] = {"", "up", "down", "test"};

constexpr std::string_view kTcpState[] = {"",         "closed",    "listen",   "synSent",   "synReceived",
                                          "established", "finWait1", "finWait2", "closeWait", "lastAck",
                                          "closing",  "timeWait",  "deleteTCB"};

constexpr std::string_view kStorageType[] = {"", "Other", "RAM", "VirtualMemory", "FixedDisk", "RemovableDisk",
                                             "FloppyDisk"};

// hrDeviceTypes has no 7 to 9; 21 (non-volatile memory) has always been shown
// with the name of 20.
constexpr std::string_view kDeviceType[] = {
    "",      "Other",       "Unknown",  "Processor",    "Network",  "Printer",  "DiskStorage", "",
    "",      "",            "Video",    "Audio",        "Coprocessor", "Keyboard", "Modem",   "ParallelPort",
    "Pointing", "SerialPort", "Tape",   "Clock",        "VolatileMemory", "VolatileMemory"};

// "unkown" as the viewer has always written it: saved files are compared
// against it.
constexpr std::string_view kDeviceStatus[] = {"", "unkown", "running", "warning", "testing", "down"};

static_assert(std::size(kInterfaceType) == 33);
static_assert(std::size(kTcpState) == 13);
static_assert(std::size(kDeviceType) == 22);

std::span<const std::string_view> Table(EnumTable table) {
  switch (table) {
    case EnumTable::kArpType: return kArpType;
    case EnumTable::kInterfaceType: return kInterfaceType;
    case EnumTable::kInterfaceStatus: return kInterfaceStatus;
    case EnumTable::kTcpState: return kTcpState;
    case EnumTable::kStorageType: return kStorageType;
    case EnumTable::kDeviceType: return kDeviceType;
    case EnumTable::kDeviceStatus: return kDeviceStatus;
  }
  return {};
}

}  // namespace

std::string_view enum_text(EnumTable table, uint32_t value) {
  std::span<const std::string_view> names = Table(table);
  return value < names.size() ? names[value] : std::string_view();
}

}  // namespace torvane::netpeek
