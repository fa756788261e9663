// The value store's file reader on any bytes: nothing may crash, and whatever it
// reads must survive a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_store.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IsPlainSubkey(text);
  RegValues first;
  DecodeRegistryFile(text, first);
  const std::string encoded = EncodeRegistryFile(first);
  RegValues second;
  if (!DecodeRegistryFile(encoded, second)) std::abort();  // our own output is always well formed
  if (second != first) std::abort();
  if (EncodeRegistryFile(second) != encoded) std::abort();
  return 0;
}
