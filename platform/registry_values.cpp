#include "platform/registry_values.h"

#include <cstring>
#include <optional>
#include <string>

#include "common/text.h"

namespace torvane {

size_t RegReadValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                    std::string_view def, uint8_t* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  std::optional<RegValue> value = reg.Read(subkey, name);
  if (value && value->type == RegType::kBinary && value->data.size() <= size) {
    std::memcpy(buffer, value->data.data(), value->data.size());
    return value->data.size();
  }
  if (value && value->type == RegType::kString && value->data.size() < size) {
    std::memcpy(buffer, value->data.data(), value->data.size());
    buffer[value->data.size()] = 0;
    return strnlen(reinterpret_cast<const char*>(buffer), value->data.size());
  }
  // Missing, unreadable or larger than the buffer: the default stands in.
  return CopyText(reinterpret_cast<char*>(buffer), size, def);
}

int RegWriteValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                  const uint8_t* data, long length) {
  if (!data) return reg.Delete(subkey, name) ? 1 : 0;
  RegValue value;
  if (length == -1) {
    value.type = RegType::kString;
    value.data = reinterpret_cast<const char*>(data);
  } else if (length >= 0) {
    value.type = RegType::kBinary;
    value.data.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  } else {
    return 0;
  }
  return reg.Write(subkey, name, value) ? 1 : 0;
}

uint32_t RegReadNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                       uint32_t def) {
  uint8_t buffer[64];
  size_t n = RegReadValue(reg, subkey, name, "", buffer, sizeof buffer);
  if (n == 0) return def;
  uint32_t value;
  size_t pos = 0;
  std::string_view text(reinterpret_cast<const char*>(buffer), n);
  return ScanNumber(text, pos, 10, value) ? value : def;
}

int RegWriteNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                   uint32_t number, uint32_t def) {
  if (number == def) {
    // The reader's default stands for the value: delete it. A value that is not
    // there already reads as the default, so there is nothing to do.
    if (!reg.Read(subkey, name)) return 1;
    return reg.Delete(subkey, name) ? 1 : 0;
  }
  std::string text = std::to_string(number);
  return RegWriteValue(reg, subkey, name, reinterpret_cast<const uint8_t*>(text.c_str()), -1);
}

}  // namespace torvane
