// The property-list reader behind `tovane-host pipl`: it accepts the list
// the host needs, and every kind of damage the host would trip over is
// either a FormatError or a named problem, never a silent pass or a read past
// the data.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "PiplReader.h"

namespace {

pipl::Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return pipl::Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The hand-written 290 bytes: hex pairs, '#' starts a comment.
pipl::Bytes ExpectedWindowsList() {
  std::ifstream file(TOVANE_PIPL_HEX);
  pipl::Bytes bytes;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string pair;
    while (words >> pair) bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return bytes;
}

void PutLe32(pipl::Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string Joined(const std::vector<std::string>& problems) {
  std::string text;
  for (const std::string& problem : problems) text += problem + "\n";
  return text;
}

// Offsets of the properties' heads in the expected list.
constexpr std::size_t kEntryPointOffset = 86;
constexpr std::size_t kPluginVersionOffset = 118;
constexpr std::size_t kVersionOffset = 158;
constexpr std::size_t kInfoFlagsOffset = 178;
constexpr std::size_t kOutFlagsOffset = 198;
constexpr std::size_t kOutFlags2Offset = 218;

TEST(PiplReader, WalksTheExpectedListToItsLastByte) {
  const pipl::Bytes bytes = ExpectedWindowsList();
  ASSERT_EQ(bytes.size(), 290u);
  const pipl::PropertyList list = pipl::ParsePropertyList(bytes);
  EXPECT_FALSE(list.big_endian);
  ASSERT_EQ(list.properties.size(), 12u);

  std::vector<std::size_t> offsets;
  for (const pipl::Property& property : list.properties) offsets.push_back(property.offset);
  EXPECT_EQ(offsets, (std::vector<std::size_t>{10, 30, 62, kEntryPointOffset, kPluginVersionOffset, 138,
                                               kVersionOffset, kInfoFlagsOffset, kOutFlagsOffset, kOutFlags2Offset,
                                               238, 270}));
  // The info flags count 2 bytes but occupy 4: the next head is 20 bytes on.
  EXPECT_EQ(list.properties[7].key, "eINF");
  EXPECT_EQ(list.properties[7].data.size(), 2u);

  EXPECT_EQ(Joined(pipl::CheckEffectList(list, pipl::ExpectationsFor(list))), "");
  EXPECT_EQ(pipl::DescribeValue(list, list.properties[0]), "'eFKT'");
  EXPECT_EQ(pipl::DescribeValue(list, list.properties[2]), "\"Tovane\"");
  EXPECT_EQ(pipl::DescribeValue(list, list.properties[3]), "\"EntryPointFunc\"");
  EXPECT_EQ(pipl::DescribeValue(list, list.properties[5]), "13.0");
  EXPECT_EQ(pipl::DescribeValue(list, list.properties[6]), "0x80601");
}

TEST(PiplReader, MacListReadsAsTheSamePropertiesBigEndian) {
  const pipl::PropertyList windows = pipl::ParsePropertyList(ExpectedWindowsList());
  const pipl::PropertyList mac = pipl::ParsePropertyList(ReadFile(TOVANE_MAC_PIPL));
  EXPECT_TRUE(mac.big_endian);
  EXPECT_EQ(Joined(pipl::CheckEffectList(mac, pipl::ExpectationsFor(mac))), "");
  ASSERT_EQ(mac.properties.size(), windows.properties.size());
  for (std::size_t i = 0; i < mac.properties.size(); ++i) {
    const std::string& key = windows.properties[i].key;
    EXPECT_EQ(mac.properties[i].key, key == "8664" ? "mi64" : key);
    EXPECT_EQ(pipl::DescribeValue(mac, mac.properties[i]), pipl::DescribeValue(windows, windows.properties[i]))
        << key;
  }
  // A Windows entry point in a big-endian list is the wrong platform's.
  pipl::EffectExpectations windows_entry = pipl::ExpectationsFor(mac);
  windows_entry.entry_point_key = "8664";
  EXPECT_NE(Joined(pipl::CheckEffectList(mac, windows_entry)), "");
}

// Damage to the list's layout: the walk cannot be completed faithfully.
TEST(PiplReader, LayoutDamageIsAFormatError) {
  const pipl::Bytes good = ExpectedWindowsList();
  struct Case {
    const char* what;
    pipl::Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"last byte missing", pipl::Bytes(good.begin(), good.end() - 1)});
  pipl::Bytes trailing = good;
  trailing.push_back(0);
  cases.push_back({"a byte after the last property", trailing});
  pipl::Bytes fewer = good;
  PutLe32(fewer, 6, 11);
  cases.push_back({"count 11", fewer});
  pipl::Bytes more = good;
  PutLe32(more, 6, 13);
  cases.push_back({"count 13", more});
  pipl::Bytes negative = good;
  PutLe32(negative, 6, 0xFFFFFFFF);
  cases.push_back({"count -1", negative});
  pipl::Bytes info_padding = good;
  info_padding[kInfoFlagsOffset + 16 + 2] = 1;  // the bytes the info flags' length leaves out
  cases.push_back({"non-zero info flags padding", info_padding});
  pipl::Bytes long_entry = good;
  PutLe32(long_entry, kEntryPointOffset + 12, 0x7FFFFFF0);
  cases.push_back({"length past the end", long_entry});
  pipl::Bytes word = good;
  word[0] = 2;
  cases.push_back({"header word 2", word});
  cases.push_back({"header cut short", pipl::Bytes(good.begin(), good.begin() + 9)});

  for (const Case& c : cases) {
    EXPECT_THROW(pipl::ParsePropertyList(c.bytes), pipl::FormatError) << c.what;
  }
}

// Damage to the content: the list walks, but the host would not find, name
// or run the effect as global setup announces it.
TEST(PiplReader, ContentDamageIsNamed) {
  const pipl::Bytes good = ExpectedWindowsList();
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint32_t value;
    const char* named;  // a piece of the expected problem sentence
  };
  const Case cases[] = {
      {"vendor", kPluginVersionOffset, 0x3842494E /* "8BIN" */, "vendor '8BIN'"},
      {"property id", kPluginVersionOffset + 8, 1, "has id 1"},
      {"key", kEntryPointOffset + 4, 0x6D693634 /* "mi64" */, "where '8664' belongs"},
      {"version", kVersionOffset + 16, 0x80602, "0x80602 but global setup writes 0x80601"},
      {"out flags", kOutFlagsOffset + 16, 0x2000000, "0x2000000 but global setup writes 0x6000000"},
      {"out flags 2", kOutFlags2Offset + 16, 0x400, "0x400 but global setup writes 0x1400"},
      {"entry point name", kEntryPointOffset + 16 + 12, 0x0000786E /* "nx" */, "\"EntryPointFunx\""},
      {"entry point terminator", kEntryPointOffset + 16 + 12, 0x7878636E /* "ncxx" */, "terminating zero"},
      {"list version", 2, 1, "list version is 1"},
  };
  for (const Case& c : cases) {
    pipl::Bytes bytes = good;
    PutLe32(bytes, c.offset, c.value);
    pipl::PropertyList list;
    try {
      list = pipl::ParsePropertyList(bytes);
    } catch (const pipl::FormatError& error) {
      ADD_FAILURE() << c.what << ": the walk itself failed: " << error.what();
      continue;
    }
    const std::string problems = Joined(pipl::CheckEffectList(list, pipl::ExpectationsFor(list)));
    EXPECT_NE(problems.find(c.named), std::string::npos) << c.what << " gave:\n" << problems;
  }
}

