// kestrel-atf: makes user program images and shows what their header says.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "atf_image.h"
#include "settings.h"

namespace img = corvex::image;

namespace {

constexpr const char* kUsage =
    "usage: kestrel-atf build OUT --section NAME:TYPE:LOADADDR:FILE [--section ...]\n"
    "                         [--key TEXT | --builtin] [--min-firmware 0xNNNNNN]\n"
    "                         [--command V] [--main V] [--description TEXT]\n"
    "       kestrel-atf info FILE\n"
    "       kestrel-atf --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "build  writes a user program image to OUT. Each --section names a section\n"
    "       (1 to 31 bytes), its type, its load address on the board and the file\n"
    "       holding its bytes; FILE may instead be +SIZE for a section that has a\n"
    "       size but no bytes in the image (a HEAP of type 3 is cleared by the\n"
    "       download, main and STACK are never copied). Sections are laid out in\n"
    "       the order given. Without a key the image is plain; --key TEXT\n"
    "       enciphers it with the key text (cipher mode 2, the text is then given\n"
    "       to CVX_ATFDownload); --builtin enciphers it with [UserProgram]\n"
    "       CipherKey of Corvex.ini (cipher mode 1), looked for as the library\n"
    "       looks for it. --min-firmware is the lowest board firmware word that\n"
    "       runs the image (default 0x030001); --command and --main are stored on\n"
    "       the board after the download when not 0 (default 0); --description\n"
    "       fills the 64 descriptive bytes. Numbers are decimal or 0x hexadecimal.\n"
    "info   prints the image's information record, field by field, and its\n"
    "       section table when the file holds it.\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read, written or understood,\n"
    "2 wrong arguments.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::uint32_t number(const std::string& text, const char* what, std::uint32_t max = 0xFFFFFFFFu) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
    throw UsageError(std::string(what) + " is not a number: '" + text + "'");
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || errno == ERANGE) throw UsageError(std::string(what) + " is not a number: '" + text + "'");
  if (v > max) throw UsageError(std::string(what) + " is out of range: '" + text + "'");
  return static_cast<std::uint32_t>(v);
}

img::Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open '" + path + "'");
  img::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read '" + path + "'");
  return bytes;
}

img::SectionSource parse_section(const std::string& arg) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t colon = arg.find(':', from);
    if (colon == std::string::npos) throw UsageError("--section wants NAME:TYPE:LOADADDR:FILE, not '" + arg + "'");
    parts.push_back(arg.substr(from, colon - from));
    from = colon + 1;
  }
  parts.push_back(arg.substr(from));
  img::SectionSource s;
  s.name = parts[0];
  if (s.name.empty() || s.name.size() >= img::kNameSize)
    throw UsageError("section name must be 1 to 31 bytes: '" + s.name + "'");
  s.type = static_cast<std::uint16_t>(number(parts[1], "section type", 0xFFFF));
  s.load = number(parts[2], "load address");
  if (parts[3].empty()) throw UsageError("section '" + s.name + "' names no file");
  if (parts[3][0] == '+') {
    s.size = number(parts[3].substr(1), "section size");
  } else {
    s.bytes = read_file(parts[3]);
    if (s.bytes.empty()) throw std::runtime_error("'" + parts[3] + "' is empty");
  }
  return s;
}

