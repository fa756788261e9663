// Values of the agent's store as the agent reads and writes them: texts and byte
// strings with a default for what is missing, and numbers kept as decimal text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry_store.h"

namespace torvane {

// Operations on subkeys of the agent's key.
size_t RegReadValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                    std::string_view def, uint8_t* buffer, size_t size);
int RegWriteValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                  const uint8_t* data, long length);  // data null = delete; length -1 = text
uint32_t RegReadNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                       uint32_t def);
// Writes "%u" of the number; a number equal to the default deletes the value (a
// value already absent is a success: it reads as the default).
int RegWriteNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                   uint32_t number, uint32_t def);

}  // namespace torvane