TEST(PiplReader, ReadsTheCrossBuiltModulesResource) {
  const std::string path = TOVANE_WINDOWS_AEX;
  const pipl::Bytes image = ReadFile(path);
  if (path.empty() || image.empty()) GTEST_SKIP() << "no cross-built TovaneParvolith.aex";

  const std::vector<pipl::PeResource> found = pipl::FindPeResources(image, "PIPL", 16000);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].language, 1033);
  EXPECT_EQ(found[0].code_page, 1252u);
  EXPECT_EQ(found[0].data, ExpectedWindowsList());
  EXPECT_TRUE(pipl::FindPeResources(image, "PIPL", 16001).empty());
  EXPECT_TRUE(pipl::FindPeResources(image, "PiPL", 16000).empty());
}

// A damaged image is refused, wherever it was cut or whichever header field
// lies; the reader never reads outside the file.
TEST(PiplReader, DamagedModuleIsAFormatErrorOrHasNoList) {
  const std::string path = TOVANE_WINDOWS_AEX;
  const pipl::Bytes image = ReadFile(path);
  if (path.empty() || image.empty()) GTEST_SKIP() << "no cross-built TovaneParvolith.aex";

  for (std::size_t length = 0; length < image.size(); length += 1 + length / 3) {
    const pipl::Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    try {
      const std::vector<pipl::PeResource> found = pipl::FindPeResources(cut, "PIPL", 16000);
      for (const pipl::PeResource& resource : found) EXPECT_LE(resource.data.size(), cut.size());
    } catch (const pipl::FormatError&) {
    }
  }
  // Every 4-byte word of the file set to a huge value in turn: header
  // fields, section table, resource directories and data entries.
  pipl::Bytes lying = image;
  for (std::size_t offset = 0; offset + 4 <= lying.size(); offset += 4) {
    std::uint8_t saved[4];
    std::copy_n(lying.begin() + static_cast<std::ptrdiff_t>(offset), 4, saved);
    PutLe32(lying, offset, 0xFFFFFFF0u);
    try {
      for (const pipl::PeResource& resource : pipl::FindPeResources(lying, "PIPL", 16000)) {
        EXPECT_LE(resource.data.size(), lying.size()) << "word at " << offset;
      }
    } catch (const pipl::FormatError&) {
    }
    std::copy_n(saved, 4, lying.begin() + static_cast<std::ptrdiff_t>(offset));
  }
}

