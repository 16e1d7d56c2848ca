// Interface identifiers of parameterized Windows Runtime interfaces. A
// parameterized interface such as IIterable<Package> has no identifier of its
// own in any header: the platform derives it from the type signature of the
// instance, as a name-based UUID (version 5, SHA-1) in the namespace
// {11f47ad5-7b73-42c0-abae-878b1e16adee} over the UTF-8 signature text. No
// Windows header: this builds natively for the unit tests as well.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hkbh {

// The fields of a GUID as Windows lays them out.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", with or without braces, any letter case.
std::optional<Guid> ParseGuid(std::string_view text);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case: the form a
// signature carries.
std::string GuidSignature(const Guid& guid);

std::array<uint8_t, 20> Sha1(const void* data, size_t size);

// The signature of a runtime class whose default interface has that identifier:
// "rc(Name;{default-interface})".
std::string RuntimeClassSignature(std::string_view class_name, const Guid& default_interface);
// The signature of an instance of a parameterized interface with one type
// argument: "pinterface({open-interface};argument)".
std::string PinterfaceSignature(const Guid& open_interface, std::string_view argument_signature);

// The identifier the platform gives the parameterized interface instance of
// that signature.
Guid ParameterizedIid(std::string_view signature);

}  // namespace hkbh
