// vorpex_gen: writes a deterministic, realistic BASIC source of a requested size.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/source_generator.h"

namespace {

constexpr std::string_view kUsage =
    "usage: vorpex_gen [-s SIZE] [-m realistic|comments|strings|handwritten] [-d DEFINES] "
    "[-u USED] "
    "[-r SEED] [-o FILE]\n"
    "  -s SIZE     bytes of the body, at least (suffix K, M or G for KiB, MiB, GiB); default 1M\n"
    "  -m MIX      realistic (default), comments (comment-heavy), strings (string-heavy) or\n"
    "              handwritten (TAB indentation, comments after statements, joins, long lines)\n"
    "  -d DEFINES  DEFINE lines at the top, 0 to 1000; the body is the same for every count\n"
    "  -u USED     the body uses only the first USED constant names, 1 to 1000 (default 1000)\n"
    "  -r SEED     the PRNG seed, a decimal number; the default gives the reference sources\n"
    "  -o FILE     the file to write; standard output when missing or -\n";

int usage_error(std::string_view message, std::string_view value) {
  std::fprintf(stderr, "vorpex_gen: %.*s%.*s\n%.*s", static_cast<int>(message.size()),
               message.data(), static_cast<int>(value.size()), value.data(),
               static_cast<int>(kUsage.size()), kUsage.data());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vorpex::bench::SourceOptions options;
  std::string output_path = "-";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      return 0;
    }
    if (arg.size() != 2 || arg[0] != '-' || std::string_view("smduro").find(arg[1]) == arg.npos) {
      return usage_error("unknown option: ", arg);
    }
    if (i + 1 >= argc) return usage_error("missing value for ", arg);
    const std::string_view value = argv[++i];
    switch (arg[1]) {
      case 's': {
        const auto size = vorpex::bench::parse_size(value);
        if (!size) return usage_error("bad size: ", value);
        options.body_size = *size;
        break;
      }
      case 'm': {
        const auto mix = vorpex::bench::parse_mix(value);
        if (!mix) return usage_error("unknown mix: ", value);
        options.mix = *mix;
        break;
      }
      case 'd': {
        const auto count = vorpex::bench::parse_size(value);
        if (!count || *count > vorpex::bench::kMaxDefines) {
          return usage_error("DEFINES must be 0 to 1000: ", value);
        }
        options.defines = static_cast<std::size_t>(*count);
        break;
      }
      case 'u': {
        const auto count = vorpex::bench::parse_size(value);
        if (!count || *count == 0 || *count > vorpex::bench::kMaxDefines) {
          return usage_error("USED must be 1 to 1000: ", value);
        }
        options.used = static_cast<std::size_t>(*count);
        break;
      }
      case 'r': {
        const auto seed = vorpex::bench::parse_size(value);
        if (!seed || value.back() < '0' || value.back() > '9') {
          return usage_error("bad seed: ", value);
        }
        options.seed = *seed;
        break;
      }
      default:
        output_path = value;
        break;
    }
  }

  std::FILE* out = stdout;
  if (output_path != "-") {
    out = std::fopen(output_path.c_str(), "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "vorpex_gen: cannot open %s: %s\n", output_path.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  vorpex::bench::SourceGenerator generator(options);
  std::string chunk;
  constexpr std::size_t kChunk = 1 << 20;
  chunk.reserve(kChunk + 1024);
  bool more = true;
  bool ok = true;
  while (more && ok) {
    chunk.clear();
    while (chunk.size() < kChunk && (more = generator.next_line(chunk))) {
    }
    ok = std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
  }
  if (std::fflush(out) != 0) ok = false;
  if (out != stdout && std::fclose(out) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "vorpex_gen: cannot write %s: %s\n", output_path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