int build(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("build needs an output file");
  const std::string out = args[0];
  img::ImageSpec spec;
  std::optional<std::string> key;
  bool builtin = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--section") spec.sections.push_back(parse_section(value()));
    else if (a == "--key") key = value();
    else if (a == "--builtin") builtin = true;
    else if (a == "--min-firmware") spec.firmware = number(value(), "--min-firmware");
    else if (a == "--command") spec.command = number(value(), "--command");
    else if (a == "--main") spec.main = number(value(), "--main");
    else if (a == "--description") spec.description = value();
    else throw UsageError("unknown argument '" + a + "'");
  }
  if (spec.sections.empty()) throw UsageError("build needs at least one --section");
  if (key && builtin) throw UsageError("--key and --builtin exclude each other");
  if (key && key->empty()) throw UsageError("--key needs a non-empty text");
  if (spec.description.size() > img::kDescriptionSize) throw UsageError("--description is longer than 64 bytes");
  if (key) {
    spec.cipher = img::kKeyText;
    spec.key_text = *key;
  } else if (builtin) {
    spec.builtin = corvex::load_settings().cipher_key;
    if (!spec.builtin)
      throw std::runtime_error("--builtin needs [UserProgram] CipherKey (32 hexadecimal digits) in Corvex.ini");
    spec.cipher = img::kBuiltinKey;
  }
  const img::Bytes image = img::build_image(spec);
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write '" + out + "'");
  std::printf("%s: %zu section%s, %zu bytes, cipher mode %u\n", out.c_str(), spec.sections.size(),
              spec.sections.size() == 1 ? "" : "s", image.size(), unsigned{spec.cipher});
  return 0;
}

std::uint32_t record_word(const img::InfoRecord& r, std::size_t at) {
  return std::uint32_t{r[at]} | std::uint32_t{r[at + 1]} << 8 | std::uint32_t{r[at + 2]} << 16 |
         std::uint32_t{r[at + 3]} << 24;
}

std::string quoted(const std::uint8_t* bytes, std::size_t n) {
  while (n > 0 && bytes[n - 1] == 0) --n;
  std::string out = "\"";
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = bytes[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

int info(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("info needs exactly one file");
  const img::Bytes file = read_file(args[0]);
  img::Header h;
  switch (img::read_header(file, h)) {
    case CVX_OK: break;
    case CVX_IMAGE_SIZE: throw std::runtime_error("'" + args[0] + "': format word out of range");
    default: throw std::runtime_error("'" + args[0] + "' is not a user program image");
  }
  const img::InfoRecord r = img::info_record(h);
  static const char* const kCiphers[] = {"plain", "built-in key", "key text"};
  const std::uint32_t cipher = record_word(r, 88);
  std::printf("format word:        0x%08X\n", record_word(r, 0));
  std::printf("required firmware:  0x%06X\n", record_word(r, 4));
  std::printf("description:        %s\n", quoted(r.data() + 8, 64).c_str());
  std::printf("value at 78:        0x%08X\n", record_word(r, 72));
  std::printf("value at 84:        0x%08X\n", record_word(r, 76));
  std::printf("value at 88:        0x%08X\n", record_word(r, 80));
  std::printf("command value:      0x%08X\n", record_word(r, 84));
  std::printf("cipher mode:        %u (%s)\n", cipher, cipher < 3 ? kCiphers[cipher] : "unknown");
  std::printf("main value:         0x%08X\n", record_word(r, 92));
  std::printf("decoded length:     %u\n", h.decoded_length);
  std::printf("stored length:      %u\n", h.stored_length);
  std::printf("sections:           %u\n", unsigned{h.section_count});
  if (img::stored_data_offset(h) > file.size()) {
    std::printf("  (the section table runs past the end of the file)\n");
    return 0;
  }
  for (std::size_t i = 0; i < h.section_count; ++i) {
    const std::uint8_t* e = file.data() + h.table_offset + i * img::kSectionEntry;
    const auto word = [&](std::size_t at) {
      return std::uint32_t{e[at]} | std::uint32_t{e[at + 1]} << 8 | std::uint32_t{e[at + 2]} << 16 |
             std::uint32_t{e[at + 3]} << 24;
    };
    std::printf("  %-20s type %u  load 0x%08X  size %u  offset %u\n", quoted(e, img::kNameSize).c_str(),
                unsigned{e[44]} | unsigned{e[45]} << 8, word(36), word(32), word(40));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw UsageError("no command");
    if (args[0] == "--help" || args[0] == "-h") {
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    }
    if (args[0] == "--version") {
      std::printf("kestrel-atf %s\n", KESTREL_VERSION);
      return 0;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "build") return build(rest);
    if (args[0] == "info") return info(rest);
    throw UsageError("unknown command '" + args[0] + "'");
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kestrel-atf: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrel-atf: %s\n", e.what());
    return 1;
  }
}
