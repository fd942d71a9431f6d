// User program images: the reader's checks, the key derivation, the image
// tool, and downloads through the library to boards behind the driver
// stand-in and on 127.0.0.1.
#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "atf_image.h"
#include "lan_board.h"
#include "settings.h"
#include "support/sim_fixture.h"
#include "user_image.h"

namespace fs = std::filesystem;
namespace img = corvex::image;
namespace sim = kestrel::sim;

namespace {

void set(img::Bytes& b, std::size_t at, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

img::Bytes pattern(std::size_t n, unsigned seed) {
  img::Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
  return b;
}

CVX_STATUS read(const img::Bytes& file, const img::Keys& keys, img::Image* out = nullptr, std::size_t room = 20,
                std::size_t buffer = 1u << 20) {
  img::Image image;
  return img::read_image(file, room, buffer, keys, out ? *out : image);
}

// Two sections of bytes and a HEAP, enciphered with the key text "abc".
img::ImageSpec small_spec() {
  img::ImageSpec spec;
  spec.sections = {{"code", 1, 0x200000, pattern(300, 1), 0},
                   {"main", 0, 0x201000, pattern(20, 2), 0},
                   {"HEAP", 3, 0x300000, {}, 64}};
  spec.cipher = img::kKeyText;
  spec.key_text = "abc";
  return spec;
}

constexpr std::size_t kTable = img::kHeaderSize;
constexpr std::size_t kData = kTable + 3 * img::kSectionEntry;

}  // namespace

TEST(ImageReader, ReadsWhatTheBuilderWrote) {
  const img::Bytes file = img::build_image(small_spec());
  ASSERT_EQ(file.size(), kData + 320 + 2);
  img::Image image;
  ASSERT_EQ(read(file, {"abc", {}}, &image), CVX_OK);
  EXPECT_EQ(image.header.section_count, 3);
  EXPECT_EQ(image.header.decoded_length, 320u);
  img::Bytes expected = pattern(300, 1);
  const img::Bytes second = pattern(20, 2);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(image.decoded, expected);
  ASSERT_EQ(image.sections.size(), 3u);
  EXPECT_EQ(image.sections[1].name, "main");
  EXPECT_EQ(image.sections[1].offset, 300u);
  EXPECT_EQ(image.sections[1].load, 0x201000u);
  EXPECT_EQ(image.sections[2].name, "HEAP");
  EXPECT_EQ(image.sections[2].type, 3);
  EXPECT_EQ(image.sections[2].size, 64u);
  EXPECT_EQ(image.sections[2].offset, 320u) << "a section without bytes points past the data";
}

TEST(ImageReader, ChecksComeInTheirOrder) {
  const img::Bytes good = img::build_image(small_spec());
  const img::Keys key{"abc", {}};
  struct Case {
    const char* what;
    std::function<void(img::Bytes&)> change;
    img::Keys keys;
    CVX_STATUS expected;
  };
  const auto past_end = [](img::Bytes& b) { set(b, img::kTableOffset, 0xFFFF, 2); };
  const Case cases[] = {
      {"113 header bytes", [](img::Bytes& b) { b.resize(113); }, key, CVX_NO_MEMORY},
      {"wrong magic", [](img::Bytes& b) { b[2] = 'g'; }, key, CVX_NO_MEMORY},
      {"magic without its zero", [](img::Bytes& b) { b[3] = 'x'; }, key, CVX_NO_MEMORY},
      {"format above the limit, before the section count",
       [](img::Bytes& b) {
         set(b, img::kFormat, 0x1020001, 4);
         set(b, img::kSectionCount, 21, 2);
       },
       key, CVX_IMAGE_SIZE},
      {"21 sections, before the table is looked at",
       [&](img::Bytes& b) {
         set(b, img::kSectionCount, 21, 2);
         past_end(b);
       },
       key, CVX_IMAGE_CHECKSUM},
      {"section table past the end, before the key", [&](img::Bytes& b) { past_end(b); }, {}, CVX_NO_MEMORY},
      {"table offset pushes the data out of the file",
       [](img::Bytes& b) { set(b, img::kTableOffset, static_cast<std::uint32_t>(b.size() - 100), 2); }, key,
       CVX_NO_MEMORY},
      {"decoded length above the buffer, before the key", [](img::Bytes& b) { set(b, img::kDecodedLength, 4097, 4); },
       {}, CVX_FAILED},
      {"key text missing, before the stored data is looked at",
       [](img::Bytes& b) { set(b, img::kStoredLength, 0xFFFFFFFF, 4); }, {}, CVX_IMAGE_NO_KEY},
      {"empty key text", [](img::Bytes&) {}, {"", {}}, CVX_IMAGE_NO_KEY},
      {"mode 1 without a CipherKey", [](img::Bytes& b) { set(b, img::kCipherMode, 1, 2); }, key, CVX_IMAGE_NO_KEY},
      {"stored data past the end", [](img::Bytes& b) { b.pop_back(); }, key, CVX_NO_MEMORY},
      {"stored data too short for the check sum", [](img::Bytes& b) { set(b, img::kStoredLength, 321, 4); }, key,
       CVX_NO_MEMORY},
      {"unknown cipher mode", [](img::Bytes& b) { set(b, img::kCipherMode, 3, 2); }, key, CVX_FAILED},
      {"wrong key text", [](img::Bytes&) {}, {"abd", {}}, CVX_IMAGE_CHECKSUM},
      {"one stored byte changed", [](img::Bytes& b) { b[kData + 7] ^= 0x40; }, key, CVX_IMAGE_CHECKSUM},
      {"format word negative as a signed value", [](img::Bytes& b) { set(b, img::kFormat, 0x80000000, 4); }, key,
       CVX_OK},
      {"stored data longer than needed", [](img::Bytes& b) {
         b.push_back(0xAA);
         set(b, img::kStoredLength, 323, 4);
       },
       key, CVX_OK},
  };
  for (const Case& c : cases) {
    img::Bytes b = good;
    c.change(b);
    EXPECT_EQ(read(b, c.keys, nullptr, 20, 4096), c.expected) << c.what;
  }
  EXPECT_EQ(read(good, key, nullptr, 2), CVX_IMAGE_CHECKSUM) << "three sections, room for two";
  img::Header header;
  EXPECT_EQ(img::read_header(img::Bytes(good.begin(), good.begin() + 114), header), CVX_OK);
  EXPECT_EQ(header.cipher, img::kKeyText);
}

TEST(ImageReader, CheckSumFollowsTheDataLeastSignificantByteFirst) {
  img::ImageSpec spec;
  spec.sections = {{"code", 1, 0x200000, img::Bytes(300, 0xFF), 0}};  // sum 76500, 0x2AD4 modulo 65536
  img::Bytes file = img::build_image(spec);
  ASSERT_EQ(file.size(), kTable + img::kSectionEntry + 302);
  EXPECT_EQ(file[file.size() - 2], 0xD4);
  EXPECT_EQ(file[file.size() - 1], 0x2A);
  EXPECT_EQ(read(file, {}), CVX_OK);
  std::swap(file[file.size() - 2], file[file.size() - 1]);
  EXPECT_EQ(read(file, {}), CVX_IMAGE_CHECKSUM);
}

// Deciphering and summing go through the data a piece at a time: lengths
// around the piece size, the check sum split across two pieces included.
TEST(ImageReader, EncipheredDataOfAnyLengthReadsBack) {
  for (std::size_t n : {1u, 16382u, 16383u, 16384u, 16385u, 70001u}) {
    SCOPED_TRACE(n);
    img::ImageSpec spec;
    spec.sections = {{"code", 1, 0x200000, pattern(n, 3), 0}};
    spec.cipher = img::kKeyText;
    spec.key_text = "abc";
    img::Bytes file = img::build_image(spec);
    img::Image image;
    ASSERT_EQ(read(file, {"abc", {}}, &image), CVX_OK);
    EXPECT_EQ(image.decoded, pattern(n, 3));
    file.back() ^= 0x01;  // the check sum's high byte
    EXPECT_EQ(read(file, {"abc", {}}), CVX_IMAGE_CHECKSUM);
    file.back() ^= 0x01;
    file[file.size() - 3] ^= 0x80;  // the last data byte
    EXPECT_EQ(read(file, {"abc", {}}), CVX_IMAGE_CHECKSUM);
  }
}

TEST(ImageReader, KeyIsTheFirstFiveBytesOfTheMd5FollowedByZeros) {
  // MD5("abc"), RFC 1321: 900150983cd24fb0d6963f7d28e17f72.
  const std::array<std::uint8_t, 16> hand_built{0x90, 0x01, 0x50, 0x98, 0x3c};
  EXPECT_EQ(img::derive_key(img::text_bytes("abc")), hand_built);

  const auto nettle_rc4 = [](const std::array<std::uint8_t, 16>& key, img::Bytes data) {
    arcfour_ctx ctx;
    arcfour_set_key(&ctx, key.size(), key.data());
    arcfour_crypt(&ctx, data.size(), data.data(), data.data());
    return data;
  };
  // A mode-2 image's stored data is the decoded data and its sum under that key.
  const img::Bytes file = img::build_image(small_spec());
  img::Image image;
  ASSERT_EQ(read(file, {"abc", {}}, &image), CVX_OK);
  img::Bytes plain = image.decoded;
  const std::uint16_t sum = img::check_sum(plain);
  plain.push_back(static_cast<std::uint8_t>(sum));
  plain.push_back(static_cast<std::uint8_t>(sum >> 8));
  EXPECT_EQ(img::Bytes(file.begin() + kData, file.end()), nettle_rc4(hand_built, plain));

  // Mode 1: the same derivation over the 16 bytes of the CipherKey.
  const img::CipherKey material{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  md5_ctx md5;
  md5_init(&md5);
  md5_update(&md5, material.size(), material.data());
  std::array<std::uint8_t, 16> hash{};
  md5_digest(&md5, hash.size(), hash.data());
  std::array<std::uint8_t, 16> key{};
  std::copy_n(hash.begin(), 5, key.begin());
  img::ImageSpec spec = small_spec();
  spec.cipher = img::kBuiltinKey;
  spec.builtin = material;
  const img::Bytes mode1 = img::build_image(spec);
  EXPECT_EQ(img::Bytes(mode1.begin() + kData, mode1.end()), nettle_rc4(key, plain));
  EXPECT_EQ(read(mode1, {nullptr, material}), CVX_OK);
  img::CipherKey other = material;
  other[15] ^= 1;
  EXPECT_EQ(read(mode1, {nullptr, other}), CVX_IMAGE_CHECKSUM);
}

TEST(ImageReader, InformationRecordAndCipherKeySetting) {
  img::Header h;
  h.format = 0x01020000;
  h.firmware = 0x030105;
  h.description.fill('d');
  h.value78 = 0x78787878;
  h.value84 = 0x84848484;
  h.value88 = 0x88888888;
  h.command = 0x11223344;
  h.cipher = 2;
  h.main = 0xA0B0C0D0;
  img::Bytes expected{0x00, 0x00, 0x02, 0x01, 0x05, 0x01, 0x03, 0x00};
  expected.resize(72, 'd');
  for (std::uint32_t v : {0x78787878u, 0x84848484u, 0x88888888u, 0x11223344u, 2u, 0xA0B0C0D0u})
    for (int i = 0; i < 4; ++i) expected.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  const img::InfoRecord record = img::info_record(h);
  EXPECT_EQ(img::Bytes(record.begin(), record.end()), expected);

  using corvex::apply_settings;
  const auto key = apply_settings("[UserProgram]\nCipherKey = 000102030405060708090a0B0C0D0E0F\n", {}).cipher_key;
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ((*key)[10], 0x0A);
  EXPECT_EQ((*key)[15], 0x0F);
  for (const char* bad : {"000102030405060708090a0B0C0D0E0", "000102030405060708090a0B0C0D0E0F0",
                          "000102030405060708090a0B0C0D0E0G", "0x0102030405060708090a0B0C0D0E0F"})
    EXPECT_FALSE(apply_settings(std::string("[UserProgram]\nCipherKey=") + bad + "\n", {}).cipher_key) << bad;
  EXPECT_FALSE(apply_settings("[Other]\nCipherKey=000102030405060708090a0B0C0D0E0F\n", {}).cipher_key);
}

// Images as files, removed at the end of each test.
class ImageFiles {
 public:
  ImageFiles() : dir_(fs::temp_directory_path() / ("corvex-atf-" + std::to_string(::getpid()))) {
    fs::create_directories(dir_);
  }
  ~ImageFiles() { fs::remove_all(dir_); }
  std::string write(const std::string& name, const img::Bytes& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  fs::path path(const std::string& name) const { return dir_ / name; }

 private:
  fs::path dir_;
};

TEST(ImageTool, BuildsAnImageThatGetInfoReadsBack) {
  ImageFiles files;
  const std::string code = files.write("code.bin", pattern(1000, 3));
  const std::string out = files.path("tool.atf").string();
  const std::string command = std::string(KESTREL_ATF) + " build " + out + " --section code:1:0x200000:" + code +
                              " --section HEAP:3:0x300000:+4096 --key s3cret --min-firmware 0x030105" +
                              " --command 0x11223344 --main 7 --description 'bench unit' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::array<std::uint8_t, CVX_ATF_INFO_SIZE> info;
  info.fill(0xEE);
  ASSERT_EQ(CVX_ATFGetInfo(out.c_str(), info.data()), CVX_OK);
  img::Bytes expected{0x00, 0x00, 0x02, 0x01, 0x05, 0x01, 0x03, 0x00, 'b', 'e', 'n', 'c', 'h', ' ', 'u', 'n', 'i', 't'};
  expected.resize(84, 0);
  for (std::uint32_t v : {0x11223344u, 2u, 7u})
    for (int i = 0; i < 4; ++i) expected.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  EXPECT_EQ(img::Bytes(info.begin(), info.end()), expected);

  // The reader takes it whole with the same key text.
  std::ifstream in(out, std::ios::binary);
  const img::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  img::Image image;
  ASSERT_EQ(read(file, {"s3cret", {}}, &image), CVX_OK);
  EXPECT_EQ(image.decoded, pattern(1000, 3));

  // Errors: a file that is not there, one that is too short, bad arguments.
  info.fill(0xEE);
  EXPECT_EQ(CVX_ATFGetInfo(files.path("none.atf").c_str(), info.data()), CVX_FILE_OPEN_ERROR);
  EXPECT_EQ(info[0], 0) << "the record is zeroed first";
  EXPECT_EQ(CVX_ATFGetInfo(files.write("short.atf", img::Bytes(file.begin(), file.begin() + 113)).c_str(),
                           info.data()),
            CVX_NO_MEMORY);
  EXPECT_EQ(CVX_ATFGetInfo(nullptr, info.data()), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(CVX_ATFGetInfo(out.c_str(), nullptr), CVX_INVALID_ARGUMENT);
  const std::string tool = std::string(KESTREL_ATF) + " ";
  EXPECT_EQ(WEXITSTATUS(std::system((tool + "build x.atf --section code:1:0x20 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((tool + "build x.atf --section code:1:0x20:" + code + " --key a --builtin " +
                                     "2>/dev/null")
                                        .c_str())),
            2);
  EXPECT_EQ(WEXITSTATUS(std::system((tool + "info " + code + " 2>/dev/null").c_str())), 1);
}

namespace {

constexpr std::uint32_t kCode = 0x200000, kData2 = 0x280000, kMain = 0x290000, kStack = 0x2A0000, kHeap = 0x300000;

// A section over two blocks, a small one, "main" and "STACK" with bytes the
// download must not send, a HEAP to clear, and the two words.
img::ImageSpec download_spec(std::uint16_t cipher) {
  img::ImageSpec spec;
  spec.sections = {{"code", 1, kCode, pattern(70000, 5), 0},
                   {"data", 2, kData2, pattern(10, 6), 0},
                   {"main", 0, kMain, pattern(16, 7), 0},
                   {"STACK", 0, kStack, pattern(32, 9), 0},
                   {"HEAP", 3, kHeap, {}, 4096}};
  spec.command = 0x11223344;
  spec.main = 0x00200010;
  spec.cipher = cipher;
  if (cipher == img::kKeyText) spec.key_text = "bench key";
  if (cipher == img::kBuiltinKey) spec.builtin = corvex::load_settings().cipher_key;
  return spec;
}

Bytes block_head(std::uint32_t address, std::uint32_t length) {
  return {0x06, std::uint8_t(address >> 24), std::uint8_t(address >> 16), std::uint8_t(address >> 8),
          std::uint8_t(address), std::uint8_t(length >> 8), std::uint8_t(length), 0x01, 0x00};
}

// What the board must hold and must have been sent after a download of download_spec.
void expect_downloaded(const std::function<std::uint8_t(std::uint32_t)>& peek, const std::vector<Bytes>& sent) {
  const img::Bytes code = pattern(70000, 5), data = pattern(10, 6);
  for (std::uint32_t i = 0; i < code.size(); ++i)
    if (peek(kCode + i) != code[i]) {
      ADD_FAILURE() << "code byte " << i;
      return;
    }
  for (std::uint32_t i = 0; i < data.size(); ++i) EXPECT_EQ(peek(kData2 + i), data[i]) << i;
  EXPECT_EQ(peek(kData2 + 10), 0x5A) << "nothing past the section";
  EXPECT_EQ(peek(kMain), 0x5A) << "main is not written";
  EXPECT_EQ(peek(kStack), 0x5A) << "STACK is not written";
  for (std::uint32_t i : {0u, 1u, 4095u}) EXPECT_EQ(peek(kHeap + i), 0) << "HEAP cleared at " << i;
  EXPECT_EQ(peek(kHeap + 4096), 0x5A);
  const std::uint8_t words[] = {0x11, 0x22, 0x33, 0x44, 0x00, 0x20, 0x00, 0x10};
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(peek(0xFFE7EA + i), words[i]) << i;

  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent[0], (Bytes{0x01}));
  EXPECT_EQ(sent[1], (Bytes{0x3A}));
  const std::pair<std::uint32_t, std::uint32_t> blocks[] = {
      {kCode, 65536}, {kCode + 65536, 70000 - 65536}, {kData2, 10}, {kHeap, 4096}};
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_GE(sent[2 + i].size(), 9u);
    EXPECT_EQ(Bytes(sent[2 + i].begin(), sent[2 + i].begin() + 9), block_head(blocks[i].first, blocks[i].second)) << i;
    EXPECT_EQ(sent[2 + i].size(), 9 + blocks[i].second) << i;
  }
  EXPECT_EQ(sent[6], (Bytes{0x06, 0x00, 0xFF, 0xE7, 0xEA, 0x00, 0x04, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(sent[7], (Bytes{0x06, 0x00, 0xFF, 0xE7, 0xEE, 0x00, 0x04, 0x01, 0x00, 0x00, 0x20, 0x00, 0x10}));
}

// Marks the places the download must or must not touch.
template <typename Board>
void mark(Board& b) {
  for (std::uint32_t a : {kData2 + 10, kMain, kStack, kHeap, kHeap + 1, kHeap + 4095, kHeap + 4096}) b.poke(a, 0x5A);
}

}  // namespace

class UserProgram : public OneOpenBoard {
 protected:
  ImageFiles files;
};

TEST_F(UserProgram, DownloadsPlainAndEncipheredImages) {
  ASSERT_TRUE(corvex::load_settings().cipher_key) << "the working folder's Corvex.ini holds a CipherKey";
  for (std::uint16_t cipher : {img::kPlain, img::kKeyText, img::kBuiltinKey}) {
    SCOPED_TRACE(cipher);
    sim::Board& b = board(0);
    mark(b);
    forget_sent();
    const std::string file = files.write("download.atf", img::build_image(download_spec(cipher)));
    ASSERT_EQ(CVX_ATFDownload(h, file.c_str(), cipher == img::kKeyText ? "bench key" : nullptr), CVX_OK);
    expect_downloaded([&](std::uint32_t a) { return b.peek(a); }, sent(0));
  }
}

TEST_F(UserProgram, SectionsStopAtTheEndOfTheDataAndZeroWordsAreNotStored) {
  img::ImageSpec spec;
  spec.sections = {{"code", 1, kCode, pattern(100, 8), 0}, {"HEAP", 3, kHeap, {}, 70000}};
  img::Bytes bytes = img::build_image(spec);
  set(bytes, kTable + img::kNameSize, 5000, 4);  // "code" claims more than there is
  const std::string file = files.write("cut.atf", bytes);
  ASSERT_EQ(CVX_ATFDownload(h, file.c_str(), nullptr), CVX_OK);
  const auto s = sent(0);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(Bytes(s[2].begin(), s[2].begin() + 9), block_head(kCode, 100));
  EXPECT_EQ(s[2].size(), 109u);
  EXPECT_EQ(Bytes(s[3].begin(), s[3].begin() + 9), block_head(kHeap, 0)) << "a HEAP is cleared up to 65536 bytes";
  EXPECT_EQ(s[3].size(), 9u + 65536);
}

TEST_F(UserProgram, RefusalsSendNoSection) {
  const std::string plain = files.write("plain.atf", img::build_image(download_spec(img::kPlain)));
  const std::string keyed = files.write("keyed.atf", img::build_image(download_spec(img::kKeyText)));
  EXPECT_EQ(CVX_ATFDownload(h, nullptr, nullptr), CVX_INVALID_ARGUMENT);
  EXPECT_TRUE(sent(0).empty());
  EXPECT_EQ(CVX_ATFDownload(h, files.path("none.atf").c_str(), nullptr), CVX_FILE_OPEN_ERROR);
  EXPECT_EQ(CVX_ATFDownload(h, keyed.c_str(), nullptr), CVX_IMAGE_NO_KEY);
  EXPECT_EQ(CVX_ATFDownload(h, keyed.c_str(), "wrong key"), CVX_IMAGE_CHECKSUM);
  img::ImageSpec newer = download_spec(img::kPlain);
  newer.firmware = 0x030202;  // the board is 0x030201
  EXPECT_EQ(CVX_ATFDownload(h, files.write("newer.atf", img::build_image(newer)).c_str(), nullptr),
            CVX_IMAGE_FIRMWARE);
  for (const Bytes& c : sent(0)) EXPECT_TRUE(c == Bytes{0x01} || c == Bytes{0x3A}) << int(c[0]);
  EXPECT_EQ(CVX_ATFDownload(0, plain.c_str(), nullptr), CVX_INVALID_HANDLE);

  configure("[board]\nserial = A1234567\nversion_word = 0x00030000\n");
  h = open("A1234567");
  forget_sent();
  EXPECT_EQ(CVX_ATFDownload(h, plain.c_str(), nullptr), CVX_NOT_SUPPORTED);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x01}, {0x3A}}));
}

TEST_F(UserProgram, UserCommandsAndWords) {
  const std::uint8_t xyz[] = {'x', 'y', 'z'};
  const Bytes head{0x3B, 0x23, 0x45, 0xA1, 0xB2, 0xC3, 0xD4, 0x01, 0x02, 0x03, 0x04};
  const auto with = [&](Bytes data) {
    Bytes b = head;
    b.insert(b.end(), data.begin(), data.end());
    return b;
  };
  EXPECT_EQ(CVX_ATFUserCommand(h, 0x12345, 0xA1B2C3D4, 0x01020304, xyz, 3), CVX_OK);
  EXPECT_EQ(CVX_ATFUserCommand(h, 0x12345, 0xA1B2C3D4, 0x01020304, nullptr, 0), CVX_OK);
  EXPECT_EQ(CVX_ATFUserCommand(h, 0x12345, 0xA1B2C3D4, 0x01020304, xyz, 0), CVX_OK);
  EXPECT_EQ(CVX_ATFUserCommand(h, 0x12345, 0xA1B2C3D4, 0x01020304, nullptr, 3), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{with({'x', 'y', 'z'}), head, head}));

