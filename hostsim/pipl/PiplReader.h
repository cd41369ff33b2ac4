// Reads a plug-in property list the way the host does before it loads any
// code: out of a Windows module's "PIPL" resource, or from a bare list file
// (the Windows list is little-endian, the macOS one big-endian), and checks
// it against what the effect's global setup announces.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pipl {

using Bytes = std::vector<std::uint8_t>;

// The file is not what it claims to be: the message says where it breaks.
class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One resource of a PE image's resource tree.
struct PeResource {
  std::uint16_t language = 0;
  std::uint32_t code_page = 0;
  Bytes data;
};

// What FindPeResources copies out of an image at most unless told otherwise:
// far more than any property list, far less than a directory that names one
// resource thousands of times would make it copy.
constexpr std::uint64_t kDefaultResourceBytes = std::uint64_t{256} << 20;

// Every language variant of the resource with type name `type` and id `id`,
// in the order of the image's tree; empty when the image has none. Throws
// FormatError, before copying, when the variants together hold more than
// `max_total_bytes`.
std::vector<PeResource> FindPeResources(const Bytes& image, const std::string& type, std::uint16_t id,
                                        std::uint64_t max_total_bytes = kDefaultResourceBytes);

// Whether the bytes start like a PE image ("MZ").
bool LooksLikePeImage(const Bytes& bytes);

struct Property {
  std::size_t offset = 0;  // of the property's head, from the start of the list
  std::string vendor;      // four-character codes, first character first
  std::string key;
  std::int32_t id = 0;
  Bytes data;  // the `length` bytes the length field counts
};

struct PropertyList {
  bool big_endian = false;
  std::int32_t version = 0;
  std::int32_t declared_count = 0;
  std::vector<Property> properties;

  // The property with this key, or null.
  const Property* Find(const std::string& key) const;
  // A 32-bit value in the list's byte order; throws FormatError unless the
  // data is exactly 4 bytes long.
  std::uint32_t U32(const Property& property) const;
};

// Walks the list from offset 10, advancing by 16 plus the data length
// brought up to a multiple of 4, for the count the header gives. The byte
// order follows from the header word (1). Throws FormatError when a property
// runs past the end, its padding is not zero, or bytes follow the last one.
PropertyList ParsePropertyList(const Bytes& bytes);

// What the effect's list must hold for the host to find and run it.
struct EffectExpectations {
  std::string entry_point_key;  // "8664" in a Windows module, "mi64" in the macOS bundle
  std::string entry_point_name;
  std::uint32_t version = 0;
  std::uint32_t out_flags = 0;
  std::uint32_t out_flags2 = 0;
};

// The expectations of this effect, whose version and flags are the ones its
// global setup writes; the entry-point key follows the list's byte order.
EffectExpectations ExpectationsFor(const PropertyList& list);

// Everything in the list that differs from the expectations, one sentence
// each; empty when the list is as the host needs it.
std::vector<std::string> CheckEffectList(const PropertyList& list, const EffectExpectations& expected);

// A property's value as text ("'eFKT'", "\"Tovane\"", "2.0", "0x80601"),
// decoded by the type its key has in an effect's list.
std::string DescribeValue(const PropertyList& list, const Property& property);

}  // namespace pipl