// A PE image whose resource directory lists "PIPL" 16000 `entries` times,
// every entry pointing at one block of `data_bytes`: a few bytes of
// directory that would make a reader copy entries x data_bytes.
pipl::Bytes ImageRepeatingOneResource(std::uint32_t entries, std::uint32_t data_bytes) {
  constexpr std::uint32_t kPe = 0x40, kOptional = kPe + 24, kOptionalSize = 0xF0;
  constexpr std::uint32_t kSectionTable = kOptional + kOptionalSize, kResources = 0x200;
  const std::uint32_t type_dir = 24, name = 48, language_dir = 60;
  const std::uint32_t data_entry = language_dir + 16 + 8 * entries, data = data_entry + 16;
  // A byte at least, so that an empty resource's address lies in the section.
  const std::uint32_t section_size = data + std::max<std::uint32_t>(data_bytes, 1);
  pipl::Bytes image(kResources + section_size, 0);
  auto put16 = [&](std::size_t at, std::uint16_t v) { image.at(at) = v & 0xFF, image.at(at + 1) = v >> 8; };
  image[0] = 'M', image[1] = 'Z';
  PutLe32(image, 0x3C, kPe);
  PutLe32(image, kPe, 0x00004550);
  put16(kPe + 6, 1);
  put16(kPe + 20, kOptionalSize);
  put16(kOptional, 0x20B);
  PutLe32(image, kOptional + 108, 16);
  PutLe32(image, kOptional + 112 + 16, kResources);
  PutLe32(image, kOptional + 112 + 20, section_size);
  PutLe32(image, kSectionTable + 8, section_size);
  PutLe32(image, kSectionTable + 12, kResources);
  PutLe32(image, kSectionTable + 16, section_size);
  PutLe32(image, kSectionTable + 20, kResources);
  const std::uint32_t r = kResources;
  put16(r + 12, 1);  // root: one named type
  PutLe32(image, r + 16, 0x80000000u | name);
  PutLe32(image, r + 20, 0x80000000u | type_dir);
  put16(r + name, 4);
  for (int c = 0; c < 4; ++c) put16(r + name + 2 + 2 * c, static_cast<std::uint16_t>("PIPL"[c]));
  put16(r + type_dir + 14, 1);  // the type: one id, whose languages follow
  PutLe32(image, r + type_dir + 16, 16000);
  PutLe32(image, r + type_dir + 20, 0x80000000u | language_dir);
  put16(r + language_dir + 14, static_cast<std::uint16_t>(entries));
  if (entries > 0xFFFF) put16(r + language_dir + 12, static_cast<std::uint16_t>(entries - 0xFFFF));
  for (std::uint32_t e = 0; e < entries; ++e) {
    PutLe32(image, r + language_dir + 16 + 8 * e, 1033);
    PutLe32(image, r + language_dir + 20 + 8 * e, data_entry);
  }
  PutLe32(image, r + data_entry, kResources + data);
  PutLe32(image, r + data_entry + 4, data_bytes);
  PutLe32(image, r + data_entry + 8, 1252);
  return image;
}

struct Repeated {
  const char* name;
  std::uint32_t entries, data_bytes;
  std::uint64_t budget;
  bool refused;
};

class RepeatedResource : public ::testing::TestWithParam<Repeated> {};

// What the entries would copy is weighed against the budget before the copy:
// an image of a megabyte cannot make the reader take gigabytes.
TEST_P(RepeatedResource, IsCopiedOnlyWithinTheBudget) {
  const Repeated& c = GetParam();
  const pipl::Bytes image = ImageRepeatingOneResource(c.entries, c.data_bytes);
  try {
    const std::vector<pipl::PeResource> found = pipl::FindPeResources(image, "PIPL", 16000, c.budget);
    EXPECT_FALSE(c.refused) << found.size() << " copies taken";
    EXPECT_EQ(found.size(), c.entries);
  } catch (const pipl::FormatError& error) {
    EXPECT_TRUE(c.refused) << error.what();
    EXPECT_NE(std::string(error.what()).find("so often"), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Directories, RepeatedResource,
    ::testing::Values(Repeated{"OneList", 1, 290, pipl::kDefaultResourceBytes, false},
                      Repeated{"TwoWithinBudget", 2, 1024, 4096, false},
                      Repeated{"FivePastBudget", 5, 1024, 4096, true},
                      Repeated{"OneListEightGigabytesOver", 131070, 65536, pipl::kDefaultResourceBytes, true},
                      Repeated{"ThousandWithinDefault", 1000, 65536, pipl::kDefaultResourceBytes, false},
                      // Entries with no data or one byte still cost their records.
                      Repeated{"EmptyEntriesPastASmallBudget", 131070, 0, 2u << 20, true},
                      Repeated{"OneByteEntriesPastASmallBudget", 131070, 1, 2u << 20, true},
                      Repeated{"EmptyEntriesWithinBudget", 10, 0, 4096, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