  forget_sent();
  char text[] = "hello";
  BSTR bstr = text;
  std::uint8_t storage[4] = {9, 8, 7, 6};
  SAFEARRAY array{};
  array.cDims = 1;
  array.cbElements = 1;
  array.pvData = storage;
  array.rgsabound[0].cElements = 4;
  SAFEARRAY* array_ref = &array;
  std::int32_t by_ref_value = 0x0A0B0C0D;
  VARIANT v{};
  const auto call = [&](VARTYPE vt, std::uint32_t length) {
    v.vt = vt;
    return CVX_ATFUserCommand2(h, 0x12345, 0xA1B2C3D4, 0x01020304, &v, length);
  };
  v.bstrVal = text;
  EXPECT_EQ(call(VT_BSTR, 5), CVX_OK);
  EXPECT_EQ(call(VT_BSTR, 6), CVX_INVALID_ARGUMENT) << "past the string";
  v.pbstrVal = &bstr;
  EXPECT_EQ(call(VT_BSTR | VT_BYREF, 2), CVX_OK);
  v.parray = &array;
  EXPECT_EQ(call(VT_ARRAY | VT_UI1, 4), CVX_OK);
  EXPECT_EQ(call(VT_ARRAY | VT_UI1, 5), CVX_INVALID_ARGUMENT);
  v.pparray = &array_ref;
  EXPECT_EQ(call(VT_ARRAY | VT_UI1 | VT_BYREF, 3), CVX_OK);
  v.llVal = 0;
  v.lVal = 0x11223344;
  EXPECT_EQ(call(VT_I4, 4), CVX_OK);
  EXPECT_EQ(call(VT_I4, 5), CVX_INVALID_ARGUMENT);
  v.iVal = 0x5566;
  EXPECT_EQ(call(VT_I2, 2), CVX_OK);
  v.byref = &by_ref_value;
  EXPECT_EQ(call(VT_I4 | VT_BYREF, 4), CVX_OK);
  EXPECT_EQ(call(VT_EMPTY, 9), CVX_OK);
  EXPECT_EQ(call(VT_NULL, 9), CVX_OK);
  EXPECT_EQ(call(VT_ERROR, 9), CVX_OK);
  EXPECT_EQ(call(VT_VARIANT | VT_BYREF, 1), CVX_INVALID_ARGUMENT) << "no size known";
  EXPECT_EQ(CVX_ATFUserCommand2(h, 0, 0, 0, nullptr, 0), CVX_INVALID_ARGUMENT);
  EXPECT_EQ(array.cLocks, 0u) << "every lock released";
  const std::uint8_t i4[4] = {0x44, 0x33, 0x22, 0x11};  // the value's bytes as the host holds them
  const std::uint8_t i2[2] = {0x66, 0x55};
  const std::uint8_t ref[4] = {0x0D, 0x0C, 0x0B, 0x0A};
  EXPECT_EQ(sent(0), (std::vector<Bytes>{with({'h', 'e', 'l', 'l', 'o'}), with({'h', 'e'}), with({9, 8, 7, 6}),
                                         with({9, 8, 7}), with(Bytes(i4, i4 + 4)), with(Bytes(i2, i2 + 2)),
                                         with(Bytes(ref, ref + 4)), head, head, head}));

