#include "PiplReader.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "PF_EntryPoint.h"
#include "TovanePlugin.h"

namespace pipl {

namespace {

std::uint32_t ReadU32(const Bytes& bytes, std::size_t offset, bool big_endian, const char* what) {
  if (offset > bytes.size() || bytes.size() - offset < 4) {
    throw FormatError(std::string(what) + " at offset " + std::to_string(offset) + " runs past the end (" +
                      std::to_string(bytes.size()) + " bytes)");
  }
  const std::uint8_t* p = bytes.data() + offset;
  return big_endian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
                    : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
}

std::uint16_t ReadU16(const Bytes& bytes, std::size_t offset, bool big_endian, const char* what) {
  if (offset > bytes.size() || bytes.size() - offset < 2) {
    throw FormatError(std::string(what) + " at offset " + std::to_string(offset) + " runs past the end (" +
                      std::to_string(bytes.size()) + " bytes)");
  }
  const std::uint8_t* p = bytes.data() + offset;
  return static_cast<std::uint16_t>(big_endian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
}

std::uint32_t LeU32(const Bytes& bytes, std::size_t offset, const char* what) {
  return ReadU32(bytes, offset, false, what);
}
std::uint16_t LeU16(const Bytes& bytes, std::size_t offset, const char* what) {
  return ReadU16(bytes, offset, false, what);
}

// A four-character code is a 32-bit integer whose most significant byte is
// the first character, whatever order the file stores the integer in.
std::string CodeText(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
  return text;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

// ---- PE images -------------------------------------------------------------

struct Section {
  std::uint32_t rva;
  std::uint32_t virtual_size;
  std::uint32_t raw_offset;
  std::uint32_t raw_size;
};

struct ImageView {
  std::vector<Section> sections;
  std::uint32_t resource_rva = 0;
  std::uint32_t resource_size = 0;
};

ImageView ReadImageHeaders(const Bytes& image) {
  if (!LooksLikePeImage(image)) throw FormatError("no MZ header");
  const std::uint32_t pe = LeU32(image, 0x3C, "PE header offset");
  if (LeU32(image, pe, "PE signature") != 0x00004550) throw FormatError("no PE signature");
  const std::uint16_t section_count = LeU16(image, pe + 6, "section count");
  const std::uint16_t optional_size = LeU16(image, pe + 20, "optional header size");
  const std::size_t optional = pe + 24;
  const std::uint16_t magic = LeU16(image, optional, "optional header magic");
  std::size_t directories = 0;
  if (magic == 0x20B) {
    directories = optional + 112;
  } else if (magic == 0x10B) {
    directories = optional + 96;
  } else {
    throw FormatError("unknown optional header magic " + Hex(magic));
  }
  ImageView view;
  const std::uint32_t directory_count = LeU32(image, directories - 4, "data directory count");
  constexpr std::uint32_t kResourceDirectory = 2;
  if (directory_count > kResourceDirectory) {
    view.resource_rva = LeU32(image, directories + 8 * kResourceDirectory, "resource directory");
    view.resource_size = LeU32(image, directories + 8 * kResourceDirectory + 4, "resource directory size");
  }
  for (std::size_t i = 0; i < section_count; ++i) {
    const std::size_t header = optional + optional_size + 40 * i;
    view.sections.push_back({LeU32(image, header + 12, "section address"), LeU32(image, header + 8, "section size"),
                             LeU32(image, header + 20, "section file offset"),
                             LeU32(image, header + 16, "section file size")});
  }
  return view;
}

// Where `length` bytes at an address lie in the file; throws unless they lie
// wholly inside one section's file data and inside the file.
std::size_t FileOffset(const Bytes& image, const ImageView& view, std::uint32_t rva, std::uint32_t length) {
  for (const Section& s : view.sections) {
    const std::uint64_t span = std::max(s.virtual_size, s.raw_size);
    if (rva >= s.rva && rva - s.rva < span) {
      const std::uint64_t end_in_section = std::uint64_t{rva - s.rva} + length;
      if (end_in_section > s.raw_size || std::uint64_t{s.raw_offset} + end_in_section > image.size()) break;
      return s.raw_offset + (rva - s.rva);
    }
  }
  throw FormatError("address " + Hex(rva) + " (+" + std::to_string(length) + ") lies in no section's file data");
}

// A resource directory's entries: (name or id, offset of what it points to,
// whether that is another directory).
struct DirectoryEntry {
  bool named;
  std::string name;
  std::uint16_t id;
  std::uint32_t target;
  bool subdirectory;
};

// Calls `visit` with each entry of the directory at `offset`, counting each
// against `visits_left`: a tree whose entries point back into it, or many
// times at one directory, is refused instead of walked for ever (or for the
// square of its size).
void ForEachEntry(const Bytes& image, std::size_t root, std::uint32_t offset, std::uint64_t& visits_left,
                  const std::function<void(const DirectoryEntry&)>& visit) {
  const std::size_t at = root + offset;
  const std::uint16_t named = LeU16(image, at + 12, "resource directory");
  const std::uint16_t numbered = LeU16(image, at + 14, "resource directory");
  for (std::size_t i = 0; i < std::size_t{named} + numbered; ++i) {
    if (visits_left == 0)
      throw FormatError("the resource directories list more entries, counting each time one is reached, than a "
                        "file of " + std::to_string(image.size()) + " bytes can hold: they repeat or point back");
    --visits_left;
    const std::uint32_t name = LeU32(image, at + 16 + 8 * i, "resource directory entry");
    const std::uint32_t target = LeU32(image, at + 20 + 8 * i, "resource directory entry");
    DirectoryEntry entry{(name & 0x80000000u) != 0, "", static_cast<std::uint16_t>(name & 0xFFFF),
                         target & 0x7FFFFFFFu, (target & 0x80000000u) != 0};
    if (entry.named) {
      // A counted UTF-16 string; resource type names are ASCII in practice.
      const std::size_t text = root + (name & 0x7FFFFFFFu);
      const std::uint16_t length = LeU16(image, text, "resource name");
      for (std::size_t c = 0; c < length; ++c) {
        const std::uint16_t unit = LeU16(image, text + 2 + 2 * c, "resource name");
        entry.name += unit < 0x80 ? static_cast<char>(unit) : '?';
      }
    }
    visit(entry);
  }
}

// ---- Properties ----------------------------------------------------------

enum class ValueType { kCode, kCountedText, kTerminatedText, kPair16, kU32, kU16, kUnknown };

ValueType TypeOf(const std::string& key) {
  if (key == "kind") return ValueType::kCode;
  if (key == "name" || key == "catg" || key == "eMNA") return ValueType::kCountedText;
  if (key == "8664" || key == "mi64") return ValueType::kTerminatedText;
  if (key == "ePVR" || key == "eSVR") return ValueType::kPair16;
  if (key == "eVER" || key == "eGLO" || key == "eGL2" || key == "aeFL") return ValueType::kU32;
  if (key == "eINF") return ValueType::kU16;
  return ValueType::kUnknown;
}

std::string TerminatedText(const Bytes& data) {
  std::string text;
  for (std::uint8_t c : data) {
    if (c == 0) return text;
    text += static_cast<char>(c);
  }
  throw FormatError("text without a terminating zero");
}

std::string CountedText(const Bytes& data) {
  if (data.empty() || std::size_t{data[0]} + 1 > data.size()) {
    throw FormatError("counted text longer than its data");
  }
  return std::string(data.begin() + 1, data.begin() + 1 + data[0]);
}

// What one copied resource takes besides its data: its record in the list
// returned and the allocation behind its data.
constexpr std::uint64_t kBytesPerResource = sizeof(PeResource) + 32;

}  // namespace

bool LooksLikePeImage(const Bytes& bytes) { return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z'; }

std::vector<PeResource> FindPeResources(const Bytes& image, const std::string& type, std::uint16_t id,
                                        std::uint64_t max_total_bytes) {
  const ImageView view = ReadImageHeaders(image);
  std::vector<PeResource> found;
  std::uint64_t total_bytes = 0;
  if (view.resource_rva == 0) return found;
  const std::size_t root = FileOffset(image, view, view.resource_rva, 16);
  // Each entry takes 8 bytes of the file: a tree that reaches more entries
  // than that reaches some more than once.
  std::uint64_t visits_left = image.size() / 8;
  ForEachEntry(image, root, 0, visits_left, [&](const DirectoryEntry& type_entry) {
    if (!type_entry.named || type_entry.name != type || !type_entry.subdirectory) return;
    ForEachEntry(image, root, type_entry.target, visits_left, [&](const DirectoryEntry& id_entry) {
      if (id_entry.named || id_entry.id != id || !id_entry.subdirectory) return;
      ForEachEntry(image, root, id_entry.target, visits_left, [&](const DirectoryEntry& language) {
        if (language.subdirectory) throw FormatError("resource tree deeper than type, id and language");
        const std::size_t entry = root + language.target;
        const std::uint32_t rva = LeU32(image, entry, "resource data entry");
        const std::uint32_t size = LeU32(image, entry + 4, "resource data entry");
        const std::size_t start = FileOffset(image, view, rva, size);
        // An empty entry costs its record all the same.
        total_bytes += size + kBytesPerResource;
        if (total_bytes > max_total_bytes) {
          throw FormatError("the resource directory lists " + type + " " + std::to_string(id) +
                            " so often that copying it out would take more than " +
                            std::to_string(max_total_bytes >> 20) + " MiB (" + std::to_string(found.size() + 1) +
                            " entries so far)");
        }
        PeResource resource;
        resource.language = language.id;
        resource.code_page = LeU32(image, entry + 8, "resource data entry");
        resource.data.assign(image.begin() + static_cast<std::ptrdiff_t>(start),
                             image.begin() + static_cast<std::ptrdiff_t>(start + size));
        found.push_back(std::move(resource));
      });
    });
  });
  return found;
}

const Property* PropertyList::Find(const std::string& key) const {
  for (const Property& property : properties) {
    if (property.key == key) return &property;
  }
  return nullptr;
}

std::uint32_t PropertyList::U32(const Property& property) const {
  if (property.data.size() != 4) {
    throw FormatError("'" + property.key + "' holds " + std::to_string(property.data.size()) +
                      " bytes, not a 32-bit value");
  }
  return ReadU32(property.data, 0, big_endian, "value");
}

PropertyList ParsePropertyList(const Bytes& bytes) {
  constexpr std::size_t kHeaderSize = 10;
  if (bytes.size() < kHeaderSize) {
    throw FormatError("a property list needs a 10-byte header; the data has " + std::to_string(bytes.size()));
  }
  PropertyList list;
  if (bytes[0] == 1 && bytes[1] == 0) {
    list.big_endian = false;
  } else if (bytes[0] == 0 && bytes[1] == 1) {
    list.big_endian = true;
  } else {
    throw FormatError("not a property list: the header word is neither 1 little-endian nor 1 big-endian");
  }
  list.version = static_cast<std::int32_t>(ReadU32(bytes, 2, list.big_endian, "list version"));
  list.declared_count = static_cast<std::int32_t>(ReadU32(bytes, 6, list.big_endian, "property count"));
  if (list.declared_count < 0) throw FormatError("negative property count " + std::to_string(list.declared_count));

  std::size_t offset = kHeaderSize;
  for (std::int32_t i = 0; i < list.declared_count; ++i) {
    Property property;
    property.offset = offset;
    property.vendor = CodeText(ReadU32(bytes, offset, list.big_endian, "vendor code"));
    property.key = CodeText(ReadU32(bytes, offset + 4, list.big_endian, "property key"));
    property.id = static_cast<std::int32_t>(ReadU32(bytes, offset + 8, list.big_endian, "property id"));
    const auto length = static_cast<std::int32_t>(ReadU32(bytes, offset + 12, list.big_endian, "data length"));
    const std::string where = "property " + std::to_string(i + 1) + " ('" + property.key + "' at offset " +
                              std::to_string(offset) + ")";
    if (length < 0) throw FormatError(where + " has a negative length");
    const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
    const std::size_t data = offset + 16;
    if (data + padded > bytes.size()) {
      throw FormatError(where + " with " + std::to_string(length) + " bytes of data runs past the end (" +
                        std::to_string(bytes.size()) + " bytes)");
    }
    property.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                         bytes.begin() + static_cast<std::ptrdiff_t>(data + static_cast<std::size_t>(length)));
    for (std::size_t p = data + static_cast<std::size_t>(length); p < data + padded; ++p) {
      if (bytes[p] != 0) throw FormatError(where + " has a non-zero padding byte at offset " + std::to_string(p));
    }
    list.properties.push_back(std::move(property));
    offset = data + padded;
  }
  if (offset != bytes.size()) {
    throw FormatError("the " + std::to_string(list.declared_count) + " properties end at offset " +
                      std::to_string(offset) + " but the data holds " + std::to_string(bytes.size()) + " bytes");
  }
  return list;
}

EffectExpectations ExpectationsFor(const PropertyList& list) {
  EffectExpectations expected;
  expected.entry_point_key = list.big_endian ? "mi64" : "8664";
  expected.entry_point_name = PF_ENTRY_POINT_NAME;
  expected.version = EFFECT_VERSION;
  expected.out_flags = static_cast<std::uint32_t>(GLOBAL_OUT_FLAGS);
  expected.out_flags2 = static_cast<std::uint32_t>(GLOBAL_OUT_FLAGS_2);
  return expected;
}

std::vector<std::string> CheckEffectList(const PropertyList& list, const EffectExpectations& expected) {
  std::vector<std::string> problems;
  const std::vector<std::string> keys = {"kind", "name", "catg", expected.entry_point_key, "ePVR", "eSVR",
                                         "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
  if (list.version != 0) problems.push_back("list version is " + std::to_string(list.version) + ", not 0");
  if (list.properties.size() != keys.size()) {
    problems.push_back("the list holds " + std::to_string(list.properties.size()) + " properties, not " +
                       std::to_string(keys.size()));
  }
  for (std::size_t i = 0; i < list.properties.size(); ++i) {
    const Property& property = list.properties[i];
    const std::string which = "property " + std::to_string(i + 1) + " '" + property.key + "'";
    if (property.vendor != "8BIM") problems.push_back(which + " has vendor '" + property.vendor + "', not '8BIM'");
    if (property.id != 0) problems.push_back(which + " has id " + std::to_string(property.id) + ", not 0");
    if (i < keys.size() && property.key != keys[i]) {
      problems.push_back(which + " stands where '" + keys[i] + "' belongs");
    }
  }

  auto check_word = [&](const std::string& key, std::uint32_t want, const char* what) {
    const Property* property = list.Find(key);
    if (property == nullptr) return;  // already reported as a key out of place
    try {
      const std::uint32_t value = list.U32(*property);
      if (value != want) {
        problems.push_back(std::string(what) + " '" + key + "' is " + Hex(value) + " but global setup writes " +
                           Hex(want));
      }
    } catch (const FormatError& error) {
      problems.push_back(error.what());
    }
  };
  check_word("eVER", expected.version, "the effect version");
  check_word("eGLO", expected.out_flags, "the out flags");
  check_word("eGL2", expected.out_flags2, "the out flags 2");

  if (const Property* entry = list.Find(expected.entry_point_key)) {
    try {
      const std::string name = TerminatedText(entry->data);
      if (name != expected.entry_point_name) {
        problems.push_back("the entry point is \"" + name + "\", but the module exports \"" +
                           expected.entry_point_name + "\"");
      }
    } catch (const FormatError& error) {
      problems.push_back("the entry point: " + std::string(error.what()));
    }
  }
  return problems;
}

std::string DescribeValue(const PropertyList& list, const Property& property) {
  std::ostringstream out;
  try {
    switch (TypeOf(property.key)) {
      case ValueType::kCode:
        out << "'" << CodeText(list.U32(property)) << "'";
        break;
      case ValueType::kCountedText:
        out << '"' << CountedText(property.data) << '"';
        break;
      case ValueType::kTerminatedText:
        out << '"' << TerminatedText(property.data) << '"';
        break;
      case ValueType::kPair16:
        if (property.data.size() != 4) throw FormatError("not a pair of 16-bit values");
        out << ReadU16(property.data, 0, list.big_endian, "major") << '.'
            << ReadU16(property.data, 2, list.big_endian, "minor");
        break;
      case ValueType::kU32:
        out << Hex(list.U32(property));
        break;
      case ValueType::kU16:
        if (property.data.size() != 2) throw FormatError("not a 16-bit value");
        out << Hex(ReadU16(property.data, 0, list.big_endian, "value"));
        break;
      case ValueType::kUnknown:
        throw FormatError("unknown key");
    }
  } catch (const FormatError&) {
    out.str("");
    out << "bytes";
    for (std::uint8_t b : property.data) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b);
      out << hex;
    }
  }
  return out.str();
}

}  // namespace pipl