  forget_sent();
  EXPECT_EQ(CVX_ATFSetCommand(h, 0xCAFEF00D), CVX_OK);
  EXPECT_EQ(CVX_ATFSetMain(h, 0x01020304), CVX_OK);
  EXPECT_EQ(sent(0), (std::vector<Bytes>{{0x06, 0x00, 0xFF, 0xE7, 0xEA, 0x00, 0x04, 0x01, 0x00, 0xCA, 0xFE, 0xF0, 0x0D},
                                         {0x06, 0x00, 0xFF, 0xE7, 0xEE, 0x00, 0x04, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04}}));
  EXPECT_EQ(CVX_ATFCall(h, 0x200000), CVX_NOT_SUPPORTED);
  EXPECT_EQ(CVX_ATFSetEntry(h, 0x200000), CVX_NOT_SUPPORTED);
  EXPECT_EQ(CVX_ATFReadServiceVersion(h, 0), CVX_NOT_SUPPORTED);
  EXPECT_EQ(sent(0).size(), 2u);
}

TEST(UserProgramLan, DownloadsPlainAndEncipheredImagesToABoardOnLoopback) {
  sim::LanServer server({sim::LanBoardConfig{}});
  server.start();
  CVX_SetNetworkPort(server.tcp_port(0));
  ImageFiles files;
  for (const std::uint16_t cipher : {img::kPlain, img::kKeyText}) {
    SCOPED_TRACE(cipher);
    server.with_board(0, [](sim::Board& b) {
      mark(b);
      return 0;
    });
    const std::string file = files.write("lan.atf", img::build_image(download_spec(cipher)));
    CVX_HANDLE h = 0;
    ASSERT_EQ(CVX_OpenA(&h, "127.0.0.1", CVX_IF_LAN), CVX_OK);
    server.with_board(0, [](sim::Board& b) {
      b.clear_executed();
      return 0;
    });
    const CVX_STATUS s = CVX_ATFDownload(h, file.c_str(), cipher == img::kKeyText ? "bench key" : nullptr);
    // A command with a reply: the board has run everything sent before it.
    std::uint32_t version = 0;
    const CVX_STATUS after = CVX_ReadVersion(h, &version);
    CVX_Close(h);
    ASSERT_EQ(s, CVX_OK);
    ASSERT_EQ(after, CVX_OK);
    server.with_board(0, [](sim::Board& b) {
      std::vector<Bytes> sent;
      for (const auto& e : b.executed()) sent.push_back(e.bytes);
      EXPECT_EQ(sent.back(), (Bytes{0x01}));
      sent.pop_back();
      expect_downloaded([&](std::uint32_t a) { return b.peek(a); }, sent);
      return 0;
    });
  }
  CVX_SetNetworkPort(0);
}
